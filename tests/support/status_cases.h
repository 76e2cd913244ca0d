// Status replies, what the driver files for each, and how the trace reads
// them: the decoder's tests and the trace's tests walk the same table.
#pragma once

#include <cstdint>
#include <string_view>

namespace zarvo::testing {

struct StatusCase {
  std::string_view chars;    // the six status characters
  std::uint8_t stored;       // the pump state filed; 0 where the state is kept
  std::string_view reading;  // the trace's reading in brackets
};

inline constexpr StatusCase kStatusCases[] = {
    {"000300", 228, "228 nozzle 4 lifted"},
    {"110000", 192, "192 idle"},
    {"100005", 222, "222 nozzle 6 authorized"},
    {"230000", 192, "192 idle"},
    {"040000", 234, "234 nozzle 2 lifted and authorized"},
    {"006000", 1, "1 idle, transaction ended"},
    {"000007", 1, "1 idle, transaction ended"},
    {"900000", 1, "1 idle, transaction ended"},
    {"C00000", 255, "255 dispenser fault"},
    {"800000", 192, "192 idle"},
    {"000050", 221, "221 nozzle 5 authorized"},
    // After a preset: the "1" of an idle nozzle decides nothing, the "5" does.
    {"150000", 218, "218 nozzle 2 authorized"},
    {"1:5000", 192, "192 idle"},
    {"A00000", 216, "transaction ended, 216 once acknowledged"},
    {"000000", 0, "no news, state kept"},
    {"0:5000", 0, "no news, state kept"},
    {"0@0000", 0, "no news, state kept"},
    {"Z50000", 0, "no news, state kept"},
};

}  // namespace zarvo::testing
