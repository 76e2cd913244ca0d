// The simulator library's line in memory, in this process: no serial device
// needed. The simulator's pacing gives the bytes their wire time, as on a
// pseudo-terminal.
#include "host/session/builtin_sim.h"
#include "sim/memory_line.h"

namespace zarvo::host {

namespace {

// The port's side of the line; the simulator owns the line itself.
class MemoryLineDevice final : public LineDevice {
 public:
  explicit MemoryLineDevice(sim::MemoryLine::End& end) : end_(end) {}

  void purge_input() override { end_.purge_input(); }
  void write_all(std::span<const std::uint8_t> bytes, Clock::time_point) override {
    end_.write(bytes);
  }
  std::size_t read_some(std::span<std::uint8_t> into, Clock::time_point deadline) override {
    return end_.read(into, deadline);
  }

 private:
  sim::MemoryLine::End& end_;
};

}  // namespace

struct BuiltinSimulator::Impl {
  explicit Impl(const sim::Options& options) : line(options) {}
  sim::MemorySimulator line;
};

BuiltinSimulator::BuiltinSimulator(const sim::Options& options)
    : options_(options), impl_(std::make_unique<Impl>(options)) {}

BuiltinSimulator::~BuiltinSimulator() = default;

std::string BuiltinSimulator::device_path() const {
  return "memory line " + std::to_string(options_.model.line);
}

DeviceOpener BuiltinSimulator::opener() const {
  sim::MemoryLine::End& end = impl_->line.host_end();
  return [&end](std::uint32_t) { return std::make_unique<MemoryLineDevice>(end); };
}

const sim::Simulator& BuiltinSimulator::simulator() const {
  return impl_->line.simulator();
}

}  // namespace zarvo::host
