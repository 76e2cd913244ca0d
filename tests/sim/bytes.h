// Byte strings for the simulator's tests, written as the documentation writes
// them: "16 16 01 01 35 2A 25".
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace zarvo::sim::testing {

inline std::vector<std::uint8_t> hex(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::uint8_t> bytes;
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

}  // namespace zarvo::sim::testing
