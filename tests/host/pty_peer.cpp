#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace zarvo::host::testing {

PtyPeer::PtyPeer() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  device_ = ::ptsname(master_);
  slave_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  ::tcgetattr(slave_, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(slave_, TCSANOW, &tio);
  thread_ = std::thread([this] { serve(); });
}

PtyPeer::~PtyPeer() {
  stop_ = true;
  thread_.join();
  ::close(slave_);
  ::close(master_);
}

void PtyPeer::answer(Bytes bytes, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  script_.push_back({std::move(bytes), delay});
}

std::vector<Bytes> PtyPeer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool PtyPeer::wait_for_answers(std::size_t count) const {
  std::unique_lock lock(mutex_);
  return answered_cv_.wait_for(lock, std::chrono::seconds(1), [&] { return answered_ >= count; });
}

bool PtyPeer::read_request(Bytes& frame) {
  frame.clear();
  // SYN SYN address length, then length + 2 bytes of payload and CRC.
  std::size_t wanted = 4;
  while (!stop_) {
    pollfd pfd{master_, POLLIN, 0};
    if (::poll(&pfd, 1, 20) <= 0 || (pfd.revents & POLLIN) == 0) continue;
    std::uint8_t byte = 0;
    if (::read(master_, &byte, 1) != 1) continue;
    if (frame.empty() && byte != 0x16) continue;
    frame.push_back(byte);
    if (frame.size() == 4) wanted = 4 + frame[3] + 2;
    if (frame.size() >= wanted) return true;
  }
  return false;
}

void PtyPeer::serve() {
  Bytes request;
  while (read_request(request)) {
    ScriptedAnswer next;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      if (!script_.empty()) {
        next = std::move(script_.front());
        script_.pop_front();
      }
    }
    if (next.delay.count() > 0) std::this_thread::sleep_for(next.delay);
    if (!next.bytes.empty()) {
      std::size_t written = 0;
      while (written < next.bytes.size()) {
        const ssize_t n =
            ::write(master_, next.bytes.data() + written, next.bytes.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
      }
    }
    std::lock_guard lock(mutex_);
    ++answered_;
    answered_cv_.notify_all();
  }
}

}  // namespace zarvo::host::testing
