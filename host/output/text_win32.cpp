// On Windows the host's texts stay UTF-8 to the end: a console is written
// UTF-16 from them (host/session/console_win32.cpp), a file or pipe gets them
// as they are.
#include "host/output/text.h"

namespace zarvo::host {

std::string terminal_charset() {
  return "UTF-8";
}

std::string to_charset(std::string_view utf8, const std::string& /*charset*/) {
  return std::string(utf8);
}

}  // namespace zarvo::host
