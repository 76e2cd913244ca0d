// JSON for `--json` output: objects keep their members in the order added.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace zarvo::host {

using Json = nlohmann::ordered_json;

// One line of UTF-8 JSON. A whole-valued number prints without a fraction
// ("2", as scripts that read whole numbers expect); other numbers print in
// their shortest form that reads back the same ("0.1").
std::string json_text(const Json& value);
// The same, taking the value: a large one is not copied first.
std::string json_text(Json&& value);

// Shortest text that reads back as the same double ("2", "0.1", "1e+21").
std::string number_text(double value);

// The value with `decimals` digits after the point ("2.00", "43.275"), a point
// whatever the locale.
std::string fixed_text(double value, int decimals);

}  // namespace zarvo::host
