// Builds without the simulator: a session needs --line.
#include <stdexcept>

#include "host/session/builtin_sim.h"

namespace zarvo::host {

struct BuiltinSimulator::Impl {};

BuiltinSimulator::BuiltinSimulator(const BuiltinSimOptions& options) : options_(options) {
  throw std::runtime_error("this build has no built-in simulator: give --line N=DEVICE");
}

BuiltinSimulator::~BuiltinSimulator() = default;

std::string BuiltinSimulator::device_path() const {
  return {};
}

std::vector<SimTransaction> BuiltinSimulator::transactions() const {
  return {};
}

SimFaultCounts BuiltinSimulator::fault_counts() const {
  return {};
}

}  // namespace zarvo::host
