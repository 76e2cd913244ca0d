// The log's file on Windows. Paths are the settings file's text, in the
// system's ANSI code page, as the profile functions read them.
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/log_file.h"

namespace zarvo::platform {

bool LogFile::Open(const std::string& path) {
  Close();
  // Others may read the log, and rename or delete it, while it is open.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    return false;
  }
  handle_ = file;
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  ends_line_ = true;
  if (size.QuadPart > 0) {
    char last = 0;
    DWORD read = 0;
    OVERLAPPED at{};
    const auto last_at = static_cast<std::uint64_t>(size.QuadPart - 1);
    at.Offset = static_cast<DWORD>(last_at & 0xFFFFFFFFU);
    at.OffsetHigh = static_cast<DWORD>(last_at >> 32);
    ends_line_ = ReadFile(file, &last, 1, &read, &at) && read == 1 && last == '\n';
  }
  return true;
}

bool LogFile::is_open() const {
  return handle_ != nullptr;
}

void LogFile::Close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

bool LogFile::Append(std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1U << 20));
    if (!WriteFile(static_cast<HANDLE>(handle_), text.data(), chunk, &written, nullptr) ||
        written == 0) {
      return false;
    }
    size_ += written;
    ends_line_ = text[written - 1] == '\n';
    text.remove_prefix(written);
  }
  return true;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void RemoveFile(const std::string& path) {
  DeleteFileA(path.c_str());
}

bool IsAbsolutePath(std::string_view path) {
  const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || path.starts_with("\\\\") || path.starts_with("//");
}

ModuleHold::ModuleHold() {
  // A reference the loader counts, taken by an address inside this module.
  HMODULE module = nullptr;
  static const int kHere = 0;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCSTR>(&kHere),  // NOLINT: an address, not a name
                         &module)) {
    module_ = module;
  }
}

ModuleHold::~ModuleHold() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}

}  // namespace zarvo::platform
