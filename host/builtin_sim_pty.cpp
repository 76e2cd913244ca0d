// The simulator library's pseudo-terminal line, in this process.
#include "host/builtin_sim.h"
#include "sim/pty_simulator.h"

namespace zarvo::host {

struct BuiltinSimulator::Impl {
  explicit Impl(const sim::Options& options) : turnaround(options.link.turnaround), line(options) {}
  std::chrono::milliseconds turnaround;
  sim::PtySimulator line;
};

namespace {
sim::Options simulator_options(const BuiltinSimOptions& options) {
  sim::Options sim_options;
  sim_options.link.pacing = options.pacing;
  sim_options.link.baud = static_cast<int>(options.baud);
  if (options.turnaround) sim_options.link.turnaround = *options.turnaround;
  sim_options.model.line = static_cast<int>(options.line);
  sim_options.model.pumps = static_cast<int>(options.pumps);
  return sim_options;
}
}  // namespace

BuiltinSimulator::BuiltinSimulator(const BuiltinSimOptions& options)
    : impl_(std::make_unique<Impl>(simulator_options(options))) {}

BuiltinSimulator::~BuiltinSimulator() = default;

std::string BuiltinSimulator::device_path() const {
  return impl_->line.device_path();
}

std::chrono::milliseconds BuiltinSimulator::turnaround() const {
  return impl_->turnaround;
}

}  // namespace zarvo::host
