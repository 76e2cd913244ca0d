// The host's texts are UTF-8; a terminal may want another character set. The
// conversion lives in one file a system (text_posix.cpp: iconv).
#pragma once

#include <string>
#include <string_view>

namespace zarvo::host {

// The terminal's character set from the locale (ASCII in the C locale); UTF-8
// where the locale names none.
std::string terminal_charset();

// UTF-8 text in `charset`; a character the set lacks becomes '?'.
std::string to_charset(std::string_view utf8, const std::string& charset);

}  // namespace zarvo::host
