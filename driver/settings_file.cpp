#include "driver/settings_file.h"

#include <array>
#include <stdexcept>
#include <string>

#include "driver/tvm30.h"
#include "platform/ini_file.h"

namespace zarvo {
namespace {

constexpr std::string_view kSection = "Zarvo";
constexpr std::string_view kSumKey = "SDec";
constexpr std::string_view kPriceKey = "PDec";
constexpr std::string_view kMonoKey = "MPTRK";

constexpr std::uint8_t kDefaultDecimals = 2;
constexpr std::uint8_t kMostDecimals = 3;  // what the dialog offers and a dispenser takes

std::optional<long long> read_integer(const std::string& path, std::string_view key) {
  const auto text = platform::ReadIniString(path, kSection, key);
  return text ? platform::ParseIniInteger(*text) : std::nullopt;
}

void log_settings(const TVM30& driver, platform::LogEvent event, const FileSettings& settings) {
  driver.Log.Record(event, [&](platform::LogRecord& record) {
    record.values = {settings.sum_decimals, settings.price_decimals, settings.mono_start ? 1 : 0};
  });
}

void write_settings(const TVM30& driver, const FileSettings& settings) {
  const std::array<platform::IniEntry, 3> entries = {
      platform::IniEntry{kSumKey, std::to_string(settings.sum_decimals)},
      platform::IniEntry{kPriceKey, std::to_string(settings.price_decimals)},
      platform::IniEntry{kMonoKey, settings.mono_start ? "1" : "0"},
  };
  try {
    platform::WriteIniStrings(platform::IniFilePath(), kSection, entries);
  } catch (const std::runtime_error& error) {
    driver.Log.Record(platform::LogEvent::kSettingsNotSaved,
                      [&](platform::LogRecord& record) { record.set_text(error.what()); });
    throw Exception(error.what());
  }
  log_settings(driver, platform::LogEvent::kSettingsSaved, settings);
}

}  // namespace

std::uint8_t DecimalsInUse(std::uint8_t stored) {
  return stored <= kMostDecimals ? stored : kDefaultDecimals;
}

void UseSettings(TVM30& driver, const FileSettings& settings) {
  driver.StoredSumDecimals = settings.sum_decimals;
  driver.StoredPriceDecimals = settings.price_decimals;
  driver.SumDecimals = DecimalsInUse(settings.sum_decimals);
  driver.PriceDecimals = DecimalsInUse(settings.price_decimals);
  driver.MonoStart = settings.mono_start;
}

FileSettings StoredSettings(const TVM30& driver) {
  return {driver.StoredSumDecimals, driver.StoredPriceDecimals, driver.MonoStart};
}

void LoadSettings(TVM30& driver) {
  const std::string path = platform::IniFilePath();
  // Only the low 8 bits are kept: 258 reads as 2.
  const auto low_byte = [](long long v) { return static_cast<std::uint8_t>(v & 0xFF); };
  UseSettings(driver, {low_byte(read_integer(path, kSumKey).value_or(kDefaultDecimals)),
                       low_byte(read_integer(path, kPriceKey).value_or(kDefaultDecimals)),
                       read_integer(path, kMonoKey).value_or(0) != 0});
  log_settings(driver, platform::LogEvent::kSettingsLoaded, StoredSettings(driver));
}

void SaveSettings(const TVM30& driver) {
  write_settings(driver, StoredSettings(driver));
}

void ConfirmSettings(TVM30& driver, const FileSettings& chosen) {
  write_settings(driver, chosen);
  UseSettings(driver, chosen);
  driver.MarkAllParamsPending();
}

}  // namespace zarvo
