// Exact money arithmetic of the simulated dispenser. Volumes are hundredths of
// a litre, prices are four digits with p decimals per litre, amounts are units
// of 10^-d; everything stays in integers so that no reading drifts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zarvo::sim {

// Decimals of prices and amounts that the dispenser accepts (parameters 41, 40).
inline constexpr int kMaxDecimals = 3;
// The largest price the four price digits carry.
inline constexpr int kMaxPriceDigits = 9999;

std::int64_t pow10(int exponent);

// numerator / denominator rounded to the nearest integer, an exact half to the
// even neighbour. Both are non-negative and the denominator is positive.
std::int64_t divide_half_even(std::int64_t numerator, std::int64_t denominator);

struct Pricing {
  int price_digits = 0;     // 0..9999
  int price_decimals = 2;   // 0..3
  int amount_decimals = 2;  // 0..3
};

// The amount of a volume at a price, rounded half to even.
std::int64_t amount_for_volume(std::int64_t volume_cl, const Pricing& pricing);

// The volume that an amount buys, rounded half to even to 0.01 l. The price
// must not be zero.
std::int64_t volume_for_amount(std::int64_t amount, const Pricing& pricing);

// The largest value with `decimals` decimals that a field of `width`
// characters shows (the decimal point takes one character when decimals > 0).
std::int64_t field_capacity(int decimals, std::size_t width);

// The value as decimal text with `decimals` decimals and a point, right-aligned
// and padded with blanks to `width`; nothing when it does not fit.
std::optional<std::string> decimal_field(std::int64_t value, int decimals, std::size_t width);

}  // namespace zarvo::sim
