// Serial devices and pseudo-terminals through termios, and waits through poll.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "serial/serial_device.h"

namespace zarvo::serial {

void fail_with_errno(const std::string& what) {
  throw Error(what + ": " + std::strerror(errno));
}

namespace {

speed_t speed_for(std::uint32_t baud) {
  // In the order of kBaudRates.
  constexpr std::array<speed_t, kBaudRates.size()> kSpeeds{B1200,  B2400,  B4800,  B9600,
                                                           B19200, B38400, B57600, B115200};
  require_supported_baud(baud);
  return kSpeeds[static_cast<std::size_t>(std::ranges::find(kBaudRates, baud) -
                                          kBaudRates.begin())];
}

void set_nonblocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) fail_with_errno("fcntl");
}

// poll() counts whole milliseconds; round up so that a deadline is never cut
// short. Without a deadline, no limit.
int poll_ms(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, 60'000));
}

bool passed(std::optional<Clock::time_point> deadline) {
  return deadline && Clock::now() >= *deadline;
}

class TerminalStream final : public ByteStream {
 public:
  explicit TerminalStream(UniqueFd fd) : fd_(std::move(fd)) {}
  ~TerminalStream() override {
    // The mode outlives the descriptor while any other holds the terminal (a
    // pseudo-terminal's far side always does): the next user would be refused.
    if (exclusive_) (void)::ioctl(fd_.get(), TIOCNXCL);
  }
  TerminalStream(const TerminalStream&) = delete;
  TerminalStream& operator=(const TerminalStream&) = delete;

  int fd() const { return fd_.get(); }

  // Keeps every other process off the line: the lock holds for root as well,
  // where the exclusive mode does not, and only processes that take it (every
  // zarvo) see it; the exclusive mode refuses other programs' opens. The
  // kernel drops the lock with the descriptor, however this process ends.
  void hold_exclusively() {
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) throw Busy("in use by another process");
      fail_with_errno("lock");
    }
    // Pseudo-terminals may refuse the mode.
    exclusive_ = ::ioctl(fd_.get(), TIOCEXCL) == 0;
  }

 private:
  std::size_t do_read_some(std::span<std::uint8_t> into, std::optional<Clock::time_point> deadline,
                           const StopSignal* stop) override {
    for (;;) {
      // poll() passes over a negative descriptor: no stop, nothing watched.
      std::array<pollfd, 2> fds{{{fd_.get(), POLLIN, 0}, {stop ? stop->fd() : -1, POLLIN, 0}}};
      const int ready = ::poll(fds.data(), fds.size(), poll_ms(deadline));
      if (ready < 0) {
        if (errno == EINTR) continue;
        fail_with_errno("poll");
      }
      if (fds[1].revents != 0) return 0;
      if (ready == 0) {
        if (passed(deadline)) return 0;
        continue;
      }
      if ((fds[0].revents & POLLNVAL) != 0) throw Error("the line is not open");
      if ((fds[0].revents & POLLIN) == 0) throw HungUp("the line hung up");
      const ssize_t n = ::read(fd_.get(), into.data(), into.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        fail_with_errno("read");
      }
      if (n == 0) throw HungUp("the line hung up");
      return static_cast<std::size_t>(n);
    }
  }

  bool do_write_all(std::span<const std::uint8_t> bytes, std::optional<Clock::time_point> deadline,
                    const StopSignal* stop) override {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
      if (n > 0) {
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) fail_with_errno("write");
      if (passed(deadline)) throw Error("write timed out");
      std::array<pollfd, 2> fds{{{fd_.get(), POLLOUT, 0}, {stop ? stop->fd() : -1, POLLIN, 0}}};
      if (::poll(fds.data(), fds.size(), poll_ms(deadline)) < 0 && errno != EINTR) {
        fail_with_errno("poll");
      }
      if (fds[1].revents != 0) return false;
    }
    return true;
  }

  // A device or a pseudo-terminal's slave drops what has arrived. On a master
  // tcflush may leave what the slave wrote queued: nothing purges a master.
  void do_purge_input() override { ::tcflush(fd_.get(), TCIFLUSH); }

  UniqueFd fd_;
  bool exclusive_ = false;
};

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

StopSignal::StopSignal() {
  int fds[2];
  if (::pipe(fds) != 0) fail_with_errno("pipe");
  read_ = UniqueFd(fds[0]);
  write_ = UniqueFd(fds[1]);
  set_nonblocking(read_.get());
  set_nonblocking(write_.get());
}

StopSignal::~StopSignal() = default;

void StopSignal::request() {
  const unsigned char byte = 1;
  // A full pipe already holds a request.
  [[maybe_unused]] const auto written = ::write(write_.get(), &byte, 1);
}

bool StopSignal::requested() const {
  pollfd p{read_.get(), POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
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
    const int ready = ::ppoll(&p, 1, &timeout, nullptr);
    if (ready > 0) return false;
    if (ready < 0 && errno != EINTR) fail_with_errno("ppoll");
    if (Clock::now() >= deadline) return true;
  }
}

void use_precise_timers() {
#if defined(__linux__)
  // One nanosecond of slack: the kernel's timer resolution decides.
  (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

void make_raw(int fd, std::uint32_t baud) {
  const speed_t speed = speed_for(baud);
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) fail_with_errno("not a serial device");
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // Reads never wait in the kernel: the waits are poll's.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
      ::tcsetattr(fd, TCSANOW, &tio) != 0) {
    fail_with_errno("line settings");
  }
}

std::unique_ptr<ByteStream> stream_over(UniqueFd fd) {
  set_nonblocking(fd.get());  // the stream's deadlines are poll's, never a blocked read
  return std::make_unique<TerminalStream>(std::move(fd));
}

std::unique_ptr<ByteStream> open_device(const std::string& path, std::uint32_t baud, Hold hold) {
  require_supported_baud(baud);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    // Another process holds the terminal in exclusive mode.
    if (errno == EBUSY) {
      throw Busy(std::string("in use by another process (open: ") + std::strerror(errno) + ")");
    }
    fail_with_errno("open");
  }
  termios probe{};
  if (::tcgetattr(fd.get(), &probe) != 0) fail_with_errno("not a serial device");
  auto stream = std::make_unique<TerminalStream>(std::move(fd));
  // Held before it is set up: a device another process holds is left as it is.
  if (hold == Hold::kExclusive) stream->hold_exclusively();
  make_raw(stream->fd(), baud);
  ::tcflush(stream->fd(), TCIOFLUSH);
  return stream;
}

std::string device_identity(const std::string& path) {
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

}  // namespace zarvo::serial
