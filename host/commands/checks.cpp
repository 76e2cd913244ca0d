#include "host/commands/checks.h"

#include <cmath>
#include <functional>
#include <string>

#include "host/output/json.h"

namespace zarvo::host {

namespace {

CLI::Validator number_check(std::function<bool(double)> accepts, const std::string& range) {
  return CLI::Validator(
      [accepts = std::move(accepts), range](std::string& input) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(input, value) || std::isnan(value)) {
          return "must be a number " + range;
        }
        return accepts(value) ? std::string() : "must be " + range;
      },
      range);
}

}  // namespace

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
