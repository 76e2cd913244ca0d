#include "host/session/driver_library.h"

#include <cstdlib>
#include <filesystem>

#ifndef ZARVO_BUILT_LIBRARY
#define ZARVO_BUILT_LIBRARY ""
#endif

namespace zarvo::host {

std::string default_library_path() {
  if (const char* env = std::getenv("ZARVO_LIB"); env != nullptr && *env != '\0') return env;
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path exe = executable_path();
  if (!exe.empty()) {
    for (const fs::path& candidate :
         {exe.parent_path() / kDriverLibraryName,
          exe.parent_path().parent_path() / "library" / kDriverLibraryName}) {
      if (fs::exists(candidate, error)) return candidate.string();
    }
  }
  const std::string built = ZARVO_BUILT_LIBRARY;
  return built.empty() ? std::string(kDriverLibraryName) : built;
}

}  // namespace zarvo::host
