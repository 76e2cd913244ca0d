// `zarvo soak`: deliveries without end on the pumps of N built-in simulated
// lines, one thread a line through one driver, with line faults, every
// completed one journaled; at the end each line's journal entries are held
// against its own simulator's record of what it delivered. The parts: the
// fault profile (fault_profile.h), one line's run (line_soak.h), the check
// (record_check.h) and the report (soak_report.h).
#pragma once

#include <cstdint>
#include <string>

#include "host/output/output.h"
#include "host/session/session.h"

namespace zarvo::host {

// The exit status of a soak that found a delivery lost, duplicated or wrong.
inline constexpr int kSoakFoundFaults = 3;
// The exit status of a soak in which a line completed no delivery: the host's
// own failure to check anything, not a finding.
inline constexpr int kSoakCheckedNothing = 2;

struct SoakOptions {
  std::uint64_t exchanges = 10000;  // a line; then no new deliveries, the running ones end
  std::string faults = "default";
  std::uint64_t seed = 1;
  std::string journal;  // empty: an in-memory journal
  std::uint32_t pumps = 4;
  std::uint32_t lines = 1;  // 1..40, each its own simulator and thread
};

// Sets a session up for a soak: the built-in simulator at full speed with the
// profile's faults, and short timeouts unless the user gave timeouts.
// Throws std::invalid_argument when real lines are given or the profile is bad.
void prepare_soak_session(const SoakOptions& options, SessionOptions& session, bool timeouts_given);

// Starts the simulated lines and the session on them; `session` comes from
// prepare_soak_session. Returns the exit status: 0 when nothing was lost,
// duplicated or wrong on any line.
int soak(const SessionOptions& session, Output& out, const SoakOptions& options);

}  // namespace zarvo::host
