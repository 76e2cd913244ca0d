#include "host/station/events.h"

#include <algorithm>
#include <utility>

namespace zarvo::host {

std::uint64_t EventLog::publish(std::uint32_t line, std::uint64_t sweep, Json body) {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    id = ++last_id_;
    events_.push_back(StationEvent{id, line, sweep, std::move(body)});
    if (events_.size() > capacity_) events_.pop_front();
  }
  changed_.notify_all();
  return id;
}

std::vector<StationEvent> EventLog::after(std::uint64_t id, bool* complete) const {
  std::lock_guard lock(mutex_);
  const auto first = std::ranges::upper_bound(events_, id, {}, &StationEvent::id);
  if (complete != nullptr) {
    *complete = id >= last_id_ || (!events_.empty() && events_.front().id <= id + 1);
  }
  return {first, events_.end()};
}

bool EventLog::wait_after(std::uint64_t id, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return last_id_ > id || closed_; });
}

std::uint64_t EventLog::last_id() const {
  std::lock_guard lock(mutex_);
  return last_id_;
}

void EventLog::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool EventLog::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace zarvo::host
