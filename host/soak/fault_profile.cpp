#include "host/soak/fault_profile.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace zarvo::host {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kSilentSpell{100};
// A late reply arrives this long after the host stopped waiting for it.
constexpr milliseconds kLateBy{25};

double percent(const std::string& key, const std::string& value) {
  std::size_t used = 0;
  double number = -1;
  try {
    number = std::stod(value, &used);
  } catch (const std::logic_error&) {
    used = 0;
  }
  if (used != value.size() || !(number >= 0 && number <= 100)) {
    throw std::invalid_argument("fault " + key + "=" + value + ": give a percentage 0..100");
  }
  return number / 100;
}

milliseconds duration(const std::string& key, const std::string& value) {
  std::size_t used = 0;
  long long number = -1;
  try {
    number = std::stoll(value, &used);
  } catch (const std::logic_error&) {
    used = 0;
  }
  if (used != value.size() || number < 0 || number > 60000) {
    throw std::invalid_argument("fault " + key + "=" + value + ": give milliseconds 0..60000");
  }
  return milliseconds(number);
}

std::string percent_text(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%g %%", share * 100);
  return text;
}

}  // namespace

std::string describe_faults(const sim::FaultOptions& f) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (f.corrupt > 0) add("corrupt " + percent_text(f.corrupt));
  if (f.drop > 0) add("drop " + percent_text(f.drop));
  if (f.silent > 0) {
    add("silent " + percent_text(f.silent) + " for " + std::to_string(f.silent_for.count()) +
        " ms");
  }
  if (f.noise > 0) add("noise " + percent_text(f.noise));
  if (f.delay_rate > 0) {
    add("late " + percent_text(f.delay_rate) + " by " + std::to_string(f.delay.count()) + " ms");
  }
  return text.empty() ? "no faults" : text;
}

sim::FaultOptions parse_fault_profile(const std::string& text, milliseconds first_byte_timeout) {
  sim::FaultOptions faults;
  faults.silent_for = kSilentSpell;
  faults.delay = first_byte_timeout + kLateBy;
  faults.delay_rate = 0;
  std::stringstream parts(text);
  std::string part;
  bool first = true;
  while (std::getline(parts, part, ',')) {
    const auto equals = part.find('=');
    if (equals == std::string::npos) {
      if (!first) throw std::invalid_argument("fault profile: a name must come first: " + part);
      if (part == "default" || part == "harsh") {
        faults.corrupt = 0.05;
        faults.drop = 0.02;
        faults.silent = 0.01;
      }
      if (part == "harsh") {
        faults.noise = 0.05;
        faults.delay_rate = 0.01;
      } else if (part != "default" && part != "none") {
        throw std::invalid_argument("unknown fault profile '" + part +
                                    "' (none, default, harsh, or key=value settings)");
      }
    } else {
      const std::string key = part.substr(0, equals);
      const std::string value = part.substr(equals + 1);
      if (key == "corrupt") {
        faults.corrupt = percent(key, value);
      } else if (key == "drop") {
        faults.drop = percent(key, value);
      } else if (key == "silent") {
        faults.silent = percent(key, value);
      } else if (key == "noise") {
        faults.noise = percent(key, value);
      } else if (key == "late") {
        faults.delay_rate = percent(key, value);
      } else if (key == "silent-ms") {
        faults.silent_for = duration(key, value);
      } else if (key == "late-ms") {
        faults.delay = duration(key, value);
      } else {
        throw std::invalid_argument("unknown fault setting '" + key +
                                    "' (corrupt, drop, silent, noise, late, silent-ms, late-ms)");
      }
    }
    first = false;
  }
  if (first) throw std::invalid_argument("empty fault profile");
  return faults;
}

}  // namespace zarvo::host
