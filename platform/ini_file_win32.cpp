// Settings file on Windows: the Windows directory and the private-profile functions.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "codepage/cp1251.h"
#include "platform/ini_file.h"

namespace zarvo::platform {
namespace {
// Longer than any value the driver writes, so a cut value shows as too long.
constexpr DWORD kValueBuffer = 4096;
}  // namespace

std::string IniFilePath() {
  char buffer[255] = {};
  const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
  // A failed call, or a directory that does not fit, leaves the drive root.
  std::string dir = (length > 0 && length < sizeof buffer) ? std::string(buffer, length) : "";
  return dir + "\\cnf.INI";
}

std::optional<std::string> ReadIniString(const std::string& path, std::string_view section,
                                         std::string_view key) {
  const std::string section_z(section);
  const std::string key_z(key);
  // Two different defaults tell an absent key from one that holds the default.
  std::string value(kValueBuffer, '\0');
  DWORD got = GetPrivateProfileStringA(section_z.c_str(), key_z.c_str(), "\x01", value.data(),
                                       kValueBuffer, path.c_str());
  value.resize(got);
  if (value == "\x01") return std::nullopt;
  if (got + 1 >= kValueBuffer) return std::string("?");  // cut: never a valid number
  return value;
}

void WriteIniStrings(const std::string& path, std::string_view section,
                     std::span<const IniEntry> entries) {
  const std::string section_z(section);
  for (const IniEntry& entry : entries) {
    const std::string key_z(entry.first);
    if (!WritePrivateProfileStringA(section_z.c_str(), key_z.c_str(), entry.second.c_str(),
                                    path.c_str())) {
      std::string message(cp1251("Не удалось сохранить настройки в файл ").view());
      message += path;
      message += ": Windows error " + std::to_string(GetLastError());
      throw std::runtime_error(message);
    }
  }
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());  // flush the cache
}

}  // namespace zarvo::platform
