#include "protocol/frame_text.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "zarvo/da30.h"

namespace zarvo::wire {

namespace {

constexpr std::size_t kAddress = kFrame.address;
constexpr std::size_t kLetter = kFrame.letter;
constexpr std::size_t kData = kFrame.data;

// The characters at [pos, pos + len) of the frame, or "" when the frame is shorter.
std::string field(std::span<const std::uint8_t> frame, std::size_t pos, std::size_t len) {
  if (pos + len > frame.size()) return {};
  std::string text;
  for (const std::uint8_t b : frame.subspan(pos, len)) {
    text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  }
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string pump_text(std::span<const std::uint8_t> frame) {
  return frame[kAddress] == kEveryPump ? std::string("all pumps")
                                       : "pump " + std::to_string(frame[kAddress]);
}

std::string number16(std::span<const std::uint8_t> frame, std::size_t pos) {
  if (pos + 2 > frame.size()) return "?";
  return std::to_string(frame[pos] * 256 + frame[pos + 1]);
}

std::string price_entries(std::span<const std::uint8_t> frame, std::size_t pos) {
  std::string text;
  // The data ends before the CRC.
  for (; pos + kPriceEntryWidth + kCrcSize <= frame.size(); pos += kPriceEntryWidth) {
    if (!text.empty()) text += ' ';
    text += field(frame, pos, kPriceEntryWidth);
  }
  return text;
}

// The driver's own reading of the status characters; "?" where the frame ends first.
std::string status_text(std::span<const std::uint8_t> frame) {
  if (kStatusAt + kStatusChars > frame.size()) return "?";
  const StatusScan scan = scan_status(frame.subspan<kStatusAt, kStatusChars>());
  return field(frame, kStatusAt, kStatusChars) + " (" + status_scan_label(scan) + ")";
}

// The digits at [pos, pos + len) of the frame as a number scaled down by
// 10^exponent; nothing when they are not all digits.
std::optional<double> digits_at(std::span<const std::uint8_t> frame, std::size_t pos,
                                std::size_t len, int exponent) {
  if (pos + len + kCrcSize > frame.size()) return std::nullopt;
  const auto* first = reinterpret_cast<const char*>(frame.data() + pos);
  std::uint64_t digits = 0;
  const auto [end, ec] = std::from_chars(first, first + len, digits);
  if (ec != std::errc() || end != first + len) return std::nullopt;
  return static_cast<double>(digits) / std::pow(10.0, exponent);
}

}  // namespace

std::optional<double> price_sent(std::span<const std::uint8_t> frame, unsigned nozzle,
                                 int price_decimals) {
  if (frame.size() <= kLetter || frame[kLetter] != kSetPrices || nozzle < 1) return std::nullopt;
  const std::size_t entry = kData + (nozzle - 1) * kPriceEntryWidth;
  return digits_at(frame, entry + kPriceEntryWidth - kPriceDigitsWidth, kPriceDigitsWidth,
                   price_decimals);
}

std::optional<PresetSent> preset_sent(std::span<const std::uint8_t> frame, int sum_decimals) {
  if (frame.size() <= kData + kPresetKindAt) return std::nullopt;
  std::optional<double> value;
  bool by_volume = false;
  if (frame[kLetter] == kMultiStart) {
    by_volume = frame[kData + kPresetKindAt] == kByVolume;
    value =
        digits_at(frame, kData + kPresetTargetAt, kPresetTargetWidth, by_volume ? 2 : sum_decimals);
  } else if (frame[kLetter] == kMonoStart) {
    // Whole litres, or the money without its hundredths.
    const auto volume = digits_at(frame, kData + kMonoVolumeAt, kMonoFieldWidth, 0);
    by_volume = volume.has_value() && *volume > 0;
    value = by_volume ? volume
                      : digits_at(frame, kData + kMonoAmountAt, kMonoFieldWidth, sum_decimals - 2);
  }
  if (!value) return std::nullopt;
  return PresetSent{by_volume, *value};
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
  static constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

std::string describe_request(std::span<const std::uint8_t> frame) {
  if (frame.size() < kData + kCrcSize) return "short frame";
  const std::string pump = pump_text(frame);
  const std::string nozzle = field(frame, kData + kNozzleDigitAt, 1);
  const std::string param = field(frame, kData, kParamNumberWidth);
  switch (frame[kLetter]) {
    case kStatusRequest:
      return "status request, " + pump;
    case kTotalsRequest:
      return "totals request, " + pump + " nozzle " + nozzle;
    case kStop:
      return "stop, " + pump;
    case kReadParam:
      return "read parameter " + param + ", " + pump;
    case kWriteParam:
      return "write parameter " + param + " = 0x" +
             field(frame, kData + kParamNumberWidth, kParamValueWidth) + ", " + pump;
    case kSetPrices:
      return "set prices, " + pump + ": " + price_entries(frame, kData);
    case kMultiStart: {
      const bool by_volume =
          kData + kPresetKindAt < frame.size() && frame[kData + kPresetKindAt] == kByVolume;
      return "start, " + pump + " nozzle " + nozzle + ", " + (by_volume ? "volume " : "amount ") +
             field(frame, kData + kPresetTargetAt, kPresetTargetWidth) + ", prices " +
             price_entries(frame, kData + kMultiPricesAt);
    }
    case kMonoStart:
      return "mono-product start, " + pump + " nozzle " + nozzle + ", amount " +
             field(frame, kData + kMonoAmountAt, kMonoFieldWidth) + " volume " +
             field(frame, kData + kMonoVolumeAt, kMonoFieldWidth) + ", price " +
             field(frame, kData + kMonoPriceAt, kPriceEntryWidth);
    case kAcknowledge:
      return "acknowledge transaction " + number16(frame, kData) + ", " + pump;
    default:
      return std::string("command ") + field(frame, kLetter, 1) + ", " + pump;
  }
}

std::string describe_reply(std::span<const std::uint8_t> frame) {
  if (frame.size() < kData + kCrcSize) return "short frame";
  const std::string from = "from pump " + std::to_string(frame[kAddress]);
  const std::string amount = trimmed(field(frame, kDeliveryAmountAt, kDeliveryFieldWidth));
  const std::string volume = trimmed(field(frame, kDeliveryVolumeAt, kDeliveryFieldWidth));
  switch (frame[kLetter]) {
    case kStatusReply:
      return "status " + status_text(frame) + ", " + from;
    case kAnswer: {
      const std::uint8_t digit = frame[kData];
      const std::string meaning =
          digit == kAccepted ? " (accepted)" : (digit == kRefused ? " (refused)" : std::string());
      return "answer " + field(frame, kData, 1) + meaning + ", " + from;
    }
    case kLiveReadings:
      return "fuelling, transaction " + number16(frame, kTxnHighAt) + " state " +
             field(frame, kDeliveryStateAt, 1) + ", amount " + amount + " volume " + volume + ", " +
             from;
    case kEndedDelivery:
      return "delivery ended, transaction " + number16(frame, kTxnHighAt) + ", amount " + amount +
             " volume " + volume + ", " + from;
    case kTotalsReply:
      return "totals, volume " + trimmed(field(frame, kTotalVolumeAt, kTotalFieldWidth)) +
             " amount " + trimmed(field(frame, kTotalAmountAt, kTotalFieldWidth)) + ", " + from;
    case kParamReply:
      return "parameter " + field(frame, kParamNumberAt, kParamNumberWidth) + " = 0x" +
             field(frame, kParamValueAt, kParamValueWidth) + ", " + from;
    default:
      return std::string("reply ") + field(frame, kLetter, 1) + ", " + from;
  }
}

std::string nozzle_text(unsigned nozzle, const char* what) {
  return "nozzle " + std::to_string(nozzle) + " " + what;
}

std::string status_scan_label(const StatusScan& scan) {
  std::string code = std::to_string(scan.state) + " ";
  switch (scan.finding) {
    case StatusFinding::kNoNews:
      return "no news, state kept";
    case StatusFinding::kIdle:
      return code + "idle";
    case StatusFinding::kLifted:
      return code + nozzle_text(scan.nozzle, "lifted");
    case StatusFinding::kLiftedAuthorized:
      return code + nozzle_text(scan.nozzle, "lifted and authorized");
    case StatusFinding::kAuthorized:
      return code + nozzle_text(scan.nozzle, "authorized");
    case StatusFinding::kEndedIdle:
      return code + "idle, transaction ended";
    case StatusFinding::kEndedUnacknowledged:
      return "transaction ended, " + std::to_string(ZARVO_PUMP_TRANSACTION_ENDED) +
             " once acknowledged";
    case StatusFinding::kFault:
      return code + "dispenser fault";
  }
  return code;
}

}  // namespace zarvo::wire
