// The simulator library's line in memory, in this process: no serial device
// needed. The simulator's pacing gives the bytes their wire time, as on a
// pseudo-terminal.
#include "host/session/builtin_sim.h"
#include "sim/memory_line.h"

namespace zarvo::host {

namespace {

// What the port opens: the simulator's end of the line, which the simulator owns.
class MemoryLineDevice final : public serial::ByteStream {
 public:
  explicit MemoryLineDevice(sim::MemoryLine::End& end) : end_(end) {}

 private:
  std::size_t do_read_some(std::span<std::uint8_t> into,
                           std::optional<serial::Clock::time_point> deadline,
                           const serial::StopSignal* stop) override {
    return end_.read_some(into, deadline, stop);
  }
  bool do_write_all(std::span<const std::uint8_t> bytes,
                    std::optional<serial::Clock::time_point> deadline,
                    const serial::StopSignal* stop) override {
    return end_.write_all(bytes, deadline, stop);
  }
  void do_purge_input() override { end_.purge_input(); }

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
