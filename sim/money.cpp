#include "sim/money.h"

#include <stdexcept>

namespace zarvo::sim {

std::int64_t pow10(int exponent) {
  if (exponent < 0 || exponent > 18) throw std::out_of_range("power of ten out of range");
  std::int64_t result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

std::int64_t divide_half_even(std::int64_t numerator, std::int64_t denominator) {
  if (numerator < 0 || denominator <= 0) throw std::domain_error("division needs n >= 0, d > 0");
  const std::int64_t quotient = numerator / denominator;
  const std::int64_t twice_rest = (numerator % denominator) * 2;
  if (twice_rest > denominator || (twice_rest == denominator && quotient % 2 != 0)) {
    return quotient + 1;
  }
  return quotient;
}

std::int64_t amount_for_volume(std::int64_t volume_cl, const Pricing& pricing) {
  // amount * 10^-d = volume * 10^-2 * price * 10^-p
  const int exponent = pricing.amount_decimals - 2 - pricing.price_decimals;
  const std::int64_t product = volume_cl * pricing.price_digits;
  if (exponent >= 0) return product * pow10(exponent);
  return divide_half_even(product, pow10(-exponent));
}

std::int64_t volume_for_amount(std::int64_t amount, const Pricing& pricing) {
  if (pricing.price_digits <= 0) throw std::domain_error("no volume belongs to a zero price");
  const int exponent = 2 + pricing.price_decimals - pricing.amount_decimals;
  if (exponent >= 0) return divide_half_even(amount * pow10(exponent), pricing.price_digits);
  return divide_half_even(amount, pricing.price_digits * pow10(-exponent));
}

std::int64_t field_capacity(int decimals, std::size_t width) {
  const std::size_t digits = decimals > 0 ? width - 1 : width;
  return pow10(static_cast<int>(digits)) - 1;
}

std::optional<std::string> decimal_field(std::int64_t value, int decimals, std::size_t width) {
  if (value < 0 || value > field_capacity(decimals, width)) return std::nullopt;
  std::string digits = std::to_string(value);
  if (decimals > 0) {
    const auto fraction = static_cast<std::size_t>(decimals);
    if (digits.size() <= fraction) digits.insert(0, fraction + 1 - digits.size(), '0');
    digits.insert(digits.size() - fraction, 1, '.');
  }
  if (digits.size() > width) return std::nullopt;
  return std::string(width - digits.size(), ' ') + digits;
}

}  // namespace zarvo::sim
