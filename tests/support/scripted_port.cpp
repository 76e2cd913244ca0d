#include "tests/support/scripted_port.h"

#include <algorithm>
#include <string>

#include "protocol/crc.h"

namespace zarvo::testing {

Bytes ReplyFrame(std::uint8_t address, char type, const Bytes& data) {
  Bytes frame;
  frame.reserve(data.size() + 7);
  for (const std::uint8_t b :
       {std::uint8_t{0x16}, std::uint8_t{0x16}, address, static_cast<std::uint8_t>(data.size() + 1),
        static_cast<std::uint8_t>(type)}) {
    frame.push_back(b);
  }
  for (const std::uint8_t b : data) frame.push_back(b);
  const std::uint16_t crc = crc_of(std::span(frame).subspan(2));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

Bytes ReplyFrame(std::uint8_t address, char type, std::string_view data) {
  return ReplyFrame(address, type, Bytes(data.begin(), data.end()));
}

Bytes DeliveryData(std::uint16_t txn, char state, std::string_view amount,
                   std::string_view volume) {
  Bytes data;
  for (const std::uint8_t b :
       {static_cast<std::uint8_t>(txn >> 8), static_cast<std::uint8_t>(txn & 0xFF),
        static_cast<std::uint8_t>(state), std::uint8_t{' '}, std::uint8_t{' '}}) {
    data.push_back(b);
  }
  for (const char c : amount) data.push_back(static_cast<std::uint8_t>(c));
  for (const char c : volume) data.push_back(static_cast<std::uint8_t>(c));
  return data;
}

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
  const Bytes& frame = frames.at(index);
  return Bytes(frame.begin() + 2, frame.end() - 2);
}

std::vector<Bytes> ScriptedPort::payloads() const {
  std::vector<Bytes> all;
  for (std::size_t i = 0; i < frames.size(); ++i) all.push_back(payload(i));
  return all;
}

std::vector<Bytes> ScriptedPort::command_payloads() const {
  std::vector<Bytes> commands;
  for (const Bytes& p : payloads()) {
    if (p.size() < 3 || p[2] != 'L') commands.push_back(p);
  }
  return commands;
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
  } else if (auto_ack && len > 4 && tx[4] == 'L') {
    step = {Step::Kind::kReply, ReplyFrame(tx[2], 'Q', "0"), 0, false};
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
