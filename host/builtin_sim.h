// The dispenser simulator, run in this process on a pseudo-terminal, for
// `zarvo demo` and for a session started without --line.
#pragma once

#include <memory>
#include <string>

namespace zarvo::host {

struct BuiltinSimOptions {
  bool pacing = true;  // bytes at the line's real speed
};

class BuiltinSimulator {
 public:
  // Throws std::runtime_error when the build has no simulator.
  explicit BuiltinSimulator(const BuiltinSimOptions& options);
  ~BuiltinSimulator();
  BuiltinSimulator(const BuiltinSimulator&) = delete;
  BuiltinSimulator& operator=(const BuiltinSimulator&) = delete;

  std::string device_path() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zarvo::host
