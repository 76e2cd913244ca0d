// The line faults of a soak's simulators: a named profile with settings of
// its own, and the words that describe what it puts on the lines.
#pragma once

#include <chrono>
#include <string>

#include "sim/faults.h"

namespace zarvo::host {

// A profile is a name (none; default: 5 % corrupted, 2 % dropped, 1 % silent;
// harsh: default with noise and late replies), optionally followed by
// key=value settings, e.g. "default,noise=2" or "corrupt=10,drop=0.5": corrupt,
// drop, silent, noise and late in percent, silent-ms and late-ms in
// milliseconds. Late replies come after the host stopped waiting, by default.
// Throws std::invalid_argument for an unknown name or key or a bad value.
sim::FaultOptions parse_fault_profile(const std::string& text,
                                      std::chrono::milliseconds first_byte_timeout);

// "corrupt 5 %, drop 2 %, silent 1 % for 100 ms", or "no faults".
std::string describe_faults(const sim::FaultOptions& faults);

}  // namespace zarvo::host
