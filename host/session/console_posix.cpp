#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <string_view>
#include <thread>

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
  std::atomic<std::uint32_t> taken{0};  // by one thread, seen by all
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
  return wait_past(0, ms);
}

bool InterruptWatch::interrupted() const {
  return wait_past(0, 0);
}

std::uint32_t InterruptWatch::count() const {
  return saved_->taken;
}

bool InterruptWatch::wait_past(std::uint32_t seen, std::uint32_t ms) const {
  if (saved_->taken > seen) return true;
  timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000L};
  if (sigtimedwait(&saved_->set, nullptr, &timeout) > 0) ++saved_->taken;
  return saved_->taken > seen;
}

struct TerminalRestore::Saved {
  int tty = -1;
  termios mode{};
  sigset_t set{};
  sigset_t previous{};
  std::atomic<bool> done{false};
  std::thread watcher;

  // On the watcher's thread: the terminal as it was, then the end the signal means.
  void restore_and_end(int signal) const {
    termios now{};
    const bool changed = ::tcgetattr(tty, &now) == 0 && now.c_lflag != mode.c_lflag;
    ::tcsetattr(tty, TCSANOW, &mode);
    if (changed) {
      // Plain colours, the cursor shown, the main screen back.
      constexpr std::string_view kReset = "\x1b[0m\x1b[?25h\x1b[?1049l";
      [[maybe_unused]] const auto written = ::write(tty, kReset.data(), kReset.size());
    }
    ::signal(signal, SIG_DFL);
    sigset_t one{};
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);
  }
};

TerminalRestore::TerminalRestore() : saved_(std::make_unique<Saved>()) {
  Saved& saved = *saved_;
  saved.tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (saved.tty < 0) return;
  if (::tcgetattr(saved.tty, &saved.mode) != 0) {
    ::close(saved.tty);
    saved.tty = -1;
    return;
  }
  sigemptyset(&saved.set);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2}) {
    // A signal the process was told to ignore stays ignored.
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      sigaddset(&saved.set, signal);
    }
  }
  // Blocked here and in every thread started later; only the watcher takes them.
  pthread_sigmask(SIG_BLOCK, &saved.set, &saved.previous);
  saved.watcher = std::thread([&saved] {
    const timespec tick{0, 100'000'000};
    while (!saved.done) {
      const int signal = sigtimedwait(&saved.set, nullptr, &tick);
      if (signal > 0) saved.restore_and_end(signal);
    }
  });
}

TerminalRestore::~TerminalRestore() {
  if (saved_->tty < 0) return;
  saved_->done = true;
  saved_->watcher.join();
  pthread_sigmask(SIG_SETMASK, &saved_->previous, nullptr);
  ::close(saved_->tty);
}

// Terminals take the locale's encoding, which the texts are converted to.
struct ConsoleText::Saved {};

ConsoleText::ConsoleText() = default;
ConsoleText::~ConsoleText() = default;

}  // namespace zarvo::host
