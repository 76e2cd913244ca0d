// The simulator library's pseudo-terminal line, in this process.
#include "host/session/builtin_sim.h"
#include "host/session/builtin_sim_bridge.h"
#include "sim/pty_simulator.h"

namespace zarvo::host {

struct BuiltinSimulator::Impl {
  explicit Impl(const sim::Options& options) : line(options) {}
  sim::PtySimulator line;
};

BuiltinSimulator::BuiltinSimulator(const BuiltinSimOptions& options)
    : options_(options), impl_(std::make_unique<Impl>(simulator_options(options))) {}

BuiltinSimulator::~BuiltinSimulator() = default;

std::string BuiltinSimulator::device_path() const {
  return impl_->line.device_path();
}

DeviceOpener BuiltinSimulator::opener() const {
  return {};
}

std::vector<SimTransaction> BuiltinSimulator::transactions() const {
  return transactions_of(impl_->line.simulator());
}

SimFaultCounts BuiltinSimulator::fault_counts() const {
  return fault_counts_of(impl_->line.simulator());
}

}  // namespace zarvo::host
