// On Windows the tool's texts are UTF-8 throughout; the console shows them
// as UTF-16 (host/session/console_win32.cpp).
#include <windows.h>

#include "host/output/text.h"

namespace zarvo::host {

std::string terminal_charset() {
  return "UTF-8";
}

// Code page 1251 to UTF-8 whatever `charset` says: no other set is written here.
std::string from_cp1251(std::string_view bytes, const std::string& /*charset*/) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int wide_count = MultiByteToWideChar(1251, 0, bytes.data(), size, nullptr, 0);
  if (wide_count <= 0) return std::string(bytes);
  std::wstring wide(static_cast<std::size_t>(wide_count), L'\0');
  MultiByteToWideChar(1251, 0, bytes.data(), size, wide.data(), wide_count);
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_count, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(count > 0 ? count : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_count, out.data(), count, nullptr, nullptr);
  return out;
}

}  // namespace zarvo::host
