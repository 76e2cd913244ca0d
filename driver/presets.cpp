// Delivery presets by volume or by amount, with the multi-nozzle start "9"
// or, for a pump whose nozzle count is 0, the mono-product start "1".
#include <algorithm>
#include <array>
#include <string>

#include "driver/digits.h"
#include "driver/messages.h"
#include "driver/tvm30.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

constexpr std::uint8_t kMultiStart = '9';
constexpr std::uint8_t kMonoStart = '1';
constexpr std::uint8_t kByVolume = 'V';
constexpr std::uint8_t kByAmount = 'A';
constexpr std::uint8_t kMonoKind = 'P';
constexpr std::size_t kMultiHeader = 11;  // pump, length, "9", nozzle, kind, six digits
constexpr std::size_t kMonoSize = 18;

enum class PresetKind { kVolume, kAmount };

// Volumes go out in hundredths of a litre; amounts as the amount times 10 to
// the power of its decimals (beyond three, the two-decimal scaling).
int multi_exponent(PresetKind kind, std::uint8_t sum_decimals) {
  if (kind == PresetKind::kVolume) return 2;
  return sum_decimals <= 3 ? sum_decimals : 2;
}

// The mono-product fields carry whole litres, and the amount scaled to its
// decimals without the hundredths.
int mono_amount_exponent(std::uint8_t sum_decimals) {
  return sum_decimals <= 3 ? sum_decimals - 2 : 0;
}

[[noreturn]] void refuse(PresetKind kind, double value) {
  const auto& prefix =
      kind == PresetKind::kVolume ? messages::kVolumeOutOfRange : messages::kAmountOutOfRange;
  throw Exception(prefix.str() + ShortestText(value));
}

struct StartPayload {
  std::array<std::uint8_t, kMultiHeader + kNozzles * kPriceEntrySize> bytes{};
  std::size_t size = 0;
};

StartPayload start_payload(PresetKind kind, std::uint8_t pump, std::uint8_t nozzle, double value,
                           std::int32_t nozzle_count, const PriceBlockEntries& block,
                           std::uint8_t sum_decimals) {
  StartPayload p;
  auto& b = p.bytes;
  b[0] = pump;
  b[3] = static_cast<std::uint8_t>('0' + nozzle);
  if (nozzle_count >= 1) {
    const auto entries = static_cast<std::size_t>(std::min(nozzle_count, kNozzles));
    b[1] = static_cast<std::uint8_t>(entries * kPriceEntrySize + 9);
    b[2] = kMultiStart;
    b[4] = kind == PresetKind::kVolume ? kByVolume : kByAmount;
    if (!WriteDigitField(value, multi_exponent(kind, sum_decimals), Rounding::kHalfEven,
                         std::span(b).subspan(5, 6))) {
      refuse(kind, value);
    }
    for (std::size_t i = 0; i < entries; ++i) {
      std::ranges::copy(block[i], b.begin() + kMultiHeader + i * kPriceEntrySize);
    }
    p.size = kMultiHeader + entries * kPriceEntrySize;
    return p;
  }
  b[1] = 16;
  b[2] = kMonoStart;
  b[4] = kMonoKind;
  auto amount_field = std::span(b).subspan(5, 4);
  auto volume_field = std::span(b).subspan(9, 4);
  const bool fits = kind == PresetKind::kVolume
                        ? WriteDigitField(value, 0, Rounding::kHalfAwayFromZero, volume_field) &&
                              WriteDigits(0, amount_field)
                        : WriteDigitField(value, mono_amount_exponent(sum_decimals),
                                          Rounding::kHalfEven, amount_field) &&
                              WriteDigits(0, volume_field);
  if (!fits) refuse(kind, value);
  std::ranges::copy(block[0], b.begin() + 13);
  p.size = kMonoSize;
  return p;
}

}  // namespace

void TVM30::start_delivery(PumpCell cell, std::uint8_t nozzle, double preset_value,
                           std::span<const std::uint8_t> payload, std::string_view failure) {
  PresetValue[cell] = preset_value;
  SelectedNozzle[cell] = nozzle;
  DispVolume[cell] = 0;
  DispAmount[cell] = 0;
  if (exchange(static_cast<std::uint8_t>(cell.line()), static_cast<std::uint8_t>(cell.pump()),
               payload) != 0) {
    throw ESerialIO(std::string(failure));
  }
}

void TVM30::PresetVolume(std::int32_t line, std::int32_t pump, std::uint8_t nozzle, double volume) {
  if (pump > kPumps) throw Exception(messages::kPumpOutOfRange.str());
  const PumpCell cell = RequirePumpCell(line, pump);
  RequireNozzleCell(cell, nozzle);
  const StartPayload p = start_payload(PresetKind::kVolume, static_cast<std::uint8_t>(pump), nozzle,
                                       volume, NozzleCount[cell], PriceBlock[cell], SumDecimals);
  start_delivery(cell, nozzle, 0.0, std::span(p.bytes).first(p.size),
                 messages::kPresetVolumeFailed.view());
}

void TVM30::PresetAmount(std::int32_t line, std::int32_t pump, std::uint8_t nozzle, double amount) {
  if (pump > kPumps) throw Exception(messages::kPumpOutOfRange.str());
  const PumpCell cell = RequirePumpCell(line, pump);
  RequireNozzleCell(cell, nozzle);
  const StartPayload p = start_payload(PresetKind::kAmount, static_cast<std::uint8_t>(pump), nozzle,
                                       amount, NozzleCount[cell], PriceBlock[cell], SumDecimals);
  start_delivery(cell, nozzle, amount, std::span(p.bytes).first(p.size),
                 messages::kPresetAmountFailed.view());
}

}  // namespace zarvo
