#include "protocol/decode.h"

#include <array>
#include <charconv>
#include <optional>
#include <string>

#include "protocol/messages.h"
#include "protocol/wire.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

using namespace wire;

std::optional<std::uint8_t> hex_digit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return std::nullopt;
}

std::string quoted(std::span<const std::uint8_t> field) {
  std::string text = "'";
  for (const std::uint8_t c : field) text += c < 0x20 ? '?' : static_cast<char>(c);
  return text + "'";
}

class Decoder {
 public:
  explicit Decoder(ExchangeState& state)
      : state_(state), rx_(state.RxBuf), tables_(state.link.tables) {}

  void run() {
    switch (rx_[kFrame.letter]) {
      case kParamReply:
        parameter();
        break;
      case kAnswer:
        command_answer();
        break;
      case kLiveReadings:
        delivery_readings();
        break;
      case kEndedDelivery:
        if (files_under_reporting_pump()) ended_delivery();
        break;
      case kTotalsReply:
        if (files_under_reporting_pump()) totals();
        break;
      case kStatusReply:
        status();
        break;
      default:
        break;
    }
  }

 private:
  std::uint8_t at(std::size_t pos) const { return rx_[pos]; }
  // A reply that ends a transaction is filed, and released, only in the row of
  // the pump that reported it. Elsewhere (a write, a stop of every pump, an
  // acknowledgement) it is left to the dispenser, which reports it again at
  // the pump's next status request.
  bool files_under_reporting_pump() const {
    return state_.Pump == at(kFrame.address) && tables_.HasRow(state_.Line, state_.Pump);
  }
  double field(std::size_t pos, std::size_t width) const {
    return ReplyFieldValue(std::span(rx_).subspan(pos, width));
  }
  void set_state(std::uint8_t value) { tables_.SetPumpState(state_.Line, state_.Pump, value); }
  void store_txn() {
    const auto txn = static_cast<std::uint16_t>(at(kTxnHighAt) * 256 + at(kTxnLowAt));
    tables_.SetTxnNo(state_.Line, at(kFrame.address), txn);
  }

  void parameter() {
    const auto number =
        static_cast<std::uint8_t>((at(kParamNumberAt) - '0') * 10 + (at(kParamNumberAt + 1) - '0'));
    const auto high = hex_digit(at(kParamValueAt));
    const auto low = hex_digit(at(kParamValueAt + 1));
    const auto value = static_cast<std::uint8_t>(high && low ? *high * 16 + *low : 0);
    tables_.SetLastParam(number, value);
    state_.findings.parameter = ExchangeFindings::Parameter{number, value};
  }

  // Modulo 256, like the digits' own states: any byte files a state.
  void command_answer() {
    set_state(static_cast<std::uint8_t>(ZARVO_PUMP_ANSWER + at(kFrame.data) - '0'));
  }

  void delivery_readings() {
    store_txn();
    set_state(static_cast<std::uint8_t>(ZARVO_PUMP_AUTHORIZED + at(kDeliveryStateAt) - '0'));
    readings();
  }
  void readings() {
    tables_.SetDispAmount(state_.Line, state_.Pump, field(kDeliveryAmountAt, kDeliveryFieldWidth));
    tables_.SetDispVolume(state_.Line, state_.Pump, field(kDeliveryVolumeAt, kDeliveryFieldWidth));
  }

  void ended_delivery() {
    store_txn();
    readings();
    AckTransaction(state_);
    set_state(ZARVO_PUMP_ENDED_IDLE);
  }

  void totals() {
    store_txn();
    tables_.SetTotalVolume(state_.Line, state_.Pump, field(kTotalVolumeAt, kTotalFieldWidth));
    tables_.SetTotalAmount(state_.Line, state_.Pump, field(kTotalAmountAt, kTotalFieldWidth));
    state_.findings.totals = true;
    AckTransaction(state_);
    set_state(ZARVO_PUMP_ENDED_IDLE);
  }

  // An ended transaction is acknowledged, and so marked, only in the row of
  // the pump that reported it.
  void status() {
    StatusScan scan = scan_status(std::span(rx_).subspan<kStatusAt, kStatusChars>());
    if (scan.finding == StatusFinding::kEndedUnacknowledged && files_under_reporting_pump()) {
      AckTransaction(state_);
      scan.state = ZARVO_PUMP_TRANSACTION_ENDED;
    }
    if (scan.state != 0) set_state(scan.state);
  }

  ExchangeState& state_;
  const FrameBuffer& rx_;
  ReplyTarget& tables_;
};

}  // namespace

double ReplyFieldValue(std::span<const std::uint8_t> field) {
  std::size_t begin = 0;
  std::size_t end = field.size();
  while (begin < end && field[begin] == ' ') ++begin;
  while (end > begin && field[end - 1] == ' ') --end;

  // Rewrite the number in the one form from_chars reads: [-]digits[.digits][e[-]digits].
  std::array<char, 32> text{};
  std::size_t len = 0;
  std::size_t pos = begin;
  const auto put = [&](char c) {
    if (len < text.size()) text[len++] = c;
  };
  const auto digits = [&] {
    std::size_t count = 0;
    while (pos < end && field[pos] >= '0' && field[pos] <= '9') {
      put(static_cast<char>(field[pos++]));
      ++count;
    }
    return count;
  };
  if (pos < end && (field[pos] == '+' || field[pos] == '-')) {
    if (field[pos] == '-') put('-');
    ++pos;
  }
  std::size_t mantissa = digits();
  if (pos < end && (field[pos] == '.' || field[pos] == ',')) {
    put('.');
    ++pos;
    mantissa += digits();
  }
  bool valid = mantissa > 0;
  if (valid && pos < end && (field[pos] == 'e' || field[pos] == 'E')) {
    put('e');
    ++pos;
    if (pos < end && (field[pos] == '+' || field[pos] == '-')) {
      if (field[pos] == '-') put('-');
      ++pos;
    }
    valid = digits() > 0;
  }
  double value = 0;
  if (valid && pos == end && len < text.size()) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + len, value);
    valid = ec == std::errc() && ptr == text.data() + len;
  } else {
    valid = false;
  }
  if (!valid) throw Exception(quoted(field) + " is not a valid floating point value");
  return value;
}

void DecodeReply(ExchangeState& state) {
  Decoder(state).run();
}

void AckTransaction(ExchangeState& state) {
  const std::uint8_t request_address =
      state.payload.empty() ? wire::kEveryPump : state.payload[wire::kPayload.address];
  // An acknowledgement after a request to every pump names the pump that answered.
  const std::uint8_t numbered_by =
      request_address != wire::kEveryPump ? request_address : state.RxBuf[wire::kFrame.address];
  const std::uint16_t txn = state.link.tables.TxnNoOf(state.Line, numbered_by);
  const std::array<std::uint8_t, 5> payload = {request_address, 3, wire::kAcknowledge,
                                               static_cast<std::uint8_t>(txn >> 8),
                                               static_cast<std::uint8_t>(txn & 0xFF)};
  if (state.nesting >= kMaxAckNesting) throw ESerialIO(messages::kAckFailed.str());
  if (Exchange(state.link, state.Line, 0, payload, nullptr, state.nesting + 1) != 0) {
    throw ESerialIO(messages::kAckFailed.str());
  }
}

}  // namespace zarvo
