// Serial devices and pseudo-terminals through termios.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "host/port/line_device.h"

namespace zarvo::host {

namespace {

using Clock = LineDevice::Clock;

std::optional<speed_t> speed_for(std::uint32_t baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return std::nullopt;
  }
}

[[noreturn]] void fail_with_errno(const std::string& what) {
  throw DeviceError(what + ": " + std::strerror(errno));
}

// poll() counts whole milliseconds; round up so that a deadline is never cut short.
int poll_ms(Clock::time_point deadline) {
  const auto remaining = deadline - Clock::now();
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, 60'000));
}

class TermiosDevice final : public LineDevice {
 public:
  explicit TermiosDevice(int fd) : fd_(fd) {}
  ~TermiosDevice() override {
    // The mode outlives the descriptor while any other holds the terminal (a
    // pseudo-terminal's far side always does): the next user would be refused.
    if (exclusive_) (void)::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }
  TermiosDevice(const TermiosDevice&) = delete;
  TermiosDevice& operator=(const TermiosDevice&) = delete;

  // Keeps every other process off the line: the lock holds for root as well,
  // where the exclusive mode does not, and only processes that take it (every
  // zarvo) see it; the exclusive mode refuses other programs' opens. The
  // kernel drops the lock with the descriptor, however this process ends.
  void hold_exclusively() {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) throw DeviceBusy("in use by another process");
      fail_with_errno("lock");
    }
    // Pseudo-terminals may refuse the mode.
    exclusive_ = ::ioctl(fd_, TIOCEXCL) == 0;
  }

  void purge_input() override { ::tcflush(fd_, TCIFLUSH); }

  void write_all(std::span<const std::uint8_t> bytes, Clock::time_point deadline) override {
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) fail_with_errno("write");
      if (Clock::now() >= deadline) throw DeviceError("write timed out");
      pollfd pfd{fd_, POLLOUT, 0};
      if (::poll(&pfd, 1, poll_ms(deadline)) < 0 && errno != EINTR) fail_with_errno("poll");
    }
  }

  std::size_t read_some(std::span<std::uint8_t> into, Clock::time_point deadline) override {
    for (;;) {
      pollfd pfd{fd_, POLLIN, 0};
      const int ready = ::poll(&pfd, 1, poll_ms(deadline));
      if (ready < 0) {
        if (errno == EINTR) continue;
        fail_with_errno("poll");
      }
      if (ready == 0) {
        if (Clock::now() < deadline) continue;
        return 0;
      }
      if ((pfd.revents & POLLIN) == 0) throw DeviceError("the line hung up");
      const ssize_t n = ::read(fd_, into.data(), into.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        fail_with_errno("read");
      }
      if (n == 0) throw DeviceError("the line hung up");
      return static_cast<std::size_t>(n);
    }
  }

 private:
  int fd_;
  bool exclusive_ = false;
};

}  // namespace

std::unique_ptr<LineDevice> open_serial_device(const std::string& path, std::uint32_t baud) {
  const int raw = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) {
    // Another process holds the terminal in exclusive mode.
    if (errno == EBUSY) {
      throw DeviceBusy(std::string("in use by another process (open: ") + std::strerror(errno) +
                       ")");
    }
    fail_with_errno("open");
  }
  auto device = std::make_unique<TermiosDevice>(raw);
  termios tio{};
  if (::tcgetattr(raw, &tio) != 0) fail_with_errno("not a serial device");
  device->hold_exclusively();
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  const speed_t speed = speed_for(baud).value_or(B9600);
  if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
      ::tcsetattr(raw, TCSANOW, &tio) != 0) {
    fail_with_errno("line settings");
  }
  ::tcflush(raw, TCIOFLUSH);
  return device;
}

std::string serial_device_identity(const std::string& path) {
  // A character device is its numbers, whatever node or link leads to it.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
    return "character device " + std::to_string(major(info.st_rdev)) + ":" +
           std::to_string(minor(info.st_rdev));
  }
  // Not there yet (a line that comes up later): its path, links resolved.
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? std::filesystem::path(path).lexically_normal().string() : resolved.string();
}

}  // namespace zarvo::host
