// What the driver reads from its settings file when an object is made, read
// the same way (the README's rules), so that the host can show it and read
// the digits the driver sends back as values.
#pragma once

#include <cstdint>
#include <string>

namespace zarvo::host {

struct DriverSettings {
  std::string path;
  bool found = false;
  // The decimals in effect: the stored value's low byte when 0..3, else 2.
  std::uint8_t sum_decimals = 2;
  std::uint8_t price_decimals = 2;
  bool mono_start = false;
};

DriverSettings read_driver_settings();

}  // namespace zarvo::host
