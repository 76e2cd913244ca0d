// The simulator's side of a line: a byte stream over a serial device, a
// pseudo-terminal or an in-memory line, and waits that a stop request cuts
// short. The OS calls live in line_io_posix.cpp and line_io_win32.cpp.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>

namespace zarvo::sim {

#if !defined(_WIN32)
// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
#endif

// Lets another thread end a serving loop: every wait watches it.
class StopSignal {
 public:
  StopSignal();  // throws std::system_error
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void request();
  bool requested() const;
#if defined(_WIN32)
  void* event() const {
    return event_;
  }
#else
  int fd() const {
    return read_.get();
  }
#endif

 private:
#if defined(_WIN32)
  void* event_ = nullptr;               // manual reset: stays set once requested
  std::atomic<bool> requested_{false};  // asked without a system call
#else
  UniqueFd read_;
  UniqueFd write_;
#endif
};

using Clock = std::chrono::steady_clock;

// Lets this thread's timed waits end on time: by default Linux may wake a
// sleeper up to 50 us late, a twentieth of a byte at 9600 baud, and Windows
// rounds waits up to its 15.6 ms tick.
void use_precise_timers();

// Waits until the deadline; false when a stop was requested first.
bool wait_until(Clock::time_point deadline, const StopSignal& stop);

// How a zarvo-sim process learns to end: a stop signal (SIGINT, SIGTERM,
// SIGHUP; Ctrl+C or a closed console on Windows) or, when watched, the end of
// standard input. Make it before any thread starts: on POSIX it blocks those
// signals for every thread but the one that waits.
class RunEnd {
 public:
  RunEnd();
  // Returns on a stop signal, at the end of standard input when watched, or
  // once `ended` says serving ended on its own (asked every 200 ms).
  void wait(bool watch_stdin, const std::function<bool()>& ended);
};

// A line as the serving loop sees it.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Waits until bytes are there, the deadline (if any) passes or a stop is
  // requested, then reads what is there. Returns the count (0: the wait ended
  // without bytes), or nothing once the other side has closed the line.
  // Throws std::system_error when the line fails.
  virtual std::optional<std::size_t> read_some(std::span<std::uint8_t> into,
                                               std::optional<Clock::time_point> deadline,
                                               const StopSignal& stop) = 0;

  // Writes every byte; false when a stop was requested first. Throws
  // std::system_error on failure.
  virtual bool write_all(std::span<const std::uint8_t> bytes, const StopSignal& stop) = 0;

  // Drops what has arrived and not been read.
  virtual void purge_input() = 0;
};

// A serial device at the given rate, raw 8N1: /dev/ttyS0 or, on Windows, COM4
// or \\.\COM10. Throws std::invalid_argument for a rate other than 1200 to
// 115200 and std::system_error when the device cannot be opened or set.
std::unique_ptr<ByteStream> open_serial(const std::string& path, int baud);

// Starts `run` on a thread that takes none of the signals sent to the process
// (on POSIX): a simulator inside a host leaves Ctrl-C to the host's threads,
// which may block it and wait for it; this thread would end the process.
std::thread start_thread_without_signals(std::function<void()> run);

#if !defined(_WIN32)
// Raw 8N1 at the given rate (1200 to 115200); throws std::invalid_argument for
// another rate and std::system_error when the device refuses.
void set_raw_line(int fd, int baud);

// A byte stream over a descriptor, owned or not (a pseudo-terminal's master).
class FdStream final : public ByteStream {
 public:
  explicit FdStream(int fd) : fd_(fd) {}
  explicit FdStream(UniqueFd owned) : owned_(std::move(owned)), fd_(owned_.get()) {}
  std::optional<std::size_t> read_some(std::span<std::uint8_t> into,
                                       std::optional<Clock::time_point> deadline,
                                       const StopSignal& stop) override;
  bool write_all(std::span<const std::uint8_t> bytes, const StopSignal& stop) override;
  void purge_input() override;

 private:
  UniqueFd owned_;
  int fd_;
};

struct PtyPair {
  UniqueFd master;
  UniqueFd slave;  // kept open so that the master never reads end-of-file
  std::string path;
};
PtyPair open_pty(int baud);
#endif

}  // namespace zarvo::sim
