#include "host/session/driver_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#ifndef ZARVO_BUILT_LIBRARY
#define ZARVO_BUILT_LIBRARY ""
#endif

namespace zarvo::host {

namespace {
constexpr const char* kLibraryName = "libZarvoDll.so";
}

DriverLibrary::DriverLibrary(const std::string& path) : path_(path) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = ::dlerror();
    throw std::runtime_error("cannot load the driver library " + path + ": " +
                             (reason != nullptr ? reason : "unknown reason"));
  }
  void* symbol = ::dlsym(handle_, "GetDA30");
  if (symbol == nullptr) {
    ::dlclose(handle_);
    throw std::runtime_error(path + " exports no GetDA30");
  }
  get_da30_ = reinterpret_cast<zarvo_get_da30_fn>(symbol);
}

DriverLibrary::~DriverLibrary() {
  ::dlclose(handle_);
}

std::string default_library_path() {
  if (const char* env = std::getenv("ZARVO_LIB"); env != nullptr && *env != '\0') return env;
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    for (const fs::path& candidate : {exe.parent_path() / kLibraryName,
                                      exe.parent_path().parent_path() / "library" / kLibraryName}) {
      if (fs::exists(candidate, error)) return candidate.string();
    }
  }
  const std::string built = ZARVO_BUILT_LIBRARY;
  return built.empty() ? std::string(kLibraryName) : built;
}

}  // namespace zarvo::host
