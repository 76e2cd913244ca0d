// Ends a forked test child at once, without the parent's exit handlers. In a
// coverage build the child writes its line counts first: _exit skips that.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#if defined(ZARVO_COVERAGE)
extern "C" void __gcov_dump(void);
#endif

namespace zarvo::testing {

[[noreturn]] inline void ExitChild(int code) {
#if defined(ZARVO_COVERAGE)
  __gcov_dump();
#endif
  ::_exit(code);
}

// Blocks SIGINT in the calling thread, has another process send it, as a
// terminal does on Ctrl-C, and then waits for it here, as the reference host
// does: true when it came. A thread started earlier that leaves SIGINT
// unblocked takes it instead, and its default action ends the process. For a
// forked child.
inline bool InterruptReachesABlockingThread() {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  const pid_t sender = ::fork();
  if (sender == 0) {
    ::kill(::getppid(), SIGINT);
    ::_exit(0);
  }
  ::waitpid(sender, nullptr, 0);
  const timespec wait{2, 0};
  return sigtimedwait(&interrupt, nullptr, &wait) == SIGINT;
}

}  // namespace zarvo::testing
