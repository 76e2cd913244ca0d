#include "forms/terminal_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <array>
#include <cctype>
#include <cstdlib>

namespace zarvo::forms {
namespace {

// Bytes 0x80..0xBF; 0xC0..0xFF are the Cyrillic letters U+0410..U+044F in order.
constexpr std::array<char32_t, 64> kUpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

void append_utf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

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
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
  return kUpperHalf[byte - 0x80];
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
