#include "driver/log_settings.h"

#include <algorithm>
#include <string_view>

#include "driver/settings_file.h"
#include "platform/ini_file.h"

namespace zarvo {
namespace {

constexpr std::string_view kLogSection = "ZarvoLog";
constexpr std::string_view kPathKey = "Path";
constexpr std::string_view kSizeKey = "MaxSizeKB";
constexpr std::string_view kKeepKey = "Keep";

constexpr long long kLeastKiB = 16;
constexpr long long kMostKiB = 1024LL * 1024;
constexpr long long kMostFilesKept = 99;

long long number_in(const std::string& file, std::string_view key, long long fallback,
                    long long least, long long most) {
  const auto text = platform::ReadIniString(file, kLogSection, key);
  const auto value = text ? platform::ParseIniInteger(*text) : std::nullopt;
  return value ? std::clamp(*value, least, most) : fallback;
}

}  // namespace

std::optional<platform::LogSettings> LogSettingsFromFile() {
  const std::string file = platform::IniFilePath();
  const auto path = platform::ReadIniString(file, kLogSection, kPathKey);
  if (!path || platform::TrimIniBlanks(*path).empty()) return std::nullopt;
  platform::LogSettings settings;
  settings.path = platform::LogPathBeside(file, platform::TrimIniBlanks(*path));
  settings.max_bytes =
      static_cast<std::uint64_t>(number_in(file, kSizeKey, kDefaultLogKiB, kLeastKiB, kMostKiB)) *
      1024;
  settings.keep =
      static_cast<unsigned>(number_in(file, kKeepKey, kDefaultLogFilesKept, 0, kMostFilesKept));
  return settings;
}

void OpenDriverLog(platform::DriverLog& log) {
  // A settings file that cannot be read turns nothing on.
  std::optional<platform::LogSettings> settings;
  try {
    settings = LogSettingsFromFile();
  } catch (const std::exception&) {
    return;
  }
  if (settings) log.Open(*settings, &FormatLogLine);
}

}  // namespace zarvo
