#include "protocol/exchange.h"

#include "protocol/decode.h"
#include "protocol/wire.h"

namespace zarvo {

ReplyVerdict JudgeReply(std::span<const std::uint8_t, kFrameBufferSize> rx, std::uint8_t stored) {
  // One SYN in the first two positions is enough for the header test.
  if (rx[0] != wire::kSyn && rx[1] != wire::kSyn) return {ReplyCode::kNoSyn, std::nullopt};
  const unsigned n = rx[wire::kFrame.length];
  // A length of 250 or more would not fit the buffer, whatever the count says.
  const std::size_t crc_at = n + wire::kFrame.letter;
  if (n > kMaxReplyLength || crc_at + 1 > stored) {
    return {ReplyCode::kIncomplete, RxState::kMoreNeeded};
  }
  const std::uint16_t crc = crc_of(rx.subspan(wire::kFrame.address, crc_at - wire::kFrame.address));
  if (rx[crc_at] == (crc & 0xFF) && rx[crc_at + 1] == (crc >> 8)) {
    return {ReplyCode::kGood, RxState::kComplete};
  }
  return {ReplyCode::kBadCrc, std::nullopt};
}

bool CheckReply(const PortDispatcher& port, std::uint8_t line,
                std::span<const std::uint8_t, kFrameBufferSize> rx, std::uint8_t stored,
                ExchangeLog* log) {
  const ReplyVerdict verdict = JudgeReply(rx, stored);
  if (log != nullptr) log->Judged(line, verdict.code, rx, stored);
  if (verdict.state) port.SetRxState(line, static_cast<std::uint8_t>(*verdict.state));
  port.SetReplyCode(line, verdict.code);
  return verdict.code == ReplyCode::kGood;
}

std::int32_t Exchange(const Link& link, std::uint8_t line, std::uint8_t pump,
                      std::span<const std::uint8_t> payload, ExchangeFindings* findings) {
  return Exchange(link, line, pump, payload, findings, 0);
}

std::int32_t Exchange(const Link& link, std::uint8_t line, std::uint8_t pump,
                      std::span<const std::uint8_t> payload, ExchangeFindings* findings,
                      int nesting) {
  ExchangeState state{link, line, pump, payload, {}, {}, nesting, {}};
  BuildFrame(state.tx, payload);
  const std::int64_t sent_at = link.log ? link.log->Sent(line, state.tx.sent()) : 0;
  const std::optional<std::int32_t> sent =
      link.port.SendAndReceive(line, state.tx.sent(), state.RxBuf.data());
  if (!sent) {
    const std::int32_t result = link.port.GetLineResult(line);
    if (link.log) link.log->Received(line, state.RxBuf, result, sent_at, false, true);
    return result;
  }
  const std::int32_t result = *sent;
  // Only an intact reply reaches the tables: the port may return early with
  // a partial or corrupted frame in the buffer. A reply from another pump than
  // the one asked is a late answer to someone else: filed here it would land
  // in this pump's row and acknowledge this pump's transaction.
  const bool intact = JudgeReply(state.RxBuf, kFrameBufferSize - 1).code == ReplyCode::kGood;
  const std::uint8_t asked = payload[wire::kPayload.address];
  const bool answered = wire::answers(asked, state.RxBuf[wire::kFrame.address]);
  // A port that hands such a reply over has still not heard the pump asked.
  const std::int32_t outcome = result == 0 && intact && !answered ? kReplyFromAnotherPump : result;
  // Logged before decoding, so that an acknowledgement follows the reply it answers.
  if (link.log) link.log->Received(line, state.RxBuf, outcome, sent_at, intact, answered);
  if (intact && answered) DecodeReply(state);
  if (findings) *findings = state.findings;
  return outcome;
}

}  // namespace zarvo
