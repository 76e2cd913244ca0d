// The log's file elsewhere than on Windows.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/log_file.h"

namespace zarvo::platform {

bool LogFile::Open(const std::string& path) {
  Close();
  // Without waiting, so that a FIFO in the file's place cannot block.
  const int fd =
      ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<std::uint64_t>(st.st_size);
  char last = '\n';
  ends_line_ = st.st_size == 0 || (::pread(fd, &last, 1, st.st_size - 1) == 1 && last == '\n');
  return true;
}

bool LogFile::is_open() const {
  return fd_ >= 0;
}

void LogFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool LogFile::Append(std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    size_ += static_cast<std::uint64_t>(n);
    ends_line_ = text[static_cast<std::size_t>(n) - 1] == '\n';
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void RemoveFile(const std::string& path) {
  ::unlink(path.c_str());
}

bool IsAbsolutePath(std::string_view path) {
  return path.starts_with('/');
}

ModuleHold::ModuleHold() {
  // The code's own file, opened once more: a reference the loader counts.
  // A program's own executable has none to take, and needs none.
  Dl_info info{};
  static const int kHere = 0;
  if (::dladdr(&kHere, &info) != 0 && info.dli_fname != nullptr) {
    module_ = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  }
}

ModuleHold::~ModuleHold() {
  if (module_ != nullptr) ::dlclose(module_);
}

}  // namespace zarvo::platform
