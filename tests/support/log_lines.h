// The driver's log as tests read it: its lines, their shape, their order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace zarvo::testing {

inline std::vector<std::string> ReadLogLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Whether a time "2026-12-09T14:30:05.123Z " starts at pos.
inline bool LogTimeAt(std::string_view line, std::size_t pos) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd.dddZ ";
  if (line.size() < pos + kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = line[pos + i];
    if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return false;
  }
  return true;
}

// A time and some text: a line neither cut nor run into another.
inline bool WellFormedLogLine(std::string_view line) {
  if (!LogTimeAt(line, 0) || line.size() == 25) return false;
  for (std::size_t pos = 1; pos < line.size(); ++pos) {
    if (LogTimeAt(line, pos)) return false;
  }
  return true;
}

// Each fragment is found in a line after the line of the one before.
inline void ExpectInOrder(const std::vector<std::string>& lines,
                          std::initializer_list<std::string_view> fragments) {
  auto at = lines.begin();
  for (const std::string_view fragment : fragments) {
    at = std::find_if(at, lines.end(), [&](const std::string& line) {
      return line.find(fragment) != std::string::npos;
    });
    if (at == lines.end()) {
      std::string all;
      for (const std::string& line : lines) all += line + "\n";
      FAIL() << "no line with \"" << fragment << "\" after the one before in:\n" << all;
    }
    ++at;
  }
}

}  // namespace zarvo::testing
