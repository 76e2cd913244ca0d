#include "sim/pty_simulator.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "serial/serial_device.h"

namespace zarvo::sim {

struct PtySimulator::Impl {
  // The master's end for the simulator, and the path a host opens.
  struct PtyPair {
    std::unique_ptr<serial::ByteStream> master;
    serial::UniqueFd slave;  // kept open so that the master never reads end-of-file
    std::string path;
  };

  explicit Impl(const Options& options)
      : simulator(options),
        pty(open_pty(static_cast<std::uint32_t>(options.link.baud))),
        serving(simulator, *pty.master) {}

  static PtyPair open_pty(std::uint32_t baud);

  Simulator simulator;
  PtyPair pty;
  ServingThread serving;  // last: it starts after everything it uses exists
};

PtySimulator::Impl::PtyPair PtySimulator::Impl::open_pty(std::uint32_t baud) {
  serial::UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY));
  if (!master) serial::fail_with_errno("posix_openpt");
  if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0)
    serial::fail_with_errno("unlockpt");
  char name[256];
  if (ptsname_r(master.get(), name, sizeof name) != 0) serial::fail_with_errno("ptsname");
  PtyPair pair;
  pair.path = name;
  pair.slave = serial::UniqueFd(open(name, O_RDWR | O_NOCTTY));
  if (!pair.slave) serial::fail_with_errno("open " + pair.path);
  serial::make_raw(pair.slave.get(), baud);
  pair.master = serial::stream_over(std::move(master));
  return pair;
}

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
