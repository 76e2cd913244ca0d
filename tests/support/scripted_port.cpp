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

struct ScriptedPortThunks {
  static ScriptedPort& self(zarvo_port* p) {
    return *reinterpret_cast<ScriptedPort::Handle*>(p)->self;
  }
  static void ZARVO_STDCALL unused(zarvo_port*) { throw std::logic_error("unused port slot"); }
  static std::int32_t ZARVO_STDCALL GetLineResult(zarvo_port* p, std::uint32_t line) {
    self(p).calls.push_back("GetLineResult(" + std::to_string(line) + ")");
    return self(p).line_result;
  }
  static void ZARVO_STDCALL SetReplyCode(zarvo_port* p, std::uint32_t line, std::uint32_t code) {
    self(p).calls.push_back("SetReplyCode(" + std::to_string(line) + "," + std::to_string(code) +
                            ")");
  }
  static void ZARVO_STDCALL SetRxState(zarvo_port* p, std::uint32_t line, std::uint32_t state) {
    self(p).calls.push_back("SetRxState(" + std::to_string(line) + "," + std::to_string(state) +
                            ")");
    self(p).rx_state = static_cast<std::int32_t>(state);
  }
  static std::int32_t ZARVO_STDCALL GetRxState(zarvo_port* p, std::uint32_t line) {
    self(p).calls.push_back("GetRxState(" + std::to_string(line) + ")");
    return self(p).rx_state;
  }
  static std::int32_t ZARVO_STDCALL SendAndReceive(zarvo_port* p, std::uint32_t line,
                                                   const std::uint8_t* tx, std::uint32_t len,
                                                   std::uint8_t* rx, std::uint32_t a42,
                                                   std::uint32_t syn) {
    self(p).calls.push_back("SendAndReceive(" + std::to_string(line) + "," + std::to_string(a42) +
                            "," + std::to_string(syn) + ")");
    return self(p).send_and_receive(line, tx, len, rx);
  }
  static std::int32_t ZARVO_STDCALL ConfigureLine(zarvo_port* p, std::uint32_t line,
                                                  std::uint32_t mode, std::uint32_t baud) {
    self(p).calls.push_back("ConfigureLine(" + std::to_string(line) + "," + std::to_string(mode) +
                            "," + std::to_string(baud) + ")");
    return self(p).configure_result;
  }
  static void ZARVO_STDCALL SetReplyCheck(zarvo_port* p, std::uint32_t line,
                                          zarvo_reply_check check, void* context) {
    self(p).calls.push_back("SetReplyCheck(" + std::to_string(line) + ")");
    self(p).check_ = check;
    self(p).context_ = context;
  }

  static const zarvo_port_ops kOps;
};

const zarvo_port_ops ScriptedPortThunks::kOps = [] {
  zarvo_port_ops ops{};
  ops.slot0 = &unused;
  for (auto& slot : ops.slot5_to_15) slot = &unused;
  ops.slot18 = &unused;
  ops.GetLineResult = &GetLineResult;
  ops.SetReplyCode = &SetReplyCode;
  ops.SetRxState = &SetRxState;
  ops.GetRxState = &GetRxState;
  ops.SendAndReceive = &SendAndReceive;
  ops.ConfigureLine = &ConfigureLine;
  ops.SetReplyCheck = &SetReplyCheck;
  return ops;
}();

ScriptedPort::ScriptedPort() : port_{{&ScriptedPortThunks::kOps}, this} {}

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

std::int32_t ScriptedPort::send_and_receive(std::uint32_t line, const std::uint8_t* tx,
                                            std::uint32_t len, std::uint8_t* rx) {
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
