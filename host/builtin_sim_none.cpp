// Builds without the simulator: a session needs --line.
#include <stdexcept>

#include "host/builtin_sim.h"

namespace zarvo::host {

struct BuiltinSimulator::Impl {};

BuiltinSimulator::BuiltinSimulator(const BuiltinSimOptions&) {
  throw std::runtime_error("this build has no built-in simulator: give --line N=DEVICE");
}

BuiltinSimulator::~BuiltinSimulator() = default;

std::string BuiltinSimulator::device_path() const {
  return {};
}

std::chrono::milliseconds BuiltinSimulator::turnaround() const {
  return {};
}

}  // namespace zarvo::host
