#include "sim/line_io.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace zarvo::sim {
namespace {

// The signal mask the waiting thread lets the stop signals in with.
sigset_t run_end_wait_mask;

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

StopSignal::~StopSignal() = default;

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

std::optional<std::size_t> FdStream::read_some(std::span<std::uint8_t> into,
                                               std::optional<Clock::time_point> deadline,
                                               const StopSignal& stop) {
  int timeout = -1;
  if (deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
  }
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
  const int ready = poll(fds, 2, timeout);
  if (ready < 0) {
    if (errno == EINTR) return 0;
    fail("poll");
  }
  if (ready == 0 || fds[1].revents != 0) return 0;
  if ((fds[0].revents & POLLNVAL) != 0) throw std::invalid_argument("the line is not open");
  if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) return 0;
  const ssize_t n = read(fd_, into.data(), into.size());
  if (n == 0) return std::nullopt;
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return 0;
    fail("read");
  }
  return static_cast<std::size_t>(n);
}

bool FdStream::write_all(std::span<const std::uint8_t> bytes, const StopSignal& stop) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) fail("write");
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {stop.fd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) fail("poll");
    if (fds[1].revents != 0) return false;
  }
  return true;
}

void FdStream::purge_input() {
  // What tcflush cannot reach (a pseudo-terminal's master) is read and dropped.
  (void)tcflush(fd_, TCIFLUSH);
  std::array<std::uint8_t, 256> sink{};
  pollfd p{fd_, POLLIN, 0};
  while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0 &&
         read(fd_, sink.data(), sink.size()) > 0) {
  }
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

std::unique_ptr<ByteStream> open_serial(const std::string& path, int baud) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  if (!fd) fail("open " + path);
  set_raw_line(fd.get(), baud);
  return std::make_unique<FdStream>(std::move(fd));
}

RunEnd::RunEnd() {
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(s, &action, nullptr);
    sigaddset(&stop_signals, s);
  }
  // A background job must not be stopped for looking at the terminal.
  signal(SIGTTIN, SIG_IGN);
  // Blocked in every thread; ppoll lets them in only while wait() waits, so
  // their arrival is seen as EINTR there.
  pthread_sigmask(SIG_BLOCK, &stop_signals, &run_end_wait_mask);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&run_end_wait_mask, s);
}

void RunEnd::wait(bool watch_stdin, const std::function<bool()>& ended) {
  const timespec tick{0, 200'000'000};
  while (!ended()) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = ppoll(&in, watch_stdin ? 1 : 0, &tick, &run_end_wait_mask);
    if (ready < 0 && errno == EINTR) return;
    if (ready > 0) {
      char buffer[256];
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n == 0) return;
      if (n < 0 && errno != EINTR && errno != EAGAIN) watch_stdin = false;
    }
  }
}

std::thread start_thread_without_signals(std::function<void()> run) {
  // A new thread inherits the mask of the thread that starts it.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread thread;
  std::exception_ptr failed;
  try {
    thread = std::thread(std::move(run));
  } catch (...) {
    failed = std::current_exception();
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (failed) std::rethrow_exception(failed);
  return thread;
}

}  // namespace zarvo::sim
