// What a soak found, line by line and in total, as text and as JSON, and the
// exit status it ends with.
#pragma once

#include <memory>
#include <vector>

#include "host/output/output.h"
#include "host/session/builtin_sim.h"
#include "host/soak/line_soak.h"
#include "host/soak/soak.h"
#include "host/tools/journal.h"

namespace zarvo::host {

// Each line's run with the simulator it ran against, in line order.
struct SoakedLine {
  const LineSoak& run;
  const BuiltinSimulator& simulator;
};

// Holds each line's journal entries (all lines' entries of this soak) against
// its own simulator, reports what was run and found, and returns the exit
// status: 0, kSoakFoundFaults or kSoakCheckedNothing.
int report_soak(Output& out, const SoakOptions& options, double seconds,
                const std::vector<SoakedLine>& lines, const std::vector<JournalEntry>& journaled);

}  // namespace zarvo::host
