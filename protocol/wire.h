// The dispenser line's vocabulary: where each byte of a frame sits, the
// letters, the field widths and the status characters, the one frame
// encoder, and the status scan. Pure and header-only, so that the driver, the
// simulator, the host's trace and the tests all read frames the same way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/crc.h"
#include "zarvo/da30.h"

namespace zarvo::wire {

inline constexpr std::uint8_t kSyn = ZARVO_SYN;

// A frame: SYN SYN, address, length, letter, data, CRC low byte first. The
// length byte counts the letter and the data; the CRC covers address to data.
// A payload is the frame without its SYNs and CRC.
struct Positions {
  std::size_t address;
  std::size_t length;
  std::size_t letter;
  std::size_t data;
};
inline constexpr Positions kFrame{2, 3, 4, 5};
inline constexpr Positions kPayload{0, 1, 2, 3};
inline constexpr std::size_t kCrcSize = 2;
// A frame of length byte n takes n + kFrameOverhead bytes.
inline constexpr std::size_t kFrameOverhead = kFrame.letter + kCrcSize;
// Address 0 speaks to every pump of the line.
inline constexpr std::uint8_t kEveryPump = 0;

// A reply answers a request to its own pump; a request to every pump is
// answered by whichever pump speaks for the line.
constexpr bool answers(std::uint8_t asked, std::uint8_t replying) {
  return asked == kEveryPump || replying == asked;
}

// Requests.
inline constexpr std::uint8_t kMonoStart = '1';
inline constexpr std::uint8_t kWriteParam = '2';
inline constexpr std::uint8_t kReadParam = '3';
inline constexpr std::uint8_t kSetPrices = '4';
inline constexpr std::uint8_t kStop = '5';
inline constexpr std::uint8_t kMultiStart = '9';
inline constexpr std::uint8_t kTotalsRequest = 'B';
inline constexpr std::uint8_t kStatusRequest = 'J';
inline constexpr std::uint8_t kAcknowledge = 'L';

// Replies.
inline constexpr std::uint8_t kParamReply = '3';
inline constexpr std::uint8_t kTotalsReply = 'B';
inline constexpr std::uint8_t kStatusReply = 'J';
inline constexpr std::uint8_t kAnswer = 'Q';
inline constexpr std::uint8_t kLiveReadings = 'R';
inline constexpr std::uint8_t kEndedDelivery = 'a';

// A command answer's digit, and the state digit of live readings.
inline constexpr std::uint8_t kAccepted = '0';
inline constexpr std::uint8_t kRefused = '1';
inline constexpr std::uint8_t kDeliveryEnded = '0';
inline constexpr std::uint8_t kFuelling = '1';
inline constexpr std::uint8_t kStopped = '2';

// Request data, from the letter's next byte on.
inline constexpr std::size_t kNozzleDigitAt = 0;  // starts and totals requests
inline constexpr std::size_t kPresetKindAt = 1;
inline constexpr std::uint8_t kByVolume = 'V';
inline constexpr std::uint8_t kByAmount = 'A';
// What a multi-nozzle start limits: kByVolume or kByAmount.
enum class PresetKind : std::uint8_t { kVolume, kAmount };
constexpr std::uint8_t preset_letter(PresetKind kind) {
  return kind == PresetKind::kVolume ? kByVolume : kByAmount;
}
// The kind a letter names; none for any other byte.
constexpr std::optional<PresetKind> preset_kind(std::uint8_t letter) {
  if (letter == kByVolume) return PresetKind::kVolume;
  if (letter == kByAmount) return PresetKind::kAmount;
  return std::nullopt;
}
inline constexpr std::uint8_t kMonoKind = 'P';
inline constexpr std::size_t kPresetTargetAt = 2;
inline constexpr std::size_t kPresetTargetWidth = 6;
inline constexpr std::size_t kMultiPricesAt = kPresetTargetAt + kPresetTargetWidth;
inline constexpr std::size_t kMonoAmountAt = 2;
inline constexpr std::size_t kMonoVolumeAt = 6;
inline constexpr std::size_t kMonoFieldWidth = 4;
inline constexpr std::size_t kMonoPriceAt = 10;
// A price entry: a code byte the dispenser ignores and four digits.
inline constexpr std::size_t kPriceEntryWidth = 5;
inline constexpr std::size_t kPriceDigitsWidth = 4;
// Parameters: two decimal digits of number, two hex digits of value.
inline constexpr std::size_t kParamNumberWidth = 2;
inline constexpr std::size_t kParamValueWidth = 2;
// What the driver programs into a dispenser before its first poll and after a
// confirmed settings change, in this order: the decimals of amounts, those of
// prices, and parameter 42, which it always sets to 0.
inline constexpr std::uint8_t kAmountDecimalsParam = 40;
inline constexpr std::uint8_t kPriceDecimalsParam = 41;
inline constexpr std::uint8_t kZeroedParam = 42;

// Reply fields, as frame positions.
inline constexpr std::size_t kTxnHighAt = 5;
inline constexpr std::size_t kTxnLowAt = 6;
inline constexpr std::size_t kDeliveryStateAt = 7;
inline constexpr std::size_t kDeliveryAmountAt = 10;
inline constexpr std::size_t kDeliveryVolumeAt = 17;
inline constexpr std::size_t kDeliveryFieldWidth = 7;
inline constexpr std::size_t kTotalVolumeAt = 6;  // overlaps the transaction number's low byte
inline constexpr std::size_t kTotalAmountAt = 19;
inline constexpr std::size_t kTotalFieldWidth = 13;
inline constexpr std::size_t kParamNumberAt = 5;
inline constexpr std::size_t kParamValueAt = kParamNumberAt + kParamNumberWidth;
inline constexpr std::size_t kStatusAt = 5;  // one character a nozzle
inline constexpr std::size_t kStatusChars = 6;

// Status characters, named by what the scan makes of them.
inline constexpr std::uint8_t kNoNews = '0';
inline constexpr std::uint8_t kIdleUnlessDecided = '1';
inline constexpr std::uint8_t kIdle = '2';
inline constexpr std::uint8_t kLifted = '3';
inline constexpr std::uint8_t kLiftedAuthorized = '4';
inline constexpr std::uint8_t kAuthorized = '5';
inline constexpr std::uint8_t kEndedIdle = '6';
inline constexpr std::uint8_t kEndedIdle2 = '7';
inline constexpr std::uint8_t kIdleUnlessDecided2 = '8';
inline constexpr std::uint8_t kEndedIdle3 = '9';
inline constexpr std::uint8_t kEndedUnacknowledged = 'A';
inline constexpr std::uint8_t kEndedUnacknowledged2 = 'B';
inline constexpr std::uint8_t kFault = 'C';

namespace detail {
constexpr std::size_t seal(std::span<std::uint8_t> out, std::size_t body) {
  out[0] = kSyn;
  out[1] = kSyn;
  const std::uint16_t crc = crc_of(out.subspan(kFrame.address, body));
  out[kFrame.address + body] = static_cast<std::uint8_t>(crc & 0xFF);
  out[kFrame.address + body + 1] = static_cast<std::uint8_t>(crc >> 8);
  return kFrame.address + body + kCrcSize;
}
}  // namespace detail

// Frames a payload as it is: the count, not its length byte, decides what is
// copied and checksummed. Returns the frame's size, or 0 when out is too small.
constexpr std::size_t encode_payload(std::span<std::uint8_t> out,
                                     std::span<const std::uint8_t> payload) {
  if (out.size() < payload.size() + kFrame.address + kCrcSize) return 0;
  for (std::size_t i = 0; i < payload.size(); ++i) out[kFrame.address + i] = payload[i];
  return detail::seal(out, payload.size());
}

// Frames address, letter and data, the length byte counting letter and data.
// Returns the frame's size, or 0 when out is too small or the data too long.
constexpr std::size_t encode_frame(std::span<std::uint8_t> out, std::uint8_t address,
                                   std::uint8_t letter, std::span<const std::uint8_t> data) {
  if (data.size() >= 0xFF || out.size() < data.size() + 1 + kFrameOverhead) return 0;
  out[kFrame.address] = address;
  out[kFrame.length] = static_cast<std::uint8_t>(data.size() + 1);
  out[kFrame.letter] = letter;
  for (std::size_t i = 0; i < data.size(); ++i) out[kFrame.data + i] = data[i];
  return detail::seal(out, data.size() + kFrame.data - kFrame.address);
}

// What a status reply's scan found.
enum class StatusFinding : std::uint8_t {
  kNoNews,               // the pump's state is kept
  kIdle,                 // ZARVO_PUMP_IDLE
  kLifted,               // ZARVO_PUMP_LIFTED + nozzle
  kLiftedAuthorized,     // ZARVO_PUMP_LIFTED_AUTHORIZED + nozzle
  kAuthorized,           // ZARVO_PUMP_AUTHORIZED + nozzle
  kEndedIdle,            // ZARVO_PUMP_ENDED_IDLE
  kEndedUnacknowledged,  // acknowledged, then ZARVO_PUMP_TRANSACTION_ENDED; else kept
  kFault,                // ZARVO_PUMP_FAULT
};

struct StatusScan {
  StatusFinding finding = StatusFinding::kNoNews;
  std::uint8_t nozzle = 0;  // the deciding character's place, 1..6
  // The state the scan sets; 0 sets none. An ended transaction sets none
  // here: the decoder sets ZARVO_PUMP_TRANSACTION_ENDED once it has acknowledged.
  std::uint8_t state = 0;
};

// One character a nozzle; the first that decides something ends the scan,
// except "1" and "8", which only set a state when nothing else has.
constexpr StatusScan scan_status(std::span<const std::uint8_t, kStatusChars> chars) {
  StatusScan scan;
  const auto found = [&](StatusFinding finding, std::size_t k, unsigned state) {
    scan = {finding, static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(state)};
  };
  for (std::size_t k = 1; k <= kStatusChars; ++k) {
    const std::uint8_t c = chars[k - 1];
    if (c == kNoNews) continue;
    if (c == kIdleUnlessDecided || c == kIdleUnlessDecided2) {
      if (scan.state == 0) found(StatusFinding::kIdle, k, ZARVO_PUMP_IDLE);
      continue;
    }
    switch (c) {
      case kIdle:
        found(StatusFinding::kIdle, k, ZARVO_PUMP_IDLE);
        break;
      case kLifted:
        found(StatusFinding::kLifted, k, ZARVO_PUMP_LIFTED + k);
        break;
      case kLiftedAuthorized:
        found(StatusFinding::kLiftedAuthorized, k, ZARVO_PUMP_LIFTED_AUTHORIZED + k);
        break;
      case kAuthorized:
        found(StatusFinding::kAuthorized, k, ZARVO_PUMP_AUTHORIZED + k);
        break;
      case kEndedIdle:
      case kEndedIdle2:
      case kEndedIdle3:
        found(StatusFinding::kEndedIdle, k, ZARVO_PUMP_ENDED_IDLE);
        break;
      case kEndedUnacknowledged:
      case kEndedUnacknowledged2:
        found(StatusFinding::kEndedUnacknowledged, k, 0);
        break;
      case kFault:
        found(StatusFinding::kFault, k, ZARVO_PUMP_FAULT);
        break;
      default:
        break;  // any other byte ends the scan and sets nothing
    }
    break;
  }
  return scan;
}

}  // namespace zarvo::wire
