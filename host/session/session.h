// One run of the host: the loaded driver, the serial lines, and the built-in
// simulator when no line was given.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/port/serial_port.h"
#include "host/session/builtin_sim.h"
#include "host/session/driver.h"
#include "host/session/driver_library.h"
#include "host/session/driver_settings.h"

namespace zarvo::host {

struct SessionOptions {
  std::string library;  // empty: default_library_path()
  std::vector<std::pair<std::uint32_t, std::string>> lines;
  // How to open the devices among `lines` that live in this process, by name.
  std::map<std::string, DeviceOpener> openers;
  bool trace = false;
  // The host's main window, which owns the driver's dialogs (Windows); null for none.
  void* window = nullptr;
  PortTimeouts timeouts;
  sim::Options simulator;
};

// Starts `count` simulators like `options.simulator`, as lines 1..count, and
// binds each into `options`. Each line's faults have a seed of their own (line
// k: the seed + k - 1). The simulators must outlive the session that uses them.
std::vector<std::unique_ptr<BuiltinSimulator>> bind_simulated_lines(SessionOptions& options,
                                                                    std::uint32_t count);

// One exchange as the session keeps it, for commands that judge what the
// pumps answered and what the driver sent.
struct Exchanged {
  std::uint32_t line = 0;
  std::vector<std::uint8_t> sent;      // the request frame
  std::vector<std::uint8_t> received;  // the reply frame, empty unless one was taken
};

// Where a command's exchanges on its line begin: a mark for exchanges_since.
struct ExchangeMark {
  std::uint32_t line = 0;
  std::uint64_t count = 0;  // the line's exchanges before the mark
};

// A pump answered one of a command's requests with "refused".
class Refused final : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Session {
 public:
  // Messages (the simulator's device, the trace) go to `diagnostics`.
  Session(const SessionOptions& options, std::ostream& diagnostics);
  ~Session();

  const Driver& driver() const { return *driver_; }
  SerialPort& port() { return port_; }
  const std::vector<std::uint32_t>& lines() const { return lines_; }
  bool simulated() const { return simulator_ != nullptr; }
  // The built-in simulator, or nullptr when the lines are real devices.
  const BuiltinSimulator* simulator() const { return simulator_.get(); }
  // The settings file as the driver read it when the session began.
  const DriverSettings& settings() const { return settings_; }

  // The line's exchanges so far. Each line keeps its own history, so that
  // what other lines exchange meanwhile neither crowds out nor mixes into it.
  ExchangeMark exchange_mark(std::uint32_t line) const;
  // The line's exchanges after the mark, oldest first; only the line's latest
  // 64 are kept.
  std::vector<Exchanged> exchanges_since(const ExchangeMark& mark) const;
  // The exchanges after the mark; throws Refused, naming the request and the
  // answer, when a pump refused one (acknowledgements aside).
  std::vector<Exchanged> require_accepted(const ExchangeMark& mark) const;
  // Whether the pump reported a delivery's readings in this session.
  bool readings_reported(std::uint32_t line, std::uint32_t pump) const;

  // Extra observer of every exchange (the monitor's journal).
  void set_listener(ExchangeObserver listener);
  // The port's account of the last failed exchange, "" when none failed since reset.
  std::string last_failure() const;
  // Whether that exchange's line is held by another process: the host's failure, not the driver's.
  bool last_failure_held_elsewhere() const;
  void reset_failure();

 private:
  // One line's exchanges as the session keeps them.
  struct History {
    std::uint64_t count = 0;
    std::deque<Exchanged> recent;
    std::array<bool, kLastPump> readings{};  // a pump reported a delivery's readings
  };

  void observe(const ExchangeRecord& record);
  void remember(const ExchangeRecord& record);  // under mutex_
  // Null for a line out of range.
  History* history(std::uint32_t line);
  const History* history(std::uint32_t line) const;

  std::ostream& diagnostics_;
  bool trace_;
  DriverLibrary library_;
  DriverSettings settings_;
  SerialPort port_;
  std::unique_ptr<BuiltinSimulator> simulator_;
  std::unique_ptr<Driver> driver_;
  std::vector<std::uint32_t> lines_;
  mutable std::mutex mutex_;
  ExchangeObserver listener_;
  std::string last_failure_;
  bool last_failure_held_elsewhere_ = false;
  std::array<History, kLastLine> history_{};
};

}  // namespace zarvo::host
