// Settings file elsewhere than on Windows: our own private-profile semantics.
// A save updates the file that is there, as the Windows functions do: the same
// inode keeps its owner, mode and hard links, and a symbolic link stays one.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "codepage/cp1251.h"
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

// Closes the descriptor however the save ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opened without waiting, so a FIFO or a terminal in the file's place cannot
// block; such a file is then refused by unusable().
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Why the file cannot be the settings file, or nothing when it can.
std::optional<std::string> unusable(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return std::string(std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
  if (st.st_size > kLargestReadable) {
    return std::string(std::strerror(EFBIG)) + " (more than 64 MiB)";
  }
  return std::nullopt;
}

// The file's whole text from its start; nothing, with errno set, on a read error.
std::optional<std::string> read_all(int fd, off_t size) {
  std::string text(static_cast<std::size_t>(size), '\0');
  std::size_t filled = 0;
  while (filled < text.size()) {
    const ssize_t got =
        ::pread(fd, text.data() + filled, text.size() - filled, static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;  // a partial text would lose the rest of the file on save
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  text.resize(filled);
  return text;
}

std::optional<std::string> read_whole_file(const std::string& path) {
  const Descriptor fd(::open(path.c_str(), O_RDONLY | kOpenFlags));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || unusable(st)) return std::nullopt;
  return read_all(fd.get(), st.st_size);
}

[[noreturn]] void fail(const std::string& path, std::string_view reason) {
  std::string message(cp1251("Не удалось сохранить настройки в файл ").view());
  message += path;
  message += ": ";
  message += reason;
  throw std::runtime_error(message);
}

[[noreturn]] void fail(const std::string& path, int error) {
  fail(path, std::strerror(error));
}

void make_parent_directories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);  // an existing directory is fine
  }
}

bool write_all_at(int fd, std::string_view bytes) {
  off_t offset = 0;
  while (!bytes.empty()) {
    const ssize_t put = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    if (put == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
    offset += put;
  }
  return true;
}

// The file's contents become text, on the same inode.
bool rewrite(int fd, std::string_view text) {
  return write_all_at(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
         ::fsync(fd) == 0;
}

// Writes text to a new file beside path and syncs it, so that a full disk
// shows before the settings file is touched and a rewrite cut off half-way
// leaves a whole copy. Returns the copy's name, or "" when the directory
// takes no new file; raises when the copy cannot be written.
std::string write_copy_beside(const std::string& path, std::string_view text) {
  std::string copy = path + ".XXXXXX";
  const int fd = ::mkstemp(copy.data());
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM || errno == EROFS) return "";
    fail(path, errno);
  }
  const bool written = write_all_at(fd, text) && ::fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) != 0 || !written) {
    ::unlink(copy.c_str());
    fail(path, written ? errno : error);
  }
  return copy;
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
  // Through a symbolic link, as the private-profile functions write.
  int opened = ::open(path.c_str(), O_RDWR | kOpenFlags);
  if (opened < 0 && errno == ENOENT) {
    make_parent_directories(path);
    opened = ::open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0644);
  }
  if (opened < 0) fail(path, errno);
  const Descriptor fd(opened);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) fail(path, errno);
  if (const auto reason = unusable(st)) fail(path, *reason);
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  const auto old_text = read_all(fd.get(), st.st_size);
  if (!old_text) fail(path, errno);
  const std::string new_text = ini_with_entries(*old_text, section, entries);

  const std::string copy = write_copy_beside(path, new_text);
  if (!rewrite(fd.get(), new_text)) {
    const int error = errno;
    // The old text was read whole: put it back. Should that fail too, the
    // copy stays, holding every byte of the file but the new values.
    if (rewrite(fd.get(), *old_text) || copy.empty()) {
      if (!copy.empty()) ::unlink(copy.c_str());
      fail(path, error);
    }
    fail(path, std::string(std::strerror(error)) + "; the new text is in " + copy);
  }
  if (!copy.empty()) ::unlink(copy.c_str());
}

}  // namespace zarvo::platform
