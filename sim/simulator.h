// One simulated line: the dispensers, the faults and the serving loop that
// answers request frames on a file descriptor. Thread-safe: tests may lift
// nozzles and read the record while another thread serves.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "sim/dispenser.h"
#include "sim/faults.h"
#include "sim/line_io.h"

namespace zarvo::sim {

struct LinkOptions {
  int baud = 9600;
  // Reply bytes leave at the baud rate, 10 bits a byte.
  bool pacing = true;
  // Time from the last request byte to the first reply byte.
  Millis turnaround{10};
  // A pause this long means a partial frame will never complete.
  Millis idle_gap{50};
};

struct Options {
  ModelOptions model;
  LinkOptions link;
  FaultOptions faults;
};

class Simulator {
 public:
  // Throws std::invalid_argument for options out of range.
  explicit Simulator(const Options& options);

  // Answers requests on `fd` until `stop` is requested or the line closes.
  // Throws std::system_error when the line fails.
  void serve(int fd, const StopSignal& stop);

  bool lift(int pump, int nozzle);
  bool hang_up(int pump);
  std::vector<Transaction> transactions() const;
  FaultCounts fault_counts() const;

  // Runs `look` on the dispensers, brought up to the present, under the lock.
  template <class F>
  auto inspect(F&& look) {
    std::lock_guard lock(mutex_);
    dispenser_.advance_to(now());
    return std::forward<F>(look)(std::as_const(dispenser_));
  }

  // Time since the simulator was made, the model's clock.
  Millis now() const;

 private:
  void respond(int fd, const std::vector<std::uint8_t>& payload, Clock::time_point received,
               const StopSignal& stop);
  bool send(int fd, std::span<const std::uint8_t> bytes, const StopSignal& stop);

  LinkOptions link_;
  Clock::time_point epoch_;
  mutable std::mutex mutex_;
  Dispenser dispenser_;
  FaultInjector faults_;
};

}  // namespace zarvo::sim
