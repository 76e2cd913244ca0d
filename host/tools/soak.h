// `zarvo soak`: deliveries without end on the pumps of N built-in simulated
// lines, one thread a line through one driver, with line faults, every
// completed one journaled; at the end each line's journal entries are held
// against its own simulator's record of what it delivered.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/output/output.h"
#include "host/session/builtin_sim.h"
#include "host/session/session.h"
#include "host/tools/journal.h"

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

// Sets a session up for a soak: the built-in simulator at full speed with the
// profile's faults, and short timeouts unless the user gave timeouts.
// Throws std::invalid_argument when real lines are given or the profile is bad.
void prepare_soak_session(const SoakOptions& options, SessionOptions& session, bool timeouts_given);

struct SoakVerdict {
  std::uint64_t lost = 0;        // completed by the simulator, never journaled
  std::uint64_t duplicated = 0;  // journal entries beyond the first for one transaction
  std::uint64_t wrong = 0;       // readings that differ, or entries for no transaction
  std::vector<std::string> details;
  bool clean() const { return lost == 0 && duplicated == 0 && wrong == 0; }
};

// Matches the simulator's transactions with the journal by line, pump and
// transaction number.
SoakVerdict compare_records(const std::vector<sim::Transaction>& delivered,
                            const std::vector<JournalEntry>& journaled);

// Holds the journal entries of one line, out of all lines' entries, against
// that line's simulator.
SoakVerdict compare_line(std::uint32_t line, const std::vector<sim::Transaction>& delivered,
                         const std::vector<JournalEntry>& journaled);

// Starts the simulated lines and the session on them; `session` comes from
// prepare_soak_session. Returns the exit status: 0 when nothing was lost,
// duplicated or wrong on any line.
int soak(const SessionOptions& session, Output& out, const SoakOptions& options);

}  // namespace zarvo::host
