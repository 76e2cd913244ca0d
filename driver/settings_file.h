// The driver's three settings in "cnf.INI", section "Zarvo".
#pragma once

#include <optional>
#include <string_view>

namespace zarvo {

class TVM30;

// Fills SumDecimals, PriceDecimals and MonoStart; absent or unreadable values
// give 2, 2 and false.
void LoadSettings(TVM30& driver);

// Writes all three keys; raises zarvo::Exception when the file cannot be written.
void SaveSettings(const TVM30& driver);

// A value is a whole decimal integer with blanks around it allowed, or nothing.
std::optional<long long> ParseIniInteger(std::string_view text);

}  // namespace zarvo
