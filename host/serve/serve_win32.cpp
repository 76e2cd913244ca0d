#include <stdexcept>

#include "host/serve/serve.h"

namespace zarvo::host {

// Debian builds its HTTP library for Linux only (a shared library and a
// header of declarations); no MinGW build of it exists to link.
int serve(const SessionOptions&, Output&, const ServeOptions&) {
  throw std::runtime_error(
      "zarvo serve is not in the Windows build: its HTTP library is built for "
      "Linux only; run zarvo serve on Linux");
}

}  // namespace zarvo::host
