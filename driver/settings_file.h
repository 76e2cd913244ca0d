// The driver's three settings in "cnf.INI", section "Zarvo".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zarvo {

class TVM30;

// The settings as cnf.INI holds them: the decimals' low byte, and the flag.
struct FileSettings {
  std::uint8_t sum_decimals = 2;
  std::uint8_t price_decimals = 2;
  bool mono_start = false;
};

// The decimals a stored value stands for. Only 0 to 3 are both programmed into
// the dispensers and used to scale digits; any other value is refused like an
// unreadable one, and the default 2 serves for both.
std::uint8_t DecimalsInUse(std::uint8_t stored);

// The driver keeps the stored values for the settings dialog and uses what
// they stand for in everything it sends.
void UseSettings(TVM30& driver, const FileSettings& settings);
FileSettings StoredSettings(const TVM30& driver);

// Absent or unreadable values give 2, 2 and false.
void LoadSettings(TVM30& driver);

// Writes all three keys as stored; raises zarvo::Exception when the file
// cannot be written.
void SaveSettings(const TVM30& driver);

// A confirmed settings dialog: the settings are saved, and only once saved are
// they used and every pump marked for reprogramming at its next poll. A failed
// save raises and changes nothing, so the driver still agrees with every
// dispenser.
void ConfirmSettings(TVM30& driver, const FileSettings& chosen);

}  // namespace zarvo
