// One request and its reply: frame the payload, let the host's port object
// send it and collect the reply under our check, then file the reply.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "port/port_dispatcher.h"
#include "protocol/exchange_log.h"
#include "protocol/frame.h"
#include "protocol/limits.h"
#include "protocol/reply_target.h"

namespace zarvo {

// The port and the tables an exchange works with, and the log when it is on.
struct Link {
  const PortDispatcher& port;
  ReplyTarget& tables;
  ExchangeLog* log = nullptr;
};

// What this very exchange decoded, for commands that must not trust a value
// left in the tables by an earlier one.
struct ExchangeFindings {
  struct Parameter {
    std::uint8_t number;
    std::uint8_t value;
  };
  std::optional<Parameter> parameter;
  bool totals = false;  // a totals reply was filed
};

// The working state of one call; each call has its own, so the nested
// acknowledgement never disturbs the exchange it answers.
struct ExchangeState {
  const Link& link;
  std::uint8_t Line;
  std::uint8_t Pump;  // the column the reply's readings are filed under
  std::span<const std::uint8_t> payload;
  TxFrame tx;
  FrameBuffer RxBuf{};
  int nesting = 0;  // acknowledgements around this exchange
  ExchangeFindings findings;
};

// The result of an exchange whose port took a reply from another pump than
// the one asked: nothing of it was filed, as if the asked pump were silent.
inline constexpr std::int32_t kReplyFromAnotherPump = -1;

// 0 means success; otherwise the port's result, or kReplyFromAnotherPump.
std::int32_t Exchange(const Link& link, std::uint8_t line, std::uint8_t pump,
                      std::span<const std::uint8_t> payload, ExchangeFindings* findings = nullptr);

// The nested form used by the acknowledgement.
std::int32_t Exchange(const Link& link, std::uint8_t line, std::uint8_t pump,
                      std::span<const std::uint8_t> payload, ExchangeFindings* findings,
                      int nesting);

struct ReplyVerdict {
  ReplyCode code;
  std::optional<RxState> state;  // reported before the code, when present
};

// Judges the bytes stored so far; stored is the port's count (the index of the
// last stored byte), so a complete reply of n + 6 bytes is judged at n + 5.
ReplyVerdict JudgeReply(std::span<const std::uint8_t, kFrameBufferSize> rx, std::uint8_t stored);

// The reply check the port calls: judges, reports to the port, and answers.
bool CheckReply(const PortDispatcher& port, std::uint8_t line,
                std::span<const std::uint8_t, kFrameBufferSize> rx, std::uint8_t stored,
                ExchangeLog* log = nullptr);

}  // namespace zarvo
