// What happens at the station, numbered in order: a bounded history that
// views read from any thread, and wait on for what comes next.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "host/output/json.h"

namespace zarvo::host {

struct StationEvent {
  std::uint64_t id = 0;
  std::uint32_t line = 0;
  std::uint64_t sweep = 0;  // the line's sweep it came from, for views that report by sweep
  Json body;                // {"event":"state"|"progress"|"delivery"|"line"|"command", ...}
};

class EventLog {
 public:
  explicit EventLog(std::size_t capacity = 4096) : capacity_(capacity) {}

  // Numbers the event and keeps it; returns its number.
  std::uint64_t publish(std::uint32_t line, std::uint64_t sweep, Json body);
  // The events kept after number `id`, oldest first. `complete` tells whether
  // every event after `id` is among them (none was dropped to make room).
  std::vector<StationEvent> after(std::uint64_t id, bool* complete = nullptr) const;
  // Waits until an event after `id` exists or the log closes, at most `timeout`.
  bool wait_after(std::uint64_t id, std::chrono::milliseconds timeout) const;
  std::uint64_t last_id() const;
  // Wakes every waiter for good: the station is ending.
  void close();
  bool closed() const;

 private:
  std::size_t capacity_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<StationEvent> events_;
  std::uint64_t last_id_ = 0;
  bool closed_ = false;
};

}  // namespace zarvo::host
