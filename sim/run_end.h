// How a zarvo-sim process learns to end: a stop signal (SIGINT, SIGTERM,
// SIGHUP; Ctrl+C or a closed console on Windows) or, when watched, the end of
// standard input. The OS's calls are in run_end_posix.cpp and run_end_win32.cpp.
#pragma once

#include <functional>

namespace zarvo::sim {

class RunEnd {
 public:
  // Make it before any thread starts: on POSIX it blocks those signals for
  // every thread but the one that waits.
  RunEnd();
  // Returns on a stop signal, at the end of standard input when watched, or
  // once `ended` says serving ended on its own (asked every 200 ms).
  void wait(bool watch_stdin, const std::function<bool()>& ended);
};

}  // namespace zarvo::sim
