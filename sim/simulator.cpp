#include "sim/simulator.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <stdexcept>

#include "platform/signal_free_thread.h"
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

void Simulator::serve(serial::ByteStream& line, const serial::StopSignal& stop) {
  if (link_.pacing) serial::use_precise_timers();
  FrameReader reader;
  const bool model_input = link_.pacing && link_.instant_input;
  Clock::time_point last_byte = Clock::now();
  // When the last byte read would have crossed the line.
  Clock::time_point heard = last_byte;
  std::array<std::uint8_t, 256> chunk{};
  for (;;) {
    std::optional<Clock::time_point> gap_ends;
    if (reader.holds_bytes()) gap_ends = last_byte + link_.idle_gap;
    std::size_t n = 0;
    try {
      n = line.read_some(chunk, gap_ends, &stop);
    } catch (const serial::HungUp&) {
      return;  // the line was closed
    }
    if (stop.requested()) return;
    if (n == 0) {
      if (gap_ends && Clock::now() >= *gap_ends) {
        while (auto payload = reader.next(true)) respond(line, *payload, heard, stop);
      }
      continue;
    }
    last_byte = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
      // Each byte leaves the host's side no earlier than it was written and
      // no earlier than the one before it has crossed.
      heard = model_input ? std::max(heard, last_byte) + wire_time(link_.baud, 1) : last_byte;
      reader.push(chunk[i]);
      while (auto payload = reader.next()) {
        respond(line, *payload, heard, stop);
        if (stop.requested()) return;
      }
    }
  }
}

void Simulator::respond(serial::ByteStream& line, const std::vector<std::uint8_t>& payload,
                        Clock::time_point received, const serial::StopSignal& stop) {
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
  if (!serial::wait_until(due, stop)) return;
  send(line, bytes, due, stop);
}

bool Simulator::send(serial::ByteStream& line, std::span<const std::uint8_t> bytes,
                     Clock::time_point start, const serial::StopSignal& stop) {
  if (!link_.pacing || link_.output_paced_by_line)
    return line.write_all(bytes, std::nullopt, &stop);
  // A receiver has a byte once its stop bit ends, so byte i is handed over
  // i + 1 byte times after the reply starts.
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!serial::wait_until(start + wire_time(link_.baud, i + 1), stop)) return false;
    if (!line.write_all(bytes.subspan(i, 1), std::nullopt, &stop)) return false;
  }
  return true;
}

ServingThread::ServingThread(Simulator& simulator, serial::ByteStream& line)
    : thread_(platform::StartThreadWithoutSignals([this, &simulator, &line] {
        std::string error;
        try {
          simulator.serve(line, stop_);
        } catch (const std::exception& e) {
          error = e.what();
        }
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
        ended_ = true;
      })) {}

ServingThread::~ServingThread() {
  stop();
}

void ServingThread::stop() {
  stop_.request();
  if (thread_.joinable()) thread_.join();
}

bool ServingThread::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

std::string ServingThread::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace zarvo::sim
