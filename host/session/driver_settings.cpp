#include "host/session/driver_settings.h"

#include <filesystem>
#include <optional>

#include "platform/ini_file.h"

namespace zarvo::host {

namespace {

constexpr const char* kSection = "Zarvo";
constexpr std::uint8_t kDefaultDecimals = 2;
constexpr std::uint8_t kMostDecimals = 3;

std::optional<long long> integer(const std::string& path, const char* key) {
  const auto text = platform::ReadIniString(path, kSection, key);
  return text ? platform::ParseIniInteger(*text) : std::nullopt;
}

std::uint8_t decimals(const std::string& path, const char* key) {
  const auto value = integer(path, key);
  const auto low = static_cast<std::uint8_t>(value.value_or(kDefaultDecimals) & 0xFF);
  return low <= kMostDecimals ? low : kDefaultDecimals;
}

}  // namespace

DriverSettings read_driver_settings() {
  DriverSettings settings;
  settings.path = platform::IniFilePath();
  std::error_code error;
  settings.found = std::filesystem::is_regular_file(settings.path, error);
  settings.sum_decimals = decimals(settings.path, "SDec");
  settings.price_decimals = decimals(settings.path, "PDec");
  settings.mono_start = integer(settings.path, "MPTRK").value_or(0) != 0;
  return settings;
}

}  // namespace zarvo::host
