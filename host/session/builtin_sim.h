// The dispenser simulator, run in this process for `zarvo demo`, `zarvo soak`
// and for a session started without --line: on a pseudo-terminal, so that the
// real serial code runs (builtin_sim_pty.cpp), or on Windows on a line in
// memory that keeps the wire's timing (builtin_sim_memory.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/port/line_device.h"

namespace zarvo::host {

// Line faults, as probabilities 0..1 per request.
struct BuiltinSimFaults {
  double corrupt = 0;
  double drop = 0;
  double silent = 0;
  double noise = 0;
  double delay = 0;  // share of replies sent `delay_for` late
  std::chrono::milliseconds silent_for{2000};
  std::chrono::milliseconds delay_for{0};
  std::uint64_t seed = 1;
};

struct BuiltinSimOptions {
  bool pacing = true;  // bytes at the line's real speed
  std::uint32_t baud = 9600;
  int line = 1;  // the line number in the simulator's record
  int pumps = 4;
  // The soak runs the pumps faster than life.
  double flow_lpm = 60;
  std::chrono::milliseconds reaction{300};
  // From a request's last byte to its reply's first: the simulator's default.
  std::chrono::milliseconds turnaround{2};
  BuiltinSimFaults faults;
};

// A delivery as the simulator completed it.
struct SimTransaction {
  std::uint32_t line = 0;
  std::uint32_t pump = 0;
  std::uint32_t number = 0;
  std::int64_t volume_cl = 0;
  std::int64_t amount = 0;  // units of 10^-amount_decimals
  int amount_decimals = 2;
  bool acknowledged = false;
};

// What the simulator's fault generator did to the requests it saw.
struct SimFaultCounts {
  std::uint64_t requests = 0;
  std::uint64_t unheard = 0;
  std::uint64_t silent_spells = 0;
  std::uint64_t dropped = 0;
  std::uint64_t delayed = 0;
  std::uint64_t noisy = 0;
  std::uint64_t corrupted = 0;
};

class BuiltinSimulator {
 public:
  // Throws std::invalid_argument for options out of range.
  explicit BuiltinSimulator(const BuiltinSimOptions& options);
  ~BuiltinSimulator();
  BuiltinSimulator(const BuiltinSimulator&) = delete;
  BuiltinSimulator& operator=(const BuiltinSimulator&) = delete;

  // The line's name; the OS's device to open when opener() is empty.
  std::string device_path() const;
  // Opens a line that lives in this process; empty for an OS device.
  DeviceOpener opener() const;
  const BuiltinSimOptions& options() const { return options_; }
  std::vector<SimTransaction> transactions() const;
  SimFaultCounts fault_counts() const;

 private:
  struct Impl;
  BuiltinSimOptions options_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zarvo::host
