// One line's deliveries in a soak, driven by that line's thread alone: each
// pump waits until it is idle, gets a delivery started (a price now and then,
// a preset by amount or by volume), is followed to the delivery's end, has it
// journaled, and again.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "host/port/serial_port.h"
#include "host/session/driver.h"
#include "host/soak/soak.h"
#include "host/tools/delivery_tracker.h"
#include "host/tools/journal.h"

namespace zarvo::host {

// The journal's connection and its prepared insert serve one thread at a time.
class SharedJournal {
 public:
  explicit SharedJournal(Journal& journal) : journal_(journal) {}
  void record(const JournalEntry& entry) {
    std::lock_guard lock(mutex_);
    journal_.record(entry);
  }

 private:
  std::mutex mutex_;
  Journal& journal_;
};

class LineSoak {
 public:
  LineSoak(std::uint32_t line, const Driver& driver, SharedJournal& journal,
           CompletionTracker& tracker, const SoakOptions& options);

  // Called on this line's thread, from within its exchanges.
  void observe(const ExchangeRecord& record);

  // Starts deliveries until the line's exchanges reach the options' count,
  // then lets those running end.
  void run();

  std::uint32_t line() const { return line_; }
  std::size_t busy_pumps() const;
  std::uint64_t exchanges() const { return exchanges_; }
  const std::map<PortResult, std::uint64_t>& results() const { return results_; }
  // Failed driver calls, by the driver's message.
  const std::map<std::string, std::uint64_t>& failures() const { return failures_; }
  std::uint64_t strays() const { return strays_; }
  std::uint64_t crashes() const { return crashes_; }
  std::uint64_t presets() const { return presets_; }
  std::uint64_t not_started() const { return not_started_; }
  std::uint64_t journaled() const { return journaled_; }

 private:
  // One pump's place in the cycle.
  enum class Phase {
    kSettling,  // waiting for every nozzle to hang up
    kReady,     // idle: the next delivery may start
    kRunning,   // a preset went out; its delivery has not been journaled yet
  };

  struct PumpRun {
    std::uint32_t pump = 0;
    Phase phase = Phase::kSettling;
  };

  std::uint64_t draw(std::uint64_t count) { return random_() % count; }
  // Runs one driver call; a failure is counted by its message.
  template <class F>
  bool guarded(F&& call);
  void step(PumpRun& pump, bool may_start);
  void start(PumpRun& pump);
  // Journals the delivery whose end the last exchanges acknowledged.
  void journal_completion(PumpRun& pump);

  const std::uint32_t line_;
  const Driver& driver_;
  SharedJournal& journal_;
  CompletionTracker& tracker_;
  const SoakOptions& options_;
  std::mt19937_64 random_;
  std::vector<PumpRun> pumps_;
  std::uint64_t exchanges_ = 0;
  std::map<PortResult, std::uint64_t> results_;
  std::map<std::string, std::uint64_t> failures_;
  std::uint64_t strays_ = 0;
  std::uint64_t crashes_ = 0;
  std::uint64_t presets_ = 0;
  std::uint64_t not_started_ = 0;
  std::uint64_t journaled_ = 0;
};

}  // namespace zarvo::host
