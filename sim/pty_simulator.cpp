#include "sim/pty_simulator.h"

#include "sim/line_io.h"

namespace zarvo::sim {

struct PtySimulator::Impl {
  explicit Impl(const Options& options)
      : simulator(options),
        pty(open_pty(options.link.baud)),
        line(pty.master.get()),
        serving(simulator, line) {}

  Simulator simulator;
  PtyPair pty;
  FdStream line;
  ServingThread serving;  // last: it starts after everything it uses exists
};

PtySimulator::PtySimulator(const Options& options) : impl_(std::make_unique<Impl>(options)) {}

PtySimulator::~PtySimulator() = default;

const std::string& PtySimulator::device_path() const {
  return impl_->pty.path;
}

Simulator& PtySimulator::simulator() {
  return impl_->simulator;
}

std::string PtySimulator::error() const {
  return impl_->serving.error();
}

}  // namespace zarvo::sim
