// What the log's writer needs of the system: a file to append whole lines
// to, its rotation, and a hold on the library while the writer runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zarvo::platform {

class LogFile {
 public:
  LogFile() = default;
  ~LogFile() { Close(); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens for appending, creating the file; only a regular file will do (a
  // directory, a FIFO or a device is refused, and opening never blocks).
  bool Open(const std::string& path);
  bool is_open() const;
  void Close();
  // Writes all of text, or fails.
  bool Append(std::string_view text);
  std::uint64_t size() const { return size_; }
  // Whether the file is empty or its last byte ends a line.
  bool EndsLine() const { return ends_line_; }

 private:
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::uint64_t size_ = 0;
  bool ends_line_ = true;
};

// Moves from to to, replacing to; false when it cannot.
bool MoveFileOver(const std::string& from, const std::string& to);
void RemoveFile(const std::string& path);

// Whether path names a file from the root (or a drive) rather than from a folder.
bool IsAbsolutePath(std::string_view path);
inline constexpr char kPathSeparator =
#if defined(_WIN32)
    '\\';
#else
    '/';
#endif

// Keeps the library that holds this code loaded while it lives, so that a
// host that unloads the library with a logging object left alive does not
// pull the code from under the writer thread.
class ModuleHold {
 public:
  ModuleHold();
  ~ModuleHold();
  ModuleHold(const ModuleHold&) = delete;
  ModuleHold& operator=(const ModuleHold&) = delete;

 private:
  void* module_ = nullptr;
};

}  // namespace zarvo::platform
