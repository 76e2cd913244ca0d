// A simulated dispenser line on a pseudo-terminal, served by a background
// thread: open device_path() like a serial port and talk to the pumps.
//
//   zarvo::sim::Options options;          // 4 pumps, 2 nozzles, 9600 baud
//   options.link.pacing = false;          // as fast as the host reads
//   zarvo::sim::PtySimulator sim(options);
//   run_host_on(sim.device_path());
//   auto record = sim.simulator().transactions();
//
// The destructor stops serving and joins the thread. Thread-safe.
#pragma once

#include <memory>
#include <string>

#include "sim/simulator.h"

namespace zarvo::sim {

class PtySimulator {
 public:
  // Opens the pseudo-terminal and starts serving. Throws std::invalid_argument
  // for bad options and serial::Error when no pseudo-terminal is to be had.
  explicit PtySimulator(const Options& options = {});
  ~PtySimulator();
  PtySimulator(const PtySimulator&) = delete;
  PtySimulator& operator=(const PtySimulator&) = delete;

  // The path to open, e.g. /dev/pts/3.
  const std::string& device_path() const;

  // The line being served: lift and hang up nozzles, read the record.
  Simulator& simulator();

  // Why serving ended early (an I/O failure); empty while it goes on.
  std::string error() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zarvo::sim
