#include "driver/settings_file.h"

#include <array>
#include <charconv>
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

std::optional<long long> read_integer(const std::string& path, std::string_view key) {
  const auto text = platform::ReadIniString(path, kSection, key);
  return text ? ParseIniInteger(*text) : std::nullopt;
}

}  // namespace

std::optional<long long> ParseIniInteger(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-')) return std::nullopt;
  }
  // Values beyond 32 bits are no integer the settings file could hold.
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void LoadSettings(TVM30& driver) {
  const std::string path = platform::IniFilePath();
  // Only the low 8 bits are kept: 258 reads as 2.
  const auto low_byte = [](long long v) { return static_cast<std::uint8_t>(v & 0xFF); };
  driver.SumDecimals = low_byte(read_integer(path, kSumKey).value_or(2));
  driver.PriceDecimals = low_byte(read_integer(path, kPriceKey).value_or(2));
  driver.MonoStart = read_integer(path, kMonoKey).value_or(0) != 0;
}

void SaveSettings(const TVM30& driver) {
  const std::array<platform::IniEntry, 3> entries = {
      platform::IniEntry{kSumKey, std::to_string(driver.SumDecimals.load())},
      platform::IniEntry{kPriceKey, std::to_string(driver.PriceDecimals.load())},
      platform::IniEntry{kMonoKey, driver.MonoStart.load() ? "1" : "0"},
  };
  try {
    platform::WriteIniStrings(platform::IniFilePath(), kSection, entries);
  } catch (const std::runtime_error& error) {
    throw Exception(error.what());
  }
}

}  // namespace zarvo
