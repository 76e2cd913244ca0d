// The host's port object as the driver calls it. The host owns it; the driver
// only calls the seven entries of its table that the port contract names.
// Calls made for an exchange absorb whatever the port raises (see
// platform/port_guard.h), and the driver's log, when on, says so; the calls a
// slot only forwards (SetRxState, GetRxState, ConfigureLine) pass the port's
// failures on to the host.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/driver_log.h"
#include "platform/port_guard.h"
#include "zarvo/da30.h"

namespace zarvo {

// Codes the reply check reports through SetReplyCode.
enum class ReplyCode : std::uint8_t {
  kGood = ZARVO_REPLY_GOOD,
  kBadCrc = ZARVO_REPLY_BAD_CRC,
  kNoSyn = ZARVO_REPLY_NO_SYN,
  kIncomplete = ZARVO_REPLY_INCOMPLETE
};
// Reception states the reply check reports through SetRxState.
enum class RxState : std::uint8_t {
  kComplete = ZARVO_RX_COMPLETE,
  kMoreNeeded = ZARVO_RX_MORE_NEEDED
};

// The port's entries whose failures the driver absorbs, as the log names them.
enum class PortEntry : std::uint8_t {
  kSendAndReceive,  // or SetReplyCheck, called just before it
  kGetLineResult,
  kGetRxState,
  kInReplyCheck,  // SetReplyCode or SetRxState, called by the reply check
};

// What the driver registers with the port for a line's replies.
struct ReplyCheckRegistration {
  zarvo_reply_check check = nullptr;
  void* context = nullptr;
};

class PortDispatcher {
 public:
  PortDispatcher(zarvo_port* port, ReplyCheckRegistration registration,
                 const platform::DriverLog* log = nullptr)
      : port_(port), registration_(registration), log_(log) {}

  // What GetLineResult stands for when the port fails to answer it.
  static constexpr std::int32_t kNoLineResult = -1;

  // The line's result after a failed exchange.
  std::int32_t GetLineResult(std::uint8_t line) const {
    std::int32_t result = kNoLineResult;
    if (!platform::ReturnsNormally([&] { result = port_->ops->GetLineResult(port_, line); })) {
      Absorbed(line, PortEntry::kGetLineResult);
      return kNoLineResult;
    }
    return result;
  }
  void SetReplyCode(std::uint8_t line, ReplyCode code) const {
    port_->ops->SetReplyCode(port_, line, static_cast<std::uint32_t>(code));
  }
  void SetRxState(std::uint8_t line, std::uint8_t state) const {
    port_->ops->SetRxState(port_, line, state);
  }
  std::int32_t GetRxState(std::uint8_t line) const { return port_->ops->GetRxState(port_, line); }
  // Whether the port took the last reply; a port that fails to say did not.
  bool ReplyTaken(std::uint8_t line) const {
    std::int32_t state = 0;
    if (!platform::ReturnsNormally([&] { state = port_->ops->GetRxState(port_, line); })) {
      Absorbed(line, PortEntry::kGetRxState);
      return false;
    }
    return (state & 0xFF) == static_cast<std::int32_t>(RxState::kComplete);
  }
  std::int32_t ConfigureLine(std::uint8_t line, std::uint32_t mode, std::uint32_t baud) const {
    return port_->ops->ConfigureLine(port_, line, mode, baud);
  }
  // Registers the reply check and sends the frame: the port's result, or
  // nothing when the port failed.
  std::optional<std::int32_t> SendAndReceive(std::uint8_t line, std::span<const std::uint8_t> frame,
                                             std::uint8_t* rxbuf) const {
    std::int32_t result = 0;
    const bool answered = platform::ReturnsNormally([&] {
      port_->ops->SetReplyCheck(port_, line, registration_.check, registration_.context);
      result = port_->ops->SendAndReceive(port_, line, frame.data(),
                                          static_cast<std::uint32_t>(frame.size()), rxbuf,
                                          ZARVO_SEND_CONSTANT, ZARVO_SYN);
    });
    if (!answered) {
      Absorbed(line, PortEntry::kSendAndReceive);
      return std::nullopt;
    }
    return result;
  }

  // Logs a failure of the port's that the driver absorbed.
  void Absorbed(std::uint8_t line, PortEntry entry) const noexcept {
    if (log_ == nullptr) return;
    log_->Record(platform::LogEvent::kPortException, [&](platform::LogRecord& record) {
      record.has_line = true;
      record.line = line;
      record.detail = static_cast<std::uint8_t>(entry);
    });
  }

 private:
  zarvo_port* port_;
  ReplyCheckRegistration registration_;
  const platform::DriverLog* log_;
};

}  // namespace zarvo
