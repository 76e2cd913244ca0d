#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <ctime>

#include "host/session/console.h"

namespace zarvo::host {

bool is_terminal(StandardStream stream) {
  return ::isatty(stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

// The signals stay blocked for this thread and the threads it starts, and
// only a wait takes them.
struct InterruptWatch::Saved {
  sigset_t set{};
  sigset_t previous{};
  std::atomic<bool> seen{false};  // taken by one thread, seen by all
};

InterruptWatch::InterruptWatch() : saved_(std::make_unique<Saved>()) {
  sigemptyset(&saved_->set);
  sigaddset(&saved_->set, SIGINT);
  sigaddset(&saved_->set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &saved_->set, &saved_->previous);
}

InterruptWatch::~InterruptWatch() {
  pthread_sigmask(SIG_SETMASK, &saved_->previous, nullptr);
}

bool InterruptWatch::wait(std::uint32_t ms) const {
  if (saved_->seen) return true;
  timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000L};
  if (sigtimedwait(&saved_->set, nullptr, &timeout) > 0) saved_->seen = true;
  return saved_->seen;
}

bool InterruptWatch::interrupted() const {
  return wait(0);
}

// Terminals take the locale's encoding, which the texts are converted to.
struct ConsoleText::Saved {};

ConsoleText::ConsoleText() = default;
ConsoleText::~ConsoleText() = default;

}  // namespace zarvo::host
