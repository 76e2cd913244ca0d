#include <dlfcn.h>

#include <stdexcept>

#include "host/session/driver_library.h"

namespace zarvo::host {

const char* const kDriverLibraryName = "libZarvoDll.so";

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

std::filesystem::path executable_path() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : exe;
}

}  // namespace zarvo::host
