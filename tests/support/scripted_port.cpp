#include "tests/support/scripted_port.h"

#include <algorithm>
#include <string>

#include "protocol/wire.h"

namespace zarvo::testing {

ScriptedPort::ScriptedPort() = default;

namespace {
std::string call_text(const char* name, std::initializer_list<std::uint32_t> args) {
  std::string text = std::string(name) + "(";
  for (const std::uint32_t a : args) text += std::to_string(a) + ",";
  text.back() = ')';
  return text;
}
}  // namespace

std::int32_t ScriptedPort::GetLineResult(std::uint32_t line) {
  calls.push_back(call_text("GetLineResult", {line}));
  if (throws_in == "GetLineResult") throw std::runtime_error("port failure");
  return line_result;
}
void ScriptedPort::SetReplyCode(std::uint32_t line, std::uint32_t code) {
  calls.push_back(call_text("SetReplyCode", {line, code}));
  if (throws_in == "SetReplyCode") throw std::runtime_error("port failure");
}
void ScriptedPort::SetRxState(std::uint32_t line, std::uint32_t state) {
  calls.push_back(call_text("SetRxState", {line, state}));
  if (throws_in == "SetRxState") throw std::runtime_error("port failure");
  rx_state = static_cast<std::int32_t>(state);
}
std::int32_t ScriptedPort::GetRxState(std::uint32_t line) {
  calls.push_back(call_text("GetRxState", {line}));
  if (throws_in == "GetRxState") throw std::runtime_error("port failure");
  return rx_state;
}
std::int32_t ScriptedPort::ConfigureLine(std::uint32_t line, std::uint32_t mode,
                                         std::uint32_t baud) {
  calls.push_back(call_text("ConfigureLine", {line, mode, baud}));
  return configure_result;
}
void ScriptedPort::SetReplyCheck(std::uint32_t line, zarvo_reply_check check, void* context) {
  calls.push_back(call_text("SetReplyCheck", {line}));
  if (throws_in == "SetReplyCheck") throw std::runtime_error("port failure");
  check_ = check;
  context_ = context;
}

ScriptedPort& ScriptedPort::reply(Bytes bytes) {
  script_.push_back({Step::Kind::kReply, std::move(bytes), 0, false});
  return *this;
}
ScriptedPort& ScriptedPort::reply_with_result(Bytes bytes, std::int32_t result) {
  script_.push_back({Step::Kind::kReply, std::move(bytes), result, true});
  return *this;
}
ScriptedPort& ScriptedPort::silence(std::int32_t result) {
  script_.push_back({Step::Kind::kSilence, {}, result, true});
  return *this;
}
ScriptedPort& ScriptedPort::raise(std::int32_t result) {
  script_.push_back({Step::Kind::kRaise, {}, result, true});
  return *this;
}

Bytes ScriptedPort::payload(std::size_t index) const {
  return PayloadOf(frames.at(index));
}

std::vector<Bytes> ScriptedPort::payloads() const {
  std::vector<Bytes> all;
  for (std::size_t i = 0; i < frames.size(); ++i) all.push_back(payload(i));
  return all;
}

namespace {
bool is_acknowledgement(const Bytes& payload) {
  return payload.size() > wire::kPayload.letter &&
         payload[wire::kPayload.letter] == wire::kAcknowledge;
}
}  // namespace

std::vector<Bytes> ScriptedPort::command_payloads() const {
  std::vector<Bytes> commands;
  for (const Bytes& p : payloads()) {
    if (!is_acknowledgement(p)) commands.push_back(p);
  }
  return commands;
}

std::vector<Bytes> ScriptedPort::acknowledgements() const {
  std::vector<Bytes> acks;
  for (const Bytes& p : payloads()) {
    if (is_acknowledgement(p)) acks.push_back(p);
  }
  return acks;
}

std::int32_t ScriptedPort::SendAndReceive(std::uint32_t line, const std::uint8_t* tx,
                                          std::uint32_t len, std::uint8_t* rx, std::uint32_t arg42,
                                          std::uint32_t syn) {
  calls.push_back(call_text("SendAndReceive", {line, arg42, syn}));
  frames.emplace_back(tx, tx + len);
  Step step{Step::Kind::kSilence, {}, kNoReply, false};
  if (!script_.empty()) {
    step = std::move(script_.front());
    script_.pop_front();
  } else if (auto_ack && len > wire::kFrame.letter &&
             tx[wire::kFrame.letter] == wire::kAcknowledge) {
    step = {Step::Kind::kReply, Frame(tx[wire::kFrame.address], wire::kAnswer, "0"), 0, false};
  }
  if (step.kind == Step::Kind::kRaise) {
    line_result = step.result;
    throw std::runtime_error("port failure");
  }
  check_counts.clear();
  check_answers.clear();
  bool accepted = false;
  const std::size_t count = std::min<std::size_t>(step.bytes.size(), 255);
  for (std::size_t i = 0; i < count && !accepted; ++i) {
    rx[i] = step.bytes[i];
    const auto stored = static_cast<std::uint8_t>(i);
    check_counts.push_back(stored);
    accepted = (check_(context_, line, rx, 0, &stored, 0) & 0xFF) != 0;
    check_answers.push_back(accepted);
  }
  if (step.forced_result) return step.result;
  return accepted ? 0 : kNoReply;
}

}  // namespace zarvo::testing
