// The dispenser simulator, run in this process on a pseudo-terminal, for
// `zarvo demo` and for a session started without --line.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zarvo::host {

struct BuiltinSimOptions {
  bool pacing = true;  // bytes at the line's real speed
  std::uint32_t baud = 9600;
  std::uint32_t line = 1;   // the line number in the simulator's record
  std::uint32_t pumps = 4;  // addresses 1..pumps answer
  // From a request's last byte to its reply's first; empty: the simulator's default.
  std::optional<std::chrono::milliseconds> turnaround;
};

class BuiltinSimulator {
 public:
  // Throws std::runtime_error when the build has no simulator.
  explicit BuiltinSimulator(const BuiltinSimOptions& options);
  ~BuiltinSimulator();
  BuiltinSimulator(const BuiltinSimulator&) = delete;
  BuiltinSimulator& operator=(const BuiltinSimulator&) = delete;

  std::string device_path() const;
  // The turnaround in force, the default one when none was given.
  std::chrono::milliseconds turnaround() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zarvo::host
