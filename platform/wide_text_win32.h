// Code page 1251 text as the system's wide (UTF-16) text, whatever the
// system's own code page: the driver's texts are 1251 bytes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zarvo::platform {

inline std::wstring wide(std::string_view cp1251) {
  if (cp1251.empty()) return {};
  const int size = static_cast<int>(cp1251.size());
  const int length = MultiByteToWideChar(1251, 0, cp1251.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(1251, 0, cp1251.data(), size, text.data(), length);
  return text;
}

}  // namespace zarvo::platform
