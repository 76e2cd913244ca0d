// Settings file elsewhere than on Windows: our own private-profile semantics,
// with a save that never leaves a half-written file behind.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/cp1251.h"
#include "platform/ini_file.h"
#include "platform/ini_text.h"

namespace zarvo::platform {
namespace {

constexpr std::string_view kFileName = "cnf.INI";
// A settings file is a few lines; anything far larger is not ours to load.
constexpr off_t kLargestReadable = 64L * 1024 * 1024;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string settings_directory() {
  if (std::string dir = env("ZARVO_WINDIR"); !dir.empty()) return dir;
  if (std::string dir = env("XDG_CONFIG_HOME"); !dir.empty()) return dir + "/zarvo";
  std::string home = env("HOME");
  if (home.empty()) {
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return home.empty() ? std::string() : home + "/.config/zarvo";
}

std::optional<std::string> read_whole_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kLargestReadable) {
    std::string buffer(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t filled = 0;
    while (filled < buffer.size()) {
      const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {  // a partial text would lose the rest of the file on save
        ::close(fd);
        return std::nullopt;
      }
      if (got == 0) break;
      filled += static_cast<std::size_t>(got);
    }
    buffer.resize(filled);
    text = std::move(buffer);
  }
  ::close(fd);
  return text;
}

[[noreturn]] void fail(const std::string& path, int error) {
  std::string message(cp1251("Не удалось сохранить настройки в файл ").view());
  message += path;
  message += ": ";
  message += std::strerror(error);
  throw std::runtime_error(message);
}

void make_parent_directories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);  // an existing directory is fine
  }
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace

std::string IniFilePath() {
  const std::string dir = settings_directory();
  return dir + "/" + std::string(kFileName);
}

std::optional<std::string> ReadIniString(const std::string& path, std::string_view section,
                                         std::string_view key) {
  const auto text = read_whole_file(path);
  if (!text) return std::nullopt;
  return ini_lookup(*text, section, key);
}

void WriteIniStrings(const std::string& path, std::string_view section,
                     std::span<const IniEntry> entries) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  std::string old_text;
  if (exists) {
    auto text = read_whole_file(path);
    if (!text) fail(path, errno != 0 ? errno : EIO);
    old_text = std::move(*text);
  } else {
    make_parent_directories(path);
  }
  const std::string new_text = ini_with_entries(old_text, section, entries);

  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) fail(path, errno);
  const mode_t mode = exists ? (st.st_mode & 07777) : 0644;
  const bool written = ::fchmod(fd, mode) == 0 && write_all(fd, new_text) && ::fsync(fd) == 0;
  const int write_error = errno;
  if (::close(fd) != 0 || !written) {
    ::unlink(temp.c_str());
    fail(path, written ? errno : write_error);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    fail(path, error);
  }
}

}  // namespace zarvo::platform
