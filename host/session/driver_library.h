// The driver library, loaded at run time the way a station host loads it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "zarvo/da30.h"

namespace zarvo::host {

class DriverLibrary {
 public:
  // Throws std::runtime_error naming the path and the loader's reason.
  explicit DriverLibrary(const std::string& path);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  zarvo_get_da30_fn get_da30() const { return get_da30_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  zarvo_get_da30_fn get_da30_ = nullptr;
};

// Where the library is found without --lib: $ZARVO_LIB, beside the executable,
// the build tree's library/ next to the executable's folder, then the path the
// build put it at.
std::string default_library_path();

// The OS's part: driver_library_posix.cpp, driver_library_win32.cpp.
extern const char* const kDriverLibraryName;
// This program's file; empty when the system does not say.
std::filesystem::path executable_path();

}  // namespace zarvo::host
