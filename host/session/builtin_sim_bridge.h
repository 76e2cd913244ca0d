// Between the host's built-in simulator and the simulator library: the same
// for every kind of line it is served on.
#pragma once

#include "host/session/builtin_sim.h"
#include "sim/simulator.h"

namespace zarvo::host {

inline sim::Options simulator_options(const BuiltinSimOptions& options) {
  sim::Options sim_options;
  sim_options.link.pacing = options.pacing;
  sim_options.link.baud = static_cast<int>(options.baud);
  sim_options.link.turnaround = options.turnaround;
  sim_options.model.line = options.line;
  sim_options.model.pumps = options.pumps;
  sim_options.model.flow_lpm = options.flow_lpm;
  sim_options.model.reaction = options.reaction;
  const BuiltinSimFaults& f = options.faults;
  sim_options.faults.corrupt = f.corrupt;
  sim_options.faults.drop = f.drop;
  sim_options.faults.silent = f.silent;
  sim_options.faults.silent_for = f.silent_for;
  sim_options.faults.noise = f.noise;
  sim_options.faults.delay = f.delay > 0 ? f.delay_for : sim::Millis{0};
  sim_options.faults.delay_rate = f.delay;
  sim_options.faults.seed = f.seed;
  return sim_options;
}

inline std::vector<SimTransaction> transactions_of(const sim::Simulator& simulator) {
  std::vector<SimTransaction> list;
  for (const sim::Transaction& t : simulator.transactions()) {
    list.push_back({static_cast<std::uint32_t>(t.line), static_cast<std::uint32_t>(t.pump),
                    t.number, t.volume_cl, t.amount, t.amount_decimals, t.acknowledged});
  }
  return list;
}

inline SimFaultCounts fault_counts_of(const sim::Simulator& simulator) {
  const sim::FaultCounts c = simulator.fault_counts();
  return {c.requests, c.unheard, c.silent_spells, c.dropped, c.delayed, c.noisy, c.corrupted};
}

}  // namespace zarvo::host
