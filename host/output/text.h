// Texts from the driver are code page 1251; the terminal has its own encoding.
#pragma once

#include <string>
#include <string_view>

namespace zarvo::host {

// The terminal's character set from the locale; UTF-8 where the locale names none.
std::string terminal_charset();

// Converts code page 1251 bytes with iconv; a byte that cannot be shown becomes '?'.
std::string from_cp1251(std::string_view bytes, const std::string& charset);
inline std::string from_cp1251(std::string_view bytes) {
  return from_cp1251(bytes, terminal_charset());
}

}  // namespace zarvo::host
