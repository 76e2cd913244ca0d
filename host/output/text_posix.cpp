#include "host/output/text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <vector>

namespace zarvo::host {

std::string terminal_charset() {
  std::string codeset = ::nl_langinfo(CODESET);
  // Plain ASCII (the C locale) shows the Cyrillic texts as '?'.
  return codeset.empty() ? "UTF-8" : codeset;
}

std::string to_charset(std::string_view utf8, const std::string& charset) {
  if (charset == "UTF-8" || charset == "utf-8") return std::string(utf8);
  iconv_t cd = ::iconv_open(charset.c_str(), "UTF-8");
  // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's documented failure value
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8);
  std::string out;
  std::vector<char> buffer(utf8.size() * 2 + 16);
  std::string input(utf8);
  char* in = input.data();
  std::size_t in_left = input.size();
  while (in_left > 0) {
    char* dst = buffer.data();
    std::size_t dst_left = buffer.size();
    const std::size_t done = ::iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer.data(), static_cast<std::size_t>(dst - buffer.data()));
    if (done == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Not representable (or not UTF-8): a placeholder for the whole character, go on.
      out += '?';
      do {
        ++in;
        --in_left;
      } while (in_left > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    }
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace zarvo::host
