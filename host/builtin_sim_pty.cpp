// The simulator library's pseudo-terminal line, in this process.
#include "host/builtin_sim.h"
#include "sim/pty_simulator.h"

namespace zarvo::host {

struct BuiltinSimulator::Impl {
  explicit Impl(const sim::Options& options) : line(options) {}
  sim::PtySimulator line;
};

namespace {
sim::Options simulator_options(const BuiltinSimOptions& options) {
  sim::Options sim_options;
  sim_options.link.pacing = options.pacing;
  return sim_options;
}
}  // namespace

BuiltinSimulator::BuiltinSimulator(const BuiltinSimOptions& options)
    : impl_(std::make_unique<Impl>(simulator_options(options))) {}

BuiltinSimulator::~BuiltinSimulator() = default;

std::string BuiltinSimulator::device_path() const {
  return impl_->line.device_path();
}

}  // namespace zarvo::host
