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

using wire::kPayload;
// Payload positions of the start requests' data.
constexpr std::size_t kNozzleAt = kPayload.data + wire::kNozzleDigitAt;
constexpr std::size_t kKindAt = kPayload.data + wire::kPresetKindAt;
constexpr std::size_t kMultiHeader = kPayload.data + wire::kMultiPricesAt;
constexpr std::size_t kMonoSize = kPayload.data + wire::kMonoPriceAt + kPriceEntrySize;

using wire::PresetKind;

// Volumes go out in hundredths of a litre; amounts as the amount times 10 to
// the power of its decimals.
int multi_exponent(PresetKind kind, std::uint8_t sum_decimals) {
  return kind == PresetKind::kVolume ? 2 : sum_decimals;
}

// The mono-product fields carry whole litres, and the amount scaled to its
// decimals without the hundredths.
int mono_amount_exponent(std::uint8_t sum_decimals) {
  return sum_decimals - 2;
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
  b[kPayload.address] = pump;
  b[kNozzleAt] = static_cast<std::uint8_t>('0' + nozzle);
  if (nozzle_count >= 1) {
    const auto entries = static_cast<std::size_t>(std::min(nozzle_count, kNozzles));
    b[kPayload.length] =
        static_cast<std::uint8_t>(kMultiHeader - kPayload.letter + entries * kPriceEntrySize);
    b[kPayload.letter] = wire::kMultiStart;
    b[kKindAt] = wire::preset_letter(kind);
    if (!WriteDigitField(value, multi_exponent(kind, sum_decimals), Rounding::kHalfEven,
                         std::span(b).subspan(kPayload.data + wire::kPresetTargetAt,
                                              wire::kPresetTargetWidth))) {
      refuse(kind, value);
    }
    for (std::size_t i = 0; i < entries; ++i) {
      std::ranges::copy(block[i], b.begin() + kMultiHeader + i * kPriceEntrySize);
    }
    p.size = kMultiHeader + entries * kPriceEntrySize;
    return p;
  }
  b[kPayload.length] = static_cast<std::uint8_t>(kMonoSize - kPayload.letter);
  b[kPayload.letter] = wire::kMonoStart;
  b[kKindAt] = wire::kMonoKind;
  auto amount_field =
      std::span(b).subspan(kPayload.data + wire::kMonoAmountAt, wire::kMonoFieldWidth);
  auto volume_field =
      std::span(b).subspan(kPayload.data + wire::kMonoVolumeAt, wire::kMonoFieldWidth);
  const bool fits = kind == PresetKind::kVolume
                        ? WriteDigitField(value, 0, Rounding::kHalfAwayFromZero, volume_field) &&
                              WriteDigits(0, amount_field)
                        : WriteDigitField(value, mono_amount_exponent(sum_decimals),
                                          Rounding::kHalfEven, amount_field) &&
                              WriteDigits(0, volume_field);
  if (!fits) refuse(kind, value);
  std::ranges::copy(block[0], b.begin() + kPayload.data + wire::kMonoPriceAt);
  p.size = kMonoSize;
  return p;
}

}  // namespace

void TVM30::start_delivery(PumpCell cell, std::uint8_t nozzle, double preset_value,
                           std::span<const std::uint8_t> payload, std::string_view failure,
                           TableCalls& table) {
  program_before(cell, table, failure);
  PresetValue[cell] = preset_value;
  SelectedNozzle[cell] = nozzle;
  DispVolume[cell] = 0;
  DispAmount[cell] = 0;
  if (exchange(static_cast<std::uint8_t>(cell.line()), static_cast<std::uint8_t>(cell.pump()),
               payload) != 0) {
    throw ESerialIO(std::string(failure));
  }
}

void TVM30::PresetVolume(std::int32_t line, std::int32_t pump, std::uint8_t nozzle, double volume,
                         TableCalls& table) {
  if (pump > kPumps) throw Exception(messages::kPumpOutOfRange.str());
  const PumpCell cell = RequirePumpCell(line, pump);
  RequireNozzleCell(cell, nozzle);
  const StartPayload p = start_payload(PresetKind::kVolume, static_cast<std::uint8_t>(pump), nozzle,
                                       volume, NozzleCount[cell], PriceBlock[cell], SumDecimals);
  start_delivery(cell, nozzle, 0.0, std::span(p.bytes).first(p.size),
                 messages::kPresetVolumeFailed.view(), table);
}

void TVM30::PresetAmount(std::int32_t line, std::int32_t pump, std::uint8_t nozzle, double amount,
                         TableCalls& table) {
  if (pump > kPumps) throw Exception(messages::kPumpOutOfRange.str());
  const PumpCell cell = RequirePumpCell(line, pump);
  RequireNozzleCell(cell, nozzle);
  const StartPayload p = start_payload(PresetKind::kAmount, static_cast<std::uint8_t>(pump), nozzle,
                                       amount, NozzleCount[cell], PriceBlock[cell], SumDecimals);
  start_delivery(cell, nozzle, amount, std::span(p.bytes).first(p.size),
                 messages::kPresetAmountFailed.view(), table);
}

}  // namespace zarvo
