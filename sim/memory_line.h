// A line inside one process: two connected ends, each byte delivered to the
// other end the moment it is written. Portable, no OS calls, so that a host
// on any system can talk to the simulator without a serial device:
//
//   zarvo::sim::MemorySimulator sim(options);  // serves one end in a thread
//   MemoryLine::End& port = sim.host_end();
//   port.write_all(request, std::nullopt);
//   auto n = port.read_some(buffer, Clock::now() + 100ms);
//
// The line keeps no time of its own: the simulator's pacing does, as on a
// pseudo-terminal (LinkOptions::instant_input). Thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "sim/simulator.h"

namespace zarvo::sim {

class MemoryLine {
  struct Shared;

 public:
  // A write hands the bytes to the other end at once (nothing once either end
  // is closed); a read of a closed line throws serial::HungUp.
  class End final : public serial::ByteStream {
   public:
    // Ends the line for both sides: the other end reads that it was closed.
    void close();

   private:
    friend class MemoryLine;
    End(Shared& shared, int side) : shared_(&shared), side_(side) {}
    std::size_t do_read_some(std::span<std::uint8_t> into,
                             std::optional<Clock::time_point> deadline,
                             const serial::StopSignal* stop) override;
    bool do_write_all(std::span<const std::uint8_t> bytes, std::optional<Clock::time_point>,
                      const serial::StopSignal* stop) override;
    void do_purge_input() override;
    Shared* shared_;
    int side_;  // reads inbox[side_], writes inbox[1 - side_]
  };

  MemoryLine();
  ~MemoryLine();
  MemoryLine(const MemoryLine&) = delete;
  MemoryLine& operator=(const MemoryLine&) = delete;

  End& first() { return first_; }
  End& second() { return second_; }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::uint8_t> inbox[2];
    bool closed = false;
  };
  std::unique_ptr<Shared> shared_;
  End first_;
  End second_;
};

// The simulator serving one end of a memory line in a background thread; the
// destructor closes the line and joins the thread.
class MemorySimulator {
 public:
  // Throws std::invalid_argument for bad options.
  explicit MemorySimulator(const Options& options = {});
  ~MemorySimulator();
  MemorySimulator(const MemorySimulator&) = delete;
  MemorySimulator& operator=(const MemorySimulator&) = delete;

  // The end a host's port object reads and writes.
  MemoryLine::End& host_end() { return line_.second(); }
  Simulator& simulator() { return simulator_; }
  std::string error() const { return serving_.error(); }

 private:
  Simulator simulator_;
  MemoryLine line_;
  ServingThread serving_;  // last: starts once the line exists
};

}  // namespace zarvo::sim
