#include "sim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "sim/frame_reader.h"

namespace zarvo::sim {

namespace {

// The time `bytes` take on the wire: start bit, eight data bits, stop bit.
// Exact to the nanosecond for any count, so that pacing never drifts.
Clock::duration wire_time(int baud, std::size_t bytes) {
  return std::chrono::nanoseconds(static_cast<long long>(bytes) * 10'000'000'000LL / baud);
}

}  // namespace

Simulator::Simulator(const Options& options)
    : link_(options.link),
      epoch_(Clock::now()),
      dispenser_(options.model),
      faults_(options.faults) {
  if (link_.baud <= 0) throw std::invalid_argument("baud must be positive");
  if (link_.turnaround < Millis{0} || link_.idle_gap <= Millis{0}) {
    throw std::invalid_argument("link times must be positive");
  }
}

Millis Simulator::now() const {
  return std::chrono::duration_cast<Millis>(Clock::now() - epoch_);
}

bool Simulator::lift(int pump, int nozzle) {
  std::lock_guard lock(mutex_);
  return dispenser_.lift(pump, nozzle, now());
}

bool Simulator::hang_up(int pump) {
  std::lock_guard lock(mutex_);
  return dispenser_.hang_up(pump, now());
}

std::vector<Transaction> Simulator::transactions() const {
  std::lock_guard lock(mutex_);
  return dispenser_.transactions();
}

FaultCounts Simulator::fault_counts() const {
  std::lock_guard lock(mutex_);
  return faults_.counts();
}

void Simulator::serve(int fd, const StopSignal& stop) {
  if (link_.pacing) use_precise_timers();
  FrameReader reader;
  const bool model_input = link_.pacing && link_.instant_input;
  Clock::time_point last_byte = Clock::now();
  // When the last byte read would have crossed the line.
  Clock::time_point heard = last_byte;
  std::array<std::uint8_t, 256> chunk{};
  for (;;) {
    int timeout = -1;
    if (reader.holds_bytes()) {
      const auto left = std::chrono::ceil<Millis>(last_byte + link_.idle_gap - Clock::now());
      timeout = static_cast<int>(std::max<Millis::rep>(0, left.count()));
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[1].revents != 0) return;
    if (ready == 0) {
      while (auto payload = reader.next(true)) respond(fd, *payload, heard, stop);
      continue;
    }
    if ((fds[0].revents & POLLNVAL) != 0) throw std::invalid_argument("the line is not open");
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n == 0) return;  // the line was closed
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "read");
    }
    last_byte = Clock::now();
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
      // Each byte leaves the host's side no earlier than it was written and
      // no earlier than the one before it has crossed.
      heard = model_input ? std::max(heard, last_byte) + wire_time(link_.baud, 1) : last_byte;
      reader.push(chunk[i]);
      while (auto payload = reader.next()) {
        respond(fd, *payload, heard, stop);
        if (stop.requested()) return;
      }
    }
  }
}

void Simulator::respond(int fd, const std::vector<std::uint8_t>& payload,
                        Clock::time_point received, const StopSignal& stop) {
  const auto request = parse_request(payload);
  if (!request) return;
  std::optional<Reply> reply;
  Fate fate;
  {
    std::lock_guard lock(mutex_);
    const Millis at = now();
    fate = faults_.on_request(at);
    if (!fate.heard) return;
    reply = dispenser_.handle(*request, at);
  }
  if (!reply || !fate.answered) return;
  auto frame = reply_frame(reply->address, reply->type, reply->data);
  if (fate.flipped_bit) FaultInjector::spoil(frame, *fate.flipped_bit);
  std::vector<std::uint8_t> bytes = std::move(fate.noise);
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  // Paced from when the reply is due, not from when this thread woke up.
  const auto due = received + link_.turnaround + fate.delay;
  if (!wait_until(due, stop)) return;
  send(fd, bytes, due, stop);
}

bool Simulator::send(int fd, std::span<const std::uint8_t> bytes, Clock::time_point start,
                     const StopSignal& stop) {
  if (!link_.pacing) return write_all(fd, bytes, stop);
  // A receiver has a byte once its stop bit ends, so byte i is handed over
  // i + 1 byte times after the reply starts.
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!wait_until(start + wire_time(link_.baud, i + 1), stop)) return false;
    if (!write_all(fd, bytes.subspan(i, 1), stop)) return false;
  }
  return true;
}

}  // namespace zarvo::sim
