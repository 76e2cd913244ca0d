// Money and volume go out as fixed-width decimal digit fields. The digits are
// computed from the decimal value the host meant (the shortest text that reads
// back as the same double), so 1.115 gives 112 and every build sends the same.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace zarvo {

enum class Rounding { kHalfEven, kHalfAwayFromZero };

// value * 10^exponent rounded to a whole number, or nothing when the value is
// negative, not finite, or too large to count.
std::optional<std::uint64_t> ScaledInteger(double value, int exponent, Rounding rounding);

// The digits of value * 10^exponent filling field exactly, or false (field
// untouched) when they do not fit.
bool WriteDigitField(double value, int exponent, Rounding rounding, std::span<std::uint8_t> field);

// The whole number as decimal digits padded with "0" to the field's width;
// false (field untouched) when it has more digits than that.
bool WriteDigits(std::uint64_t number, std::span<std::uint8_t> field);

// The shortest text that reads back as the same double, for messages.
std::string ShortestText(double value);

}  // namespace zarvo
