#include "host/output/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace zarvo::host {

namespace {

// Doubles within this bound are exact as 64-bit integers.
constexpr double kExactIntegers = 9007199254740992.0;  // 2^53

void whole_numbers_as_integers(Json& value) {
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::isfinite(number) && number == std::trunc(number) &&
        std::fabs(number) <= kExactIntegers) {
      value = static_cast<std::int64_t>(number);
    }
  } else if (value.is_structured()) {
    for (Json& member : value) whole_numbers_as_integers(member);
  }
}

}  // namespace

std::string number_text(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string fixed_text(double value, int decimals) {
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buffer, end) : number_text(value);
}

std::string json_text(const Json& value) {
  return json_text(Json(value));
}

std::string json_text(Json&& value) {
  Json shown = std::move(value);
  whole_numbers_as_integers(shown);
  // Text the host did not make (device names) may be broken UTF-8: mark it, never fail.
  return shown.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace zarvo::host
