#include "sim/memory_line.h"

#include <algorithm>

namespace zarvo::sim {
namespace {

// How late a wait of the serving side sees a stop request that came without
// the line being closed: only a plain StopSignal, not the line, is watched.
constexpr std::chrono::milliseconds stop_check{20};

}  // namespace

MemoryLine::MemoryLine()
    : shared_(std::make_unique<Shared>()), first_(*shared_, 0), second_(*shared_, 1) {}

MemoryLine::~MemoryLine() = default;

bool MemoryLine::End::do_write_all(std::span<const std::uint8_t> bytes,
                                   std::optional<Clock::time_point>,
                                   const serial::StopSignal* stop) {
  if (stop != nullptr && stop->requested()) return false;
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->closed) return true;
    auto& inbox = shared_->inbox[1 - side_];
    inbox.insert(inbox.end(), bytes.begin(), bytes.end());
  }
  shared_->arrived.notify_all();
  return true;
}

void MemoryLine::End::do_purge_input() {
  std::lock_guard lock(shared_->mutex);
  shared_->inbox[side_].clear();
}

void MemoryLine::End::close() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
  }
  shared_->arrived.notify_all();
}

std::size_t MemoryLine::End::do_read_some(std::span<std::uint8_t> into,
                                          std::optional<Clock::time_point> deadline,
                                          const serial::StopSignal* stop) {
  std::unique_lock lock(shared_->mutex);
  auto& inbox = shared_->inbox[side_];
  for (;;) {
    if (!inbox.empty()) {
      const std::size_t count = std::min(into.size(), inbox.size());
      std::copy_n(inbox.begin(), count, into.begin());
      inbox.erase(inbox.begin(), inbox.begin() + static_cast<std::ptrdiff_t>(count));
      return count;
    }
    if (shared_->closed) throw serial::HungUp("the line hung up");
    if (stop != nullptr && stop->requested()) return 0;
    const auto now = Clock::now();
    if (deadline && now >= *deadline) return 0;
    if (!deadline && stop == nullptr) {
      shared_->arrived.wait(lock);
      continue;
    }
    auto until = stop != nullptr ? now + stop_check : *deadline;
    if (deadline) until = std::min(until, *deadline);
    shared_->arrived.wait_until(lock, until);
  }
}

MemorySimulator::MemorySimulator(const Options& options)
    : simulator_(options), serving_(simulator_, line_.first()) {}

MemorySimulator::~MemorySimulator() {
  line_.first().close();
  serving_.stop();
}

}  // namespace zarvo::sim
