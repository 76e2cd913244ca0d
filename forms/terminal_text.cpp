#include "forms/terminal_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cctype>
#include <cstdlib>

#include "codepage/cp1251.h"

namespace zarvo::forms {
namespace {

// "UTF-8", "utf8" and "Utf-8" name one encoding.
std::string normalized(std::string_view codeset) {
  std::string name;
  for (const char c : codeset) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return name;
}

// The codeset in a locale name: "ru_RU.KOI8-R@x" gives "KOI8-R".
std::string codeset_of_locale_name(std::string_view name) {
  const auto dot = name.find('.');
  if (dot == std::string_view::npos) return {};
  name.remove_prefix(dot + 1);
  return std::string(name.substr(0, name.find('@')));
}

std::string environment_codeset() {
  if (const locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
    std::string codeset = ::nl_langinfo_l(CODESET, locale);
    ::freelocale(locale);
    return codeset;
  }
  // A locale that is not installed still names its codeset.
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return codeset_of_locale_name(value);
  }
  return {};
}

}  // namespace

char32_t UnicodeOfCp1251(unsigned char byte) {
  return unicode_of_cp1251(byte);
}

struct TerminalEncoder::Converter {
  explicit Converter(iconv_t handle) : cd(handle) {}
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() { ::iconv_close(cd); }
  iconv_t cd;
};

TerminalEncoder TerminalEncoder::ForEnvironment() {
  return TerminalEncoder(environment_codeset());
}

TerminalEncoder::TerminalEncoder(std::string_view codeset) {
  const std::string name = normalized(codeset);
  utf8_ = name == "UTF8";
  if (utf8_ || name.empty() || name == "ANSIX341968" || name == "ASCII") return;
  const std::string target = std::string(codeset) + "//TRANSLIT";
  const iconv_t cd = ::iconv_open(target.c_str(), "UTF-8");
  // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's documented failure value
  if (cd != reinterpret_cast<iconv_t>(-1)) converter_ = std::make_unique<Converter>(cd);
}

TerminalEncoder::TerminalEncoder(TerminalEncoder&&) noexcept = default;
TerminalEncoder& TerminalEncoder::operator=(TerminalEncoder&&) noexcept = default;
TerminalEncoder::~TerminalEncoder() = default;

void TerminalEncoder::Append(std::string& out, char32_t code_point) const {
  if (utf8_) {
    append_utf8(out, code_point);
    return;
  }
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
    return;
  }
  if (converter_) {
    std::string in;
    append_utf8(in, code_point);
    std::array<char, 16> buffer{};
    char* in_ptr = in.data();
    std::size_t in_left = in.size();
    char* out_ptr = buffer.data();
    std::size_t out_left = buffer.size();
    ::iconv(converter_->cd, nullptr, nullptr, nullptr, nullptr);  // fresh shift state
    const auto failed = static_cast<std::size_t>(-1);
    if (::iconv(converter_->cd, &in_ptr, &in_left, &out_ptr, &out_left) != failed && in_left == 0 &&
        ::iconv(converter_->cd, nullptr, nullptr, &out_ptr, &out_left) != failed) {
      out.append(buffer.data(), buffer.size() - out_left);
      return;
    }
  }
  out += '?';
}

}  // namespace zarvo::forms
