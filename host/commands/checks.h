// Checks of command-line numbers whose failures say the range as a person
// writes it: "nozzle: must be 1 to 6", "price: must be 0 or more".
#pragma once

#include <CLI/CLI.hpp>

namespace zarvo::host {

CLI::Validator between(double low, double high);
CLI::Validator at_least(double low);
CLI::Validator more_than(double low);

}  // namespace zarvo::host
