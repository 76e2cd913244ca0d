// One simulated line: the dispensers, the faults and the serving loop that
// answers request frames on a byte stream. Thread-safe: tests may lift
// nozzles and read the record while another thread serves.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/serial_device.h"
#include "sim/dispenser.h"
#include "sim/faults.h"

namespace zarvo::sim {

using Clock = serial::Clock;

struct LinkOptions {
  int baud = 9600;
  // Bytes take their time on the wire, 10 bits a byte: a reply byte reaches
  // the host when its stop bit would end, and a request counts as heard when
  // its last byte would have crossed the line.
  bool pacing = true;
  // The device hands over the host's bytes the moment they are written (a
  // pseudo-terminal), so pacing adds their wire time; a real serial line has
  // spent it already.
  bool instant_input = true;
  // The device sends at the line's rate by itself, as a UART does: a reply is
  // written whole once due. Where timed waits are coarse (Windows, wine) this
  // keeps the bytes together better than pacing each one.
  bool output_paced_by_line = false;
  // Time from the last request byte to the first reply byte: a dispenser's
  // controller answers a poll within a few milliseconds.
  Millis turnaround{2};
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

  // Answers requests on `line` until `stop` is requested or the line closes.
  // Throws serial::Error when the line fails.
  void serve(serial::ByteStream& line, const serial::StopSignal& stop);

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
  void respond(serial::ByteStream& line, const std::vector<std::uint8_t>& payload,
               Clock::time_point received, const serial::StopSignal& stop);
  bool send(serial::ByteStream& line, std::span<const std::uint8_t> bytes, Clock::time_point start,
            const serial::StopSignal& stop);

  LinkOptions link_;
  Clock::time_point epoch_;
  mutable std::mutex mutex_;
  Dispenser dispenser_;
  FaultInjector faults_;
};

// Serves a line in a thread of its own until stopped, the line closes or it fails.
class ServingThread {
 public:
  // Starts at once; `simulator` and `line` must outlive this object.
  ServingThread(Simulator& simulator, serial::ByteStream& line);
  ~ServingThread();  // stops and joins
  ServingThread(const ServingThread&) = delete;
  ServingThread& operator=(const ServingThread&) = delete;

  void stop();
  bool ended() const;
  // Why serving ended early (a failed line); empty otherwise.
  std::string error() const;

 private:
  serial::StopSignal stop_;
  mutable std::mutex mutex_;
  bool ended_ = false;
  std::string error_;
  std::thread thread_;  // last: it starts after everything it uses exists
};

}  // namespace zarvo::sim
