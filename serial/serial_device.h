// A serial line as the host's port object and the simulator both use it:
// opening a device raw 8N1 at a rate, reading and writing with deadlines that
// a stop request cuts short, and what names a device. The OS's calls are in
// serial_posix.cpp and serial_win32.cpp; a line inside a process (the
// simulator's line in memory) is a ByteStream of its own.
//
// Thread safety: one thread at a time reads and writes a stream; any thread
// may request a stop.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

namespace zarvo::serial {

using Clock = std::chrono::steady_clock;

// Why a line could not be opened, set up, written or read; what() is for people.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The device is held by another process: another monitor, a terminal program.
class Busy : public Error {
 public:
  using Error::Error;
};

// The other side closed the line, or the device went away.
class HungUp : public Error {
 public:
  using Error::Error;
};

// The rates a line offers, each with eight data bits, no parity, one stop bit.
inline constexpr std::array<std::uint32_t, 8> kBaudRates{1200,  2400,  4800,  9600,
                                                         19200, 38400, 57600, 115200};

constexpr bool supported_baud(std::uint32_t baud) {
  return std::ranges::find(kBaudRates, baud) != kBaudRates.end();
}

// Throws std::invalid_argument for a rate not in kBaudRates.
inline void require_supported_baud(std::uint32_t baud) {
  if (!supported_baud(baud)) {
    throw std::invalid_argument("unsupported baud rate " + std::to_string(baud));
  }
}

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

// Lets another thread end a wait on a line: every wait given it watches it.
// Once requested, it stays requested.
class StopSignal {
 public:
  StopSignal();  // throws Error
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

// Waits until the deadline; false when a stop was requested first.
bool wait_until(Clock::time_point deadline, const StopSignal& stop);

// Lets this thread's timed waits end on time: by default Linux may wake a
// sleeper up to 50 us late, a twentieth of a byte at 9600 baud, and Windows
// rounds waits up to its 15.6 ms tick.
void use_precise_timers();

// A line's bytes: a serial device, a pseudo-terminal or a line in memory.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Waits until bytes are there, the deadline (if any) passes or `stop` (if
  // any) is requested, then takes up to into.size() of them. A deadline
  // already past still takes what is there: bytes that came in time are not
  // late because this thread was kept off the processor. Returns 0 only when
  // the wait ended without bytes. Throws HungUp once the other side has
  // closed the line, Error when the line fails.
  std::size_t read_some(std::span<std::uint8_t> into, std::optional<Clock::time_point> deadline,
                        const StopSignal* stop = nullptr) {
    return into.empty() ? 0 : do_read_some(into, deadline, stop);
  }

  // Writes every byte, before the deadline if one is given; false when `stop`
  // was requested first. Throws Error, also when the deadline passes.
  bool write_all(std::span<const std::uint8_t> bytes, std::optional<Clock::time_point> deadline,
                 const StopSignal* stop = nullptr) {
    return do_write_all(bytes, deadline, stop);
  }

  // Drops what has arrived and not been read.
  void purge_input() { do_purge_input(); }

 private:
  virtual std::size_t do_read_some(std::span<std::uint8_t> into,
                                   std::optional<Clock::time_point> deadline,
                                   const StopSignal* stop) = 0;
  virtual bool do_write_all(std::span<const std::uint8_t> bytes,
                            std::optional<Clock::time_point> deadline, const StopSignal* stop) = 0;
  virtual void do_purge_input() = 0;
};

// Whether a device is this process's alone while it is open. On Windows a
// COM port always is.
enum class Hold { kShared, kExclusive };

// The OS's serial device, e.g. /dev/ttyUSB0, COM3 or \\.\COM10, raw 8N1 at
// `baud`. Throws std::invalid_argument for a rate not in kBaudRates, Busy when
// another process holds the device, Error for every other failure.
std::unique_ptr<ByteStream> open_device(const std::string& path, std::uint32_t baud, Hold hold);

// What names the device itself, the same for every path that leads to it
// (/dev/pts/3, /dev//pts/3, a link to it; COM3 and \\.\com3). Never throws.
std::string device_identity(const std::string& path);

#if !defined(_WIN32)
// Throws Error with `what` and errno's text.
[[noreturn]] void fail_with_errno(const std::string& what);

// Raw 8N1 at `baud` on a terminal's descriptor; throws like open_device.
void make_raw(int fd, std::uint32_t baud);

// A stream over a descriptor that is set up already: a pseudo-terminal's
// master, say. Makes the descriptor non-blocking.
std::unique_ptr<ByteStream> stream_over(UniqueFd fd);
#endif

}  // namespace zarvo::serial
