#include "driver/digits.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace zarvo {
namespace {

// Enough significant digits for any double; more would overflow 64 bits anyway.
constexpr int kMaxDigits = 19;

struct Decimal {
  std::array<char, 32> digits{};  // significant digits, no leading zeros needed
  int count = 0;
  int exponent = 0;  // value = digits * 10^exponent
};

Decimal shortest_decimal(double value) {
  std::array<char, 64> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::scientific);
  const std::string_view s(text.data(), static_cast<std::size_t>(result.ptr - text.data()));
  Decimal d;
  std::size_t pos = 0;
  int fraction_digits = 0;
  bool after_point = false;
  for (; pos < s.size() && s[pos] != 'e'; ++pos) {
    if (s[pos] == '.') {
      after_point = true;
      continue;
    }
    if (d.count < static_cast<int>(d.digits.size())) d.digits[d.count++] = s[pos];
    if (after_point) ++fraction_digits;
  }
  int exponent = 0;
  if (pos < s.size()) {
    std::size_t start = pos + 1;
    if (start < s.size() && s[start] == '+') ++start;  // from_chars reads no plus sign
    std::from_chars(s.data() + start, s.data() + s.size(), exponent);
  }
  d.exponent = exponent - fraction_digits;
  return d;
}

}  // namespace

std::optional<std::uint64_t> ScaledInteger(double value, int exponent, Rounding rounding) {
  if (!std::isfinite(value) || std::signbit(value)) {
    if (value == 0.0) return 0;  // -0 is zero
    return std::nullopt;
  }
  if (value == 0.0) return 0;
  const Decimal d = shortest_decimal(value);
  const int shift = d.exponent + exponent;
  const int whole_digits = d.count + shift;  // digits before the decimal point
  if (whole_digits > kMaxDigits) return std::nullopt;

  std::uint64_t whole = 0;
  for (int i = 0; i < whole_digits; ++i) {
    whole = whole * 10 + static_cast<std::uint64_t>(i < d.count ? d.digits[i] - '0' : 0);
  }
  if (shift >= 0) return whole;

  // Below half a unit even before rounding: every significant digit is dropped
  // behind at least one implied zero.
  const int first_dropped = whole_digits;
  if (first_dropped < 0) return 0;
  const int dropped_digit = first_dropped < d.count ? d.digits[first_dropped] - '0' : 0;
  bool rest_nonzero = false;
  for (int i = first_dropped + 1; i < d.count; ++i) rest_nonzero |= d.digits[i] != '0';
  bool round_up = false;
  if (rounding == Rounding::kHalfAwayFromZero) {
    round_up = dropped_digit >= 5;
  } else {
    round_up = dropped_digit > 5 || (dropped_digit == 5 && (rest_nonzero || whole % 2 == 1));
  }
  return whole + (round_up ? 1 : 0);
}

bool WriteDigits(std::uint64_t number, std::span<std::uint8_t> field) {
  std::array<std::uint8_t, 24> text{};
  std::size_t len = 0;
  do {
    text[len++] = static_cast<std::uint8_t>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  if (len > field.size()) return false;
  std::size_t out = 0;
  for (; out < field.size() - len; ++out) field[out] = '0';
  while (len > 0) field[out++] = text[--len];
  return true;
}

std::string ShortestText(double value) {
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), result.ptr);
}

bool WriteDigitField(double value, int exponent, Rounding rounding, std::span<std::uint8_t> field) {
  const auto number = ScaledInteger(value, exponent, rounding);
  return number && WriteDigits(*number, field);
}

}  // namespace zarvo
