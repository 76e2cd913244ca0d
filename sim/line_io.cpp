#include "sim/line_io.h"

#include <fcntl.h>
#include <poll.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace zarvo::sim {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void set_nonblocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) fail("fcntl");
}

speed_t speed_for(int baud) {
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
      throw std::invalid_argument("unsupported baud rate " + std::to_string(baud));
  }
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) close(fd_);
}

StopSignal::StopSignal() {
  int fds[2];
  if (pipe(fds) != 0) fail("pipe");
  read_ = UniqueFd(fds[0]);
  write_ = UniqueFd(fds[1]);
  set_nonblocking(read_.get());
  set_nonblocking(write_.get());
}

void StopSignal::request() {
  const unsigned char byte = 1;
  // A full pipe already holds a request.
  [[maybe_unused]] const auto written = write(write_.get(), &byte, 1);
}

bool StopSignal::requested() const {
  pollfd p{read_.get(), POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

void use_precise_timers() {
#if defined(__linux__)
  // One nanosecond of slack: the kernel's timer resolution decides.
  (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

bool wait_until(Clock::time_point deadline, const StopSignal& stop) {
  // One ppoll a wait: it watches the stop request and keeps the time at once,
  // which matters when every byte of a paced reply waits.
  pollfd p{stop.fd(), POLLIN, 0};
  for (;;) {
    const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
    const int ready = ppoll(&p, 1, &timeout, nullptr);
    if (ready > 0) return false;
    if (ready < 0 && errno != EINTR) fail("ppoll");
    if (Clock::now() >= deadline) return true;
  }
}

bool write_all(int fd, std::span<const unsigned char> bytes, const StopSignal& stop) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) fail("write");
    pollfd fds[2] = {{fd, POLLOUT, 0}, {stop.fd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) fail("poll");
    if (fds[1].revents != 0) return false;
  }
  return true;
}

void set_raw_line(int fd, int baud) {
  const speed_t speed = speed_for(baud);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) fail("tcgetattr");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) fail("cfsetspeed");
  if (tcsetattr(fd, TCSANOW, &tio) != 0) fail("tcsetattr");
}

PtyPair open_pty(int baud) {
  PtyPair pair;
  pair.master = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY));
  if (!pair.master) fail("posix_openpt");
  if (grantpt(pair.master.get()) != 0 || unlockpt(pair.master.get()) != 0) fail("unlockpt");
  char name[256];
  if (ptsname_r(pair.master.get(), name, sizeof name) != 0) fail("ptsname");
  pair.path = name;
  pair.slave = UniqueFd(open(name, O_RDWR | O_NOCTTY));
  if (!pair.slave) fail("open " + pair.path);
  set_raw_line(pair.slave.get(), baud);
  set_nonblocking(pair.master.get());
  return pair;
}

UniqueFd open_serial(const std::string& path, int baud) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  if (!fd) fail("open " + path);
  set_raw_line(fd.get(), baud);
  return fd;
}

}  // namespace zarvo::sim
