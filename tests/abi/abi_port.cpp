#include "tests/abi/abi_port.h"

#include <span>
#include <stdexcept>

#include "protocol/wire.h"

namespace zarvo::abi {
namespace {
using wire::kSyn;
constexpr std::size_t kRxBufSize = 255;
// What SendAndReceive returns when the whole script step was stored and the
// check never accepted it, as a port's reply timeout would.
constexpr std::int32_t kNoReplyAccepted = 5;
}  // namespace

const zarvo_port_ops AbiPort::kOps = [] {
  zarvo_port_ops ops{};
  ops.slot0 = &Unused;
  ops.GetLineResult = &GetLineResult;
  ops.SetReplyCode = &SetReplyCode;
  ops.SetRxState = &SetRxState;
  ops.GetRxState = &GetRxState;
  for (auto& unused : ops.slot5_to_15) unused = &Unused;
  ops.SendAndReceive = &SendAndReceive;
  ops.ConfigureLine = &ConfigureLine;
  ops.slot18 = &Unused;
  ops.SetReplyCheck = &SetReplyCheck;
  return ops;
}();

AbiPort::AbiPort() : object_{{&kOps}, this} {
  check_caller = [](zarvo_reply_check check, void* context, std::uint32_t line,
                    const std::uint8_t* rxbuf, const std::uint8_t* stored) {
    return check(context, line, rxbuf, 0xDEAD0001, stored, 0xDEAD0002);
  };
}

void AbiPort::clear_record() {
  sent_.clear();
  calls_.clear();
  problems_.clear();
}

AbiPort& AbiPort::of(zarvo_port* port) {
  // Object is standard-layout with the ABI's port as its first member.
  return *reinterpret_cast<Object*>(port)->self;
}

void ZARVO_STDCALL AbiPort::Unused(zarvo_port* port) {
  of(port).problems_.push_back("the driver called a port slot outside the contract");
}

std::int32_t ZARVO_STDCALL AbiPort::GetLineResult(zarvo_port* port, std::uint32_t line) {
  AbiPort& self = of(port);
  self.calls_.push_back({"GetLineResult", line});
  return self.line_result;
}

void ZARVO_STDCALL AbiPort::SetReplyCode(zarvo_port* port, std::uint32_t line, std::uint32_t code) {
  of(port).calls_.push_back({"SetReplyCode", line, code});
}

void ZARVO_STDCALL AbiPort::SetRxState(zarvo_port* port, std::uint32_t line, std::uint32_t state) {
  AbiPort& self = of(port);
  self.calls_.push_back({"SetRxState", line, state});
  self.rx_state_ = static_cast<std::int32_t>(state);
}

std::int32_t ZARVO_STDCALL AbiPort::GetRxState(zarvo_port* port, std::uint32_t line) {
  AbiPort& self = of(port);
  self.calls_.push_back({"GetRxState", line});
  return self.rx_state_;
}

std::int32_t ZARVO_STDCALL AbiPort::ConfigureLine(zarvo_port* port, std::uint32_t line,
                                                  std::uint32_t mode, std::uint32_t baud) {
  AbiPort& self = of(port);
  self.calls_.push_back({"ConfigureLine", line, mode, baud});
  if (self.configure_raises) throw std::runtime_error("the host's port cannot open the line");
  return self.configure_result;
}

void ZARVO_STDCALL AbiPort::SetReplyCheck(zarvo_port* port, std::uint32_t line,
                                          zarvo_reply_check check, void* context) {
  AbiPort& self = of(port);
  self.check_ = check;
  self.check_context_ = context;
  if (check == nullptr) self.problems_.push_back("SetReplyCheck without a check");
  (void)line;  // registered for every line alike
}

std::int32_t ZARVO_STDCALL AbiPort::SendAndReceive(zarvo_port* port, std::uint32_t line,
                                                   const std::uint8_t* txbuf, std::uint32_t txlen,
                                                   std::uint8_t* rxbuf, std::uint32_t arg42,
                                                   std::uint32_t syn) {
  AbiPort& self = of(port);
  if (arg42 != 42 || syn != kSyn) {
    self.problems_.push_back("SendAndReceive without the constants 42 and 22");
  }
  return self.exchange(line, txbuf, txlen, rxbuf);
}

std::int32_t AbiPort::exchange(std::uint32_t line, const std::uint8_t* txbuf, std::uint32_t txlen,
                               std::uint8_t* rxbuf) {
  if (txlen < 5 || txlen > kRxBufSize || txbuf[0] != kSyn || txbuf[1] != kSyn) {
    problems_.push_back("a frame without SYN SYN or of impossible length");
    return kNoReplyAccepted;
  }
  const std::span<const std::uint8_t> frame(txbuf, txlen);
  const auto payload =
      frame.subspan(wire::kFrame.address, txlen - wire::kFrame.address - wire::kCrcSize);
  const std::uint16_t crc = crc_of(payload);
  if (frame[txlen - 2] != (crc & 0xFF) || frame[txlen - 1] != (crc >> 8)) {
    problems_.push_back("a frame with a wrong CRC");
  }
  sent_.emplace_back(payload.begin(), payload.end());
  if (script_.empty()) {
    problems_.push_back("an exchange the script did not expect");
    return kNoReplyAccepted;
  }
  const Step step = std::move(script_.front());
  script_.pop_front();
  if (step.raise) throw std::runtime_error("the host's port failed in the middle of an exchange");
  if (step.frame.empty()) return step.result;
  if (check_ == nullptr) {
    problems_.push_back("an exchange before SetReplyCheck");
    return kNoReplyAccepted;
  }
  // Byte by byte, the count being the index of the last stored byte.
  for (std::size_t i = 0; i < step.frame.size() && i < kRxBufSize; ++i) {
    rxbuf[i] = step.frame[i];
    const auto stored = static_cast<std::uint8_t>(i);
    if ((check_caller(check_, check_context_, line, rxbuf, &stored) & 0xFF) != 0) return 0;
  }
  return kNoReplyAccepted;
}

}  // namespace zarvo::abi
