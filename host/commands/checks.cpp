#include "host/commands/checks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <string>

#include "host/output/json.h"

namespace zarvo::host {

namespace {

CLI::Validator number_check(std::function<bool(double)> accepts, const std::string& range) {
  return CLI::Validator(
      [accepts = std::move(accepts), range](std::string& input) -> std::string {
        const auto value = parse_number(input);
        if (!value) return "must be a number " + range;
        std::replace(input.begin(), input.end(), ',', '.');
        return accepts(*value) ? std::string() : "must be " + range;
      },
      range);
}

}  // namespace

std::optional<double> parse_number(std::string text) {
  if (std::count(text.begin(), text.end(), ',') == 1 && text.find('.') == std::string::npos) {
    std::replace(text.begin(), text.end(), ',', '.');
  }
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+' && (last - first < 2 || first[1] != '-')) ++first;
  double value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last || !std::isfinite(value))
    return std::nullopt;
  return value;
}

CLI::Validator between(double low, double high) {
  return number_check([low, high](double v) { return v >= low && v <= high; },
                      number_text(low) + " to " + number_text(high));
}

CLI::Validator at_least(double low) {
  return number_check([low](double v) { return v >= low; }, number_text(low) + " or more");
}

CLI::Validator more_than(double low) {
  return number_check([low](double v) { return v > low; }, "more than " + number_text(low));
}

}  // namespace zarvo::host
