#include "host/serve/token.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace zarvo::host {

namespace {

constexpr std::size_t kTokenBytes = 32;
constexpr std::size_t kShortestToken = 16;
constexpr std::size_t kLongestToken = 4096;

std::runtime_error token_error(const std::string& path, const std::string& why) {
  return std::runtime_error("token file " + path + ": " + why);
}

std::string new_token() {
  std::random_device source;  // the system's random source
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (std::size_t i = 0; i < kTokenBytes; ++i) {
    const auto byte = static_cast<unsigned>(source()) & 0xFFU;
    token += kHex[byte >> 4U];
    token += kHex[byte & 0xFU];
  }
  return token;
}

void create(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!parent.empty()) std::filesystem::create_directories(parent, error);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return;  // another process made it first: read theirs
    throw token_error(path, std::strerror(errno));
  }
  const std::string text = new_token() + "\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(path.c_str());
    throw token_error(path, "could not be written");
  }
}

}  // namespace

std::string default_token_path() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != 0) {
    return std::string(config) + "/zarvo/token";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.config/zarvo/token";
}

std::string load_or_create_token(const std::string& path, bool& created) {
  struct stat status {};
  created = ::stat(path.c_str(), &status) != 0 && errno == ENOENT;
  if (created) create(path);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw token_error(path, std::strerror(errno));
  std::array<char, kLongestToken + 1> buffer{};
  const bool checked = ::fstat(fd, &status) == 0;
  const ssize_t count = ::read(fd, buffer.data(), buffer.size());
  ::close(fd);
  if (!checked || count < 0) throw token_error(path, "cannot be read");
  if (!S_ISREG(status.st_mode)) throw token_error(path, "not a regular file");
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw token_error(path, "others may read it; make it the owner's alone (chmod 600)");
  }
  std::string token(buffer.data(), static_cast<std::size_t>(count));
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' ')) {
    token.pop_back();
  }
  if (static_cast<std::size_t>(count) > kLongestToken) throw token_error(path, "too long");
  if (token.size() < kShortestToken) {
    throw token_error(
        path, "holds no token of at least " + std::to_string(kShortestToken) + " characters");
  }
  for (const char c : token) {
    if (c <= ' ' || c > '~') throw token_error(path, "the token must be printable ASCII");
  }
  return token;
}

bool same_token(std::string_view given, std::string_view expected) {
  unsigned difference = given.size() == expected.size() ? 0U : 1U;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char other = i < given.size() ? given[i] : '\0';
    difference |= static_cast<unsigned>(static_cast<unsigned char>(other) ^
                                        static_cast<unsigned char>(expected[i]));
  }
  return difference == 0;
}

}  // namespace zarvo::host
