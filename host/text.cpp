#include "host/text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <vector>

namespace zarvo::host {

std::string terminal_charset() {
  std::string codeset = ::nl_langinfo(CODESET);
  // The C locale reports plain ASCII, which cannot show the driver's Cyrillic texts.
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII") return "UTF-8";
  return codeset;
}

std::string from_cp1251(std::string_view bytes, const std::string& charset) {
  iconv_t cd = ::iconv_open(charset.c_str(), "CP1251");
  // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's documented failure value
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(bytes);
  std::string out;
  std::vector<char> buffer(bytes.size() * 4 + 16);
  std::string input(bytes);
  char* in = input.data();
  std::size_t in_left = input.size();
  while (in_left > 0) {
    char* dst = buffer.data();
    std::size_t dst_left = buffer.size();
    const std::size_t done = ::iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer.data(), static_cast<std::size_t>(dst - buffer.data()));
    if (done == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Not representable in the terminal's set: show a placeholder, go on.
      out += '?';
      ++in;
      --in_left;
    }
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace zarvo::host
