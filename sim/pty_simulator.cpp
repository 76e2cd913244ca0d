#include "sim/pty_simulator.h"

#include <exception>
#include <mutex>
#include <thread>

#include "sim/line_io.h"

namespace zarvo::sim {

struct PtySimulator::Impl {
  explicit Impl(const Options& options) : simulator(options), pty(open_pty(options.link.baud)) {}

  Simulator simulator;
  PtyPair pty;
  StopSignal stop;
  mutable std::mutex error_mutex;
  std::string error;
  std::thread thread;  // last: it starts after everything it uses exists
};

PtySimulator::PtySimulator(const Options& options) : impl_(std::make_unique<Impl>(options)) {
  Impl& impl = *impl_;
  impl.thread = std::thread([&impl] {
    try {
      impl.simulator.serve(impl.pty.master.get(), impl.stop);
    } catch (const std::exception& e) {
      std::lock_guard lock(impl.error_mutex);
      impl.error = e.what();
    }
  });
}

PtySimulator::~PtySimulator() {
  impl_->stop.request();
  if (impl_->thread.joinable()) impl_->thread.join();
}

const std::string& PtySimulator::device_path() const {
  return impl_->pty.path;
}

Simulator& PtySimulator::simulator() {
  return impl_->simulator;
}

std::string PtySimulator::error() const {
  std::lock_guard lock(impl_->error_mutex);
  return impl_->error;
}

}  // namespace zarvo::sim
