// The simulator library's pseudo-terminal line, in this process.
#include "host/session/builtin_sim.h"
#include "sim/pty_simulator.h"

namespace zarvo::host {

struct BuiltinSimulator::Impl {
  explicit Impl(const sim::Options& options) : line(options) {}
  sim::PtySimulator line;
};

BuiltinSimulator::BuiltinSimulator(const sim::Options& options)
    : options_(options), impl_(std::make_unique<Impl>(options)) {}

BuiltinSimulator::~BuiltinSimulator() = default;

std::string BuiltinSimulator::device_path() const {
  return impl_->line.device_path();
}

DeviceOpener BuiltinSimulator::opener() const {
  return {};
}

const sim::Simulator& BuiltinSimulator::simulator() const {
  return impl_->line.simulator();
}

}  // namespace zarvo::host
