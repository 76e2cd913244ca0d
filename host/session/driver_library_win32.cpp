#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "host/session/driver_library.h"

namespace zarvo::host {

const char* const kDriverLibraryName = "ZarvoDll.dll";

namespace {

std::string last_error_text() {
  const DWORD code = GetLastError();
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

// Paths come in the system's code page, as the command line does.
std::wstring wide_path(const std::string& path) {
  const int count =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(count, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), count);
  return wide;
}

}  // namespace

DriverLibrary::DriverLibrary(const std::string& path) : path_(path) {
  HMODULE module = LoadLibraryW(wide_path(path).c_str());
  if (module == nullptr) {
    throw std::runtime_error("cannot load the driver library " + path + ": " + last_error_text());
  }
  FARPROC symbol = GetProcAddress(module, "GetDA30");
  if (symbol == nullptr) {
    FreeLibrary(module);
    throw std::runtime_error(path + " exports no GetDA30");
  }
  handle_ = module;
  get_da30_ = reinterpret_cast<zarvo_get_da30_fn>(reinterpret_cast<void (*)()>(symbol));
}

DriverLibrary::~DriverLibrary() {
  FreeLibrary(static_cast<HMODULE>(handle_));
}

std::filesystem::path executable_path() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace zarvo::host
