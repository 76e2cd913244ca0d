// The live table of every pump of every line and the journal of deliveries:
// a view of the station (host/station/), which polls each line on its own thread.
#pragma once

#include <cstdint>
#include <string>

#include "host/output/output.h"
#include "host/session/session.h"

namespace zarvo::host {

struct MonitorOptions {
  std::uint32_t pumps = 0;          // pumps 1..N on each line; 0 finds those that answer
  std::uint32_t interval_ms = 500;  // between refreshes
  std::uint32_t cycles = 0;         // refreshes before ending; 0 until interrupted
  std::string journal;              // SQLite file; empty for none
};

void monitor(Session& session, Output& out, const MonitorOptions& options);

}  // namespace zarvo::host
