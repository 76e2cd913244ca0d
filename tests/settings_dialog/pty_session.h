// A child process on a pseudo-terminal of its own, the way a user's host runs
// on a terminal: keys go in, and what it draws is read back as screen text.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvo::testing {

// Enough of a terminal to read back what the dialog draws: cursor movement,
// clearing, the alternate screen; attributes are ignored. Text is UTF-8.
class ScreenEmulator {
 public:
  ScreenEmulator(int rows, int cols);
  void Feed(std::string_view bytes);
  // The active screen, one line per row, trailing blanks cut.
  std::string Text() const;

 private:
  using Grid = std::vector<std::vector<std::string>>;
  Grid blank() const;
  void put(std::string glyph);
  void control_sequence(std::string_view params, char final);

  int rows_;
  int cols_;
  Grid main_;
  Grid alternate_;
  bool on_alternate_ = false;
  int row_ = 0;
  int col_ = 0;
  std::string pending_;  // an incomplete sequence or character
};

class PtySession {
 public:
  // Runs body in the child, whose exit code is body's result. The child gets
  // LANG=C.UTF-8 so the dialog draws in UTF-8.
  explicit PtySession(const std::function<int()>& body);
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;
  ~PtySession();

  // Reads until the screen shows text; false after the timeout.
  bool WaitForScreen(std::string_view text, std::chrono::milliseconds timeout);
  void Send(std::string_view keys);
  // Reads until the child exits; its exit code, or -1 on a timeout or a signal.
  int WaitForExit(std::chrono::milliseconds timeout);

  std::string ScreenText() const { return screen_.Text(); }
  const std::string& Output() const { return output_; }

 private:
  // Reads what is there within timeout; false when the child closed the terminal.
  bool read_some(std::chrono::milliseconds timeout);

  pid_t child_ = -1;
  int master_ = -1;
  bool exited_ = false;
  std::string output_;
  ScreenEmulator screen_{24, 80};
};

}  // namespace zarvo::testing
