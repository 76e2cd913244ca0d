// The exchanges as the driver's log records them: each request, each reply
// with the exchange's result and how long it took, and each reply the check
// refused and why. Only raw bytes and numbers are queued here; their meaning
// is worked out by the log's writer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/driver_log.h"
#include "port/port_dispatcher.h"
#include "protocol/limits.h"

namespace zarvo {

// Why a reply was not taken.
enum class Refusal : std::uint8_t { kBadCrc, kNoSyn, kIncomplete, kAnotherPump };

// A port that keeps storing what the check refuses (noise before the frame)
// would log a refusal a byte: a few say enough, the reply's line counts them all.
inline constexpr std::uint16_t kRefusalsLogged = 3;

// What a kReceived record's values hold.
enum ReceivedValue : std::size_t { kResult, kRefusals, kIntact };

class ExchangeLog {
 public:
  explicit ExchangeLog(const platform::DriverLog& log) : log_(log) {}
  // Once the log is open: keeps track of each line's exchange when it is on.
  void Start();
  bool on() const { return lines_ != nullptr; }

  // The request is about to go out; returns when, for Received.
  std::int64_t Sent(std::uint8_t line, std::span<const std::uint8_t> frame) noexcept;
  // The check's verdict on the bytes the port stored so far (stored is the
  // index of the last one).
  void Judged(std::uint8_t line, ReplyCode code, std::span<const std::uint8_t, kFrameBufferSize> rx,
              std::uint8_t stored) noexcept;
  // The exchange ended with result; intact and answered say whether the
  // reply in rx was whole, and from the pump asked. Refusals found only now
  // (incomplete, another pump) are logged first.
  void Received(std::uint8_t line, const FrameBuffer& rx, std::int32_t result, std::int64_t sent_at,
                bool intact, bool answered) noexcept;

 private:
  // One line's exchange under way. Calls for one line never overlap.
  struct LineWatch {
    std::int32_t pump = 0;  // the address asked
    std::uint16_t refusals = 0;
    ReplyCode last = ReplyCode::kGood;
    std::size_t seen = 0;  // bytes of the reply the check saw, kept below
    FrameBuffer reply{};   // the port may wipe a refused reply from its buffer
  };
  void Refused(const LineWatch& watch, std::uint8_t line, Refusal why,
               std::span<const std::uint8_t> reply) const noexcept;

  const platform::DriverLog& log_;
  // By the line's byte, so that any line the host names has a row.
  std::unique_ptr<std::array<LineWatch, 256>> lines_;
};

}  // namespace zarvo
