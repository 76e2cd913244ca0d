// The POSIX side of a simulated line: descriptors, raw serial settings, a
// pseudo-terminal, and waits that a stop request cuts short.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <utility>

namespace zarvo::sim {

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

// Lets another thread end a serving loop: every wait watches it.
class StopSignal {
 public:
  StopSignal();  // throws std::system_error
  void request();
  bool requested() const;
  int fd() const { return read_.get(); }

 private:
  UniqueFd read_;
  UniqueFd write_;
};

using Clock = std::chrono::steady_clock;

// Lets this thread's timed waits end on time: by default Linux may wake a
// sleeper up to 50 us late, a twentieth of a byte at 9600 baud.
void use_precise_timers();

// Waits until the deadline; false when a stop was requested first.
bool wait_until(Clock::time_point deadline, const StopSignal& stop);

// Writes every byte unless a stop is requested; throws std::system_error on failure.
bool write_all(int fd, std::span<const unsigned char> bytes, const StopSignal& stop);

// Raw 8N1 at the given rate (1200 to 115200); throws std::invalid_argument for
// another rate and std::system_error when the device refuses.
void set_raw_line(int fd, int baud);

struct PtyPair {
  UniqueFd master;
  UniqueFd slave;  // kept open so that the master never reads end-of-file
  std::string path;
};
PtyPair open_pty(int baud);

UniqueFd open_serial(const std::string& path, int baud);

}  // namespace zarvo::sim
