// A serial line as the port object drives it. The OS's serial devices open
// through open_serial_device (serial_port_posix.cpp, serial_port_win32.cpp);
// a line inside this process, such as the built-in simulator's, comes with
// an opener of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

namespace zarvo::host {

// Why a line could not be opened, set up, written or read; what() is for people.
class DeviceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The device is held by another process: another monitor, a terminal program.
class DeviceBusy : public DeviceError {
 public:
  using DeviceError::DeviceError;
};

class LineDevice {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~LineDevice() = default;

  // Drops what has arrived and not been read.
  virtual void purge_input() = 0;
  // Writes every byte before the deadline. Throws DeviceError.
  virtual void write_all(std::span<const std::uint8_t> bytes, Clock::time_point deadline) = 0;
  // Waits until bytes are there or the deadline passes, then takes up to
  // into.size() of them. A deadline already past still takes what is there:
  // bytes that came in time are not late because this thread was kept off the
  // processor. Returns 0 only at the deadline; throws DeviceError when the
  // line fails or hangs up.
  virtual std::size_t read_some(std::span<std::uint8_t> into, Clock::time_point deadline) = 0;
};

// Opens a line at a rate the port offers, raw 8N1. Throws DeviceError.
using DeviceOpener = std::function<std::unique_ptr<LineDevice>(std::uint32_t baud)>;

// The rates every line offers.
bool supported_baud(std::uint32_t baud);

// The OS's serial device, e.g. /dev/ttyUSB0, COM3 or \\.\COM10, raw 8N1 at
// `baud`, held by this process alone. Throws DeviceBusy when another process
// holds it, DeviceError for every other failure.
std::unique_ptr<LineDevice> open_serial_device(const std::string& path, std::uint32_t baud);

// What names the device itself, the same for every path that leads to it
// (/dev/pts/3, /dev//pts/3, a link to it; COM3 and \\.\com3), so that one
// device is never bound to two lines. Never throws.
std::string serial_device_identity(const std::string& path);

}  // namespace zarvo::host
