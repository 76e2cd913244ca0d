#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "sim/run_end.h"

namespace zarvo::sim {
namespace {

// The signal mask the waiting thread lets the stop signals in with.
sigset_t run_end_wait_mask;

}  // namespace

RunEnd::RunEnd() {
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(s, &action, nullptr);
    sigaddset(&stop_signals, s);
  }
  // A background job must not be stopped for looking at the terminal.
  signal(SIGTTIN, SIG_IGN);
  // Blocked in every thread; ppoll lets them in only while wait() waits, so
  // their arrival is seen as EINTR there.
  pthread_sigmask(SIG_BLOCK, &stop_signals, &run_end_wait_mask);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&run_end_wait_mask, s);
}

void RunEnd::wait(bool watch_stdin, const std::function<bool()>& ended) {
  const timespec tick{0, 200'000'000};
  while (!ended()) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = ppoll(&in, watch_stdin ? 1 : 0, &tick, &run_end_wait_mask);
    if (ready < 0 && errno == EINTR) return;
    if (ready > 0) {
      char buffer[256];
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n == 0) return;
      if (n < 0 && errno != EINTR && errno != EAGAIN) watch_stdin = false;
    }
  }
}

}  // namespace zarvo::sim
