// The host's port object as the driver calls it. The host owns it; the driver
// only calls the seven entries of its table that the port contract names.
#pragma once

#include <cstdint>
#include <span>

#include "zarvo/da30.h"

namespace zarvo {

// Codes the reply check reports through SetReplyCode.
enum class ReplyCode : std::uint8_t { kGood = 0, kBadCrc = 222, kNoSyn = 223, kIncomplete = 246 };
// Reception states the reply check reports through SetRxState.
enum class RxState : std::uint8_t { kComplete = 1, kMoreNeeded = 3 };

// What the driver registers with the port for a line's replies.
struct ReplyCheckRegistration {
  zarvo_reply_check check = nullptr;
  void* context = nullptr;
};

class PortDispatcher {
 public:
  PortDispatcher(zarvo_port* port, ReplyCheckRegistration registration)
      : port_(port), registration_(registration) {}

  std::int32_t GetLineResult(std::uint8_t line) const {
    return port_->ops->GetLineResult(port_, line);
  }
  void SetReplyCode(std::uint8_t line, ReplyCode code) const {
    port_->ops->SetReplyCode(port_, line, static_cast<std::uint32_t>(code));
  }
  void SetRxState(std::uint8_t line, std::uint8_t state) const {
    port_->ops->SetRxState(port_, line, state);
  }
  std::int32_t GetRxState(std::uint8_t line) const { return port_->ops->GetRxState(port_, line); }
  std::int32_t ConfigureLine(std::uint8_t line, std::uint32_t mode, std::uint32_t baud) const {
    return port_->ops->ConfigureLine(port_, line, mode, baud);
  }
  void SetReplyCheck(std::uint8_t line) const {
    port_->ops->SetReplyCheck(port_, line, registration_.check, registration_.context);
  }
  // The constants 42 and the SYN value travel with every exchange.
  std::int32_t SendAndReceive(std::uint8_t line, std::span<const std::uint8_t> frame,
                              std::uint8_t* rxbuf) const {
    return port_->ops->SendAndReceive(port_, line, frame.data(),
                                      static_cast<std::uint32_t>(frame.size()), rxbuf, 42, 22);
  }

 private:
  zarvo_port* port_;
  ReplyCheckRegistration registration_;
};

}  // namespace zarvo
