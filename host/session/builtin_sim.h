// The dispenser simulator, run in this process for `zarvo demo`, `zarvo soak`
// and for a session started without --line: on a pseudo-terminal, so that the
// real serial code runs (builtin_sim_pty.cpp), or on Windows on a line in
// memory that keeps the wire's timing (builtin_sim_memory.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/port/serial_port.h"
#include "sim/simulator.h"

namespace zarvo::host {

class BuiltinSimulator {
 public:
  // Throws std::invalid_argument for options out of range.
  explicit BuiltinSimulator(const sim::Options& options);
  ~BuiltinSimulator();
  BuiltinSimulator(const BuiltinSimulator&) = delete;
  BuiltinSimulator& operator=(const BuiltinSimulator&) = delete;

  // The line's name; the OS's device to open when opener() is empty.
  std::string device_path() const;
  // Opens a line that lives in this process; empty for an OS device.
  DeviceOpener opener() const;
  const sim::Options& options() const { return options_; }
  const sim::Simulator& simulator() const;
  std::vector<sim::Transaction> transactions() const { return simulator().transactions(); }
  sim::FaultCounts fault_counts() const { return simulator().fault_counts(); }

 private:
  // The line differs by platform (pseudo-terminal or memory); its header
  // stays out of this one, so the build picks the backend by source file.
  struct Impl;
  sim::Options options_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zarvo::host
