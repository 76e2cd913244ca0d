#include "protocol/exchange_log.h"

#include <algorithm>
#include <new>

#include "protocol/wire.h"

namespace zarvo {
namespace {

using platform::LogEvent;
using platform::LogRecord;

// The reply in a buffer that the check found whole: its frame, no more.
std::span<const std::uint8_t> whole_reply(const FrameBuffer& rx) {
  const std::size_t size = rx[wire::kFrame.length] + wire::kFrameOverhead;
  return std::span(rx).first(std::min(size, rx.size()));
}

}  // namespace

void ExchangeLog::Start() {
  if (!log_.on() || lines_) return;
  try {
    lines_ = std::make_unique<std::array<LineWatch, 256>>();
  } catch (const std::bad_alloc&) {
    // Exchanges go unlogged; the log has the object's other events.
  }
}

std::int64_t ExchangeLog::Sent(std::uint8_t line, std::span<const std::uint8_t> frame) noexcept {
  LineWatch& watch = (*lines_)[line];
  watch.pump = frame.size() > wire::kFrame.address ? frame[wire::kFrame.address] : 0;
  watch.refusals = 0;
  watch.last = ReplyCode::kGood;
  watch.seen = 0;
  const std::int64_t now = platform::DriverLog::Now();
  log_.Record(LogEvent::kSent, now, [&](LogRecord& record) {
    record.has_line = true;
    record.line = line;
    record.pump = watch.pump;
    record.set_data(frame);
  });
  return now;
}

void ExchangeLog::Judged(std::uint8_t line, ReplyCode code,
                         std::span<const std::uint8_t, kFrameBufferSize> rx,
                         std::uint8_t stored) noexcept {
  LineWatch& watch = (*lines_)[line];
  // Bytes are stored in order: only the new ones are copied, unless the
  // port started the reply again.
  const std::size_t count = std::size_t{stored} + 1;
  const std::size_t from = count > watch.seen ? watch.seen : 0;
  std::copy(rx.begin() + static_cast<std::ptrdiff_t>(from),
            rx.begin() + static_cast<std::ptrdiff_t>(count), watch.reply.begin() + from);
  watch.seen = count;
  watch.last = code;
  if (code != ReplyCode::kBadCrc && code != ReplyCode::kNoSyn) return;
  if (watch.refusals++ >= kRefusalsLogged) return;
  Refused(watch, line, code == ReplyCode::kBadCrc ? Refusal::kBadCrc : Refusal::kNoSyn,
          std::span(watch.reply).first(count));
}

void ExchangeLog::Received(std::uint8_t line, const FrameBuffer& rx, std::int32_t result,
                           std::int64_t sent_at, bool intact, bool answered) noexcept {
  LineWatch& watch = (*lines_)[line];
  const std::span<const std::uint8_t> reply =
      intact ? whole_reply(rx) : std::span<const std::uint8_t>(watch.reply).first(watch.seen);
  // The port stopped collecting before the reply was whole.
  if (!intact && watch.seen > 0 && watch.last == ReplyCode::kIncomplete) {
    ++watch.refusals;
    Refused(watch, line, Refusal::kIncomplete, reply);
  }
  if (intact && !answered) {
    ++watch.refusals;
    Refused(watch, line, Refusal::kAnotherPump, reply);
  }
  const std::int64_t now = platform::DriverLog::Now();
  log_.Record(LogEvent::kReceived, now, [&](LogRecord& record) {
    record.has_line = true;
    record.line = line;
    record.pump = watch.pump;
    record.values[kResult] = result;
    record.values[kRefusals] = watch.refusals;
    record.values[kIntact] = intact ? 1 : 0;
    record.micros = static_cast<std::uint32_t>(std::max<std::int64_t>(now - sent_at, 0) / 1000);
    record.set_data(reply);
  });
}

void ExchangeLog::Refused(const LineWatch& watch, std::uint8_t line, Refusal why,
                          std::span<const std::uint8_t> reply) const noexcept {
  log_.Record(LogEvent::kRefused, [&](LogRecord& record) {
    record.has_line = true;
    record.line = line;
    record.pump = watch.pump;
    record.detail = static_cast<std::uint8_t>(why);
    record.set_data(reply);
  });
}

}  // namespace zarvo
