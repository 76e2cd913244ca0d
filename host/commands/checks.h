// Checks of command-line numbers whose failures say the range as a person
// writes it: "nozzle: must be 1 to 6", "price: must be 0 or more".
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace zarvo::host {

// A number as people type it, whatever the locale: "45.5", or "45,5".
std::optional<double> parse_number(std::string text);

// The checks also leave a comma typed for the point as a point, for the
// option's own reading: give them to transform(), which may change the text.
CLI::Validator between(double low, double high);
CLI::Validator at_least(double low);
CLI::Validator more_than(double low);

}  // namespace zarvo::host
