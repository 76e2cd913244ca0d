#include "fuzz/table/fuzz_port.h"

#include <algorithm>
#include <span>
#include <string>

#include "fuzz/table/invariants.h"
#include "tests/support/frames.h"
#include "tests/support/port_adapter.h"

namespace zarvo::table_fuzz {

namespace {

std::string number_text(std::uint32_t value, unsigned decimals) {
  std::string text = std::to_string(value);
  if (decimals == 0) return text;
  if (text.size() <= decimals) text.insert(0, decimals + 1 - text.size(), '0');
  text.insert(text.size() - decimals, ".");
  return text;
}

}  // namespace

void FuzzPort::reset() {
  rx_state_.fill(0);
  line_result_ = 0;
  fault_ = Fault::kNone;
  last_.reset();
  log.clear();
}

std::int32_t FuzzPort::GetLineResult(std::uint32_t) {
  if (fault_ == Fault::kGetLineResult) throw PortFailure{};
  return line_result_;
}

void FuzzPort::SetReplyCode(std::uint32_t, std::uint32_t) {
  if (fault_ == Fault::kSetReplyCode) throw PortFailure{};
}

void FuzzPort::SetRxState(std::uint32_t line, std::uint32_t state) {
  if (fault_ == Fault::kSetRxState || fail_forwarded) throw PortFailure{};
  rx_state_[line & 0xFF] = static_cast<std::int32_t>(state);
}

std::int32_t FuzzPort::GetRxState(std::uint32_t line) {
  if (fault_ == Fault::kGetRxState || fail_forwarded) throw PortFailure{};
  return rx_state_[line & 0xFF];
}

std::int32_t FuzzPort::ConfigureLine(std::uint32_t, std::uint32_t, std::uint32_t) {
  if (fail_forwarded) throw PortFailure{};
  return 0;
}

void FuzzPort::SetReplyCheck(std::uint32_t line, zarvo_reply_check check, void* context) {
  ++exchanges_begun;
  check_ = check;
  context_ = context;
  const std::uint8_t flags = program->u8();
  fault_ = static_cast<Fault>(flags & 7);
  if ((flags & 8) == 0) rx_state_[line & 0xFF] = 0;  // else the last reply's state stays
  override_result_ = (flags & 16) != 0;
  if (fault_ == Fault::kSetReplyCheck) throw PortFailure{};
}

std::int32_t FuzzPort::SendAndReceive(std::uint32_t line, const std::uint8_t* tx, std::uint32_t len,
                                      std::uint8_t* rx, std::uint32_t, std::uint32_t) {
  const std::span<const std::uint8_t> frame(tx, len);
  trace_bytes("[", frame);
  check_frame(frame);
  Exchanged now;
  now.line = static_cast<std::uint8_t>(line);
  now.payload = testing::PayloadOf(testing::Bytes(frame.begin(), frame.end()));
  if (now.type() == wire::kAcknowledge) check_acknowledgement(now, last_, *driver);
  if (slot == 21 && now.type() == wire::kWriteParam) check_programming(now);

  std::vector<std::uint8_t> reply;
  const std::uint8_t kind = program->u8() % 4;
  if (kind == 1) {
    line_result_ = program->sarg();
    last_ = now;  // nothing filed
    throw PortFailure{};
  }
  if (kind == 2) {
    const std::uint8_t n = program->u8();
    for (unsigned i = 0; i < n; ++i) reply.push_back(program->u8());
  } else if (kind == 3) {
    reply = framed_reply(now.asked());
  }
  std::size_t stored = 0;
  const bool accepted = testing::StoreUnderCheck(reply, rx, check_, context_, line, &stored);
  std::copy_n(reply.begin(), stored, now.rx.begin());
  trace_bytes("<", std::span(now.rx).first(stored));
  now.filed = intact(now.rx) && (now.asked() == 0 || now.address() == now.asked());
  last_ = now;
  log.push_back(now);
  if (override_result_) return program->sarg();
  return accepted ? 0 : 5;
}

std::vector<std::uint8_t> FuzzPort::field(std::size_t width) {
  std::vector<std::uint8_t> bytes;
  const std::uint8_t mode = program->u8();
  if (mode < 0x80) {
    const std::uint32_t value = program->u32();
    std::string text = number_text(value, mode % 4);
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    text.resize(width);
    bytes.assign(text.begin(), text.end());
  } else {
    for (std::size_t i = 0; i < width; ++i) bytes.push_back(program->u8());
  }
  return bytes;
}

std::vector<std::uint8_t> FuzzPort::framed_reply(std::uint8_t asked) {
  static constexpr std::string_view kTypes = "aRBJQ3";
  static constexpr std::string_view kStatus = "0123456789ABC";
  const std::uint8_t a = program->u8();
  const std::uint8_t address = a < 0xC0 ? asked : static_cast<std::uint8_t>(a & 0x3F);
  const std::uint8_t t = program->u8();
  const std::uint8_t type = t < kTypes.size() ? static_cast<std::uint8_t>(kTypes[t]) : t;
  std::vector<std::uint8_t> data;
  const auto append = [&](const std::vector<std::uint8_t>& bytes) {
    data.insert(data.end(), bytes.begin(), bytes.end());
  };
  switch (type) {
    case 'a':
    case 'R':
      for (int i = 0; i < 3; ++i) data.push_back(program->u8());  // number, state
      data.push_back(' ');
      data.push_back(' ');
      append(field(7));
      append(field(7));
      break;
    case 'B':
      data.push_back(program->u8());
      append(field(13));
      append(field(13));
      break;
    case 'J':
      for (int i = 0; i < 6; ++i) {
        const std::uint8_t c = program->u8();
        data.push_back(c < kStatus.size() ? static_cast<std::uint8_t>(kStatus[c]) : c);
      }
      break;
    case 'Q':
      data.push_back(program->u8());
      break;
    case '3':
      for (int i = 0; i < 4; ++i) data.push_back(program->u8());
      break;
    default:
      for (unsigned n = program->u8() % 32; n > 0; --n) data.push_back(program->u8());
      break;
  }
  testing::Bytes frame = testing::Frame(address, type, data);
  const std::uint8_t damage = program->u8();
  if ((damage & 1) != 0) frame[frame.size() - 2] ^= 0x5A;
  if ((damage & 2) != 0) frame.resize(std::min<std::size_t>(frame.size(), program->u8()));
  return frame;
}

}  // namespace zarvo::table_fuzz
