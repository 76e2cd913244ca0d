// The process's console: whether a stream is a terminal, interrupts that end
// a wait, and text a console shows whatever its code page. One file per OS:
// console_posix.cpp, console_win32.cpp.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>

namespace zarvo::host {

enum class StandardStream { kOutput, kError };

bool is_terminal(StandardStream stream);

// While it lives, an interrupt (Ctrl+C; SIGTERM or a closed console) does not
// end the process: it ends the next or current wait, between two exchanges.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // Waits up to `ms`; true when an interrupt came, now or before.
  bool wait(std::uint32_t ms) const;
  // Whether an interrupt came, without waiting: for threads that look
  // between two exchanges. Thread-safe.
  bool interrupted() const;
  // How many interrupts came while this watch lived.
  std::uint32_t count() const;
  // Waits up to `ms`; true when more than `seen` interrupts came: what one
  // interrupt began (stopping a pump) a further one ends.
  bool wait_past(std::uint32_t seen, std::uint32_t ms) const;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// While it lives, a signal that would end the process (SIGHUP, SIGINT,
// SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2) first puts the terminal back
// as it was when this began, then ends the process as the signal would have:
// a dialog that made the terminal raw never leaves it so. Nothing on Windows,
// whose dialogs are windows.
class TerminalRestore {
 public:
  TerminalRestore();
  ~TerminalRestore();
  TerminalRestore(const TerminalRestore&) = delete;
  TerminalRestore& operator=(const TerminalRestore&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// What a command throws once an interrupt ended it, after it stopped and
// showed what it had started: the process ends with status 130.
class Interrupted final : public std::exception {
 public:
  const char* what() const noexcept override { return "interrupted"; }
};

// While it lives, std::cout and std::cerr take UTF-8 and a console shows it
// right: on Windows they write UTF-16 to a console and UTF-8 when redirected.
class ConsoleText {
 public:
  ConsoleText();
  ~ConsoleText();
  ConsoleText(const ConsoleText&) = delete;
  ConsoleText& operator=(const ConsoleText&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace zarvo::host
