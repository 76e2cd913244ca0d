#include <signal.h>

#include <exception>
#include <utility>

#include "platform/signal_free_thread.h"

namespace zarvo::platform {

std::thread StartThreadWithoutSignals(std::function<void()> run) {
  // A new thread inherits the mask of the thread that starts it.
  sigset_t all{};
  sigset_t previous{};
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread thread;
  std::exception_ptr failed;
  try {
    thread = std::thread(std::move(run));
  } catch (...) {
    failed = std::current_exception();
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (failed) std::rethrow_exception(failed);
  return thread;
}

}  // namespace zarvo::platform
