#include "sim/request.h"

#include <cstddef>
#include <stdexcept>

#include "protocol/limits.h"
#include "protocol/wire.h"

namespace zarvo::sim {
namespace {

using namespace wire;

bool is_digit(std::uint8_t c) {
  return c >= '0' && c <= '9';
}

std::optional<int> hex_value(std::uint8_t c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

// A fixed-width ASCII decimal field; nothing unless every character is a digit.
std::optional<std::int64_t> decimal(std::span<const std::uint8_t> field) {
  std::int64_t value = 0;
  for (const std::uint8_t c : field) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<int> nozzle_digit(std::uint8_t c) {
  if (c < '1' || c > '0' + kMaxNozzles) return std::nullopt;
  return c - '0';
}

// Five-byte price entries: a code byte the dispenser ignores and four digits.
std::optional<PriceList> price_entries(std::span<const std::uint8_t> data, int count) {
  PriceList list;
  for (int i = 0; i < count; ++i) {
    const auto entry = data.subspan(static_cast<std::size_t>(i) * kPriceEntryWidth);
    const auto digits =
        decimal(entry.subspan(kPriceEntryWidth - kPriceDigitsWidth, kPriceDigitsWidth));
    if (!digits) return std::nullopt;
    list.digits.at(static_cast<std::size_t>(i)) = static_cast<std::uint16_t>(*digits);
  }
  list.count = count;
  return list;
}

// Whole entries only: a count of 1..6 entries of five bytes each.
std::optional<int> entry_count(std::size_t bytes) {
  if (bytes == 0 || bytes % kPriceEntryWidth != 0 || bytes / kPriceEntryWidth > kMaxNozzles) {
    return std::nullopt;
  }
  return static_cast<int>(bytes / kPriceEntryWidth);
}

std::optional<Command> set_prices(std::span<const std::uint8_t> data) {
  const auto count = entry_count(data.size());
  if (!count) return std::nullopt;
  const auto prices = price_entries(data, *count);
  if (!prices) return std::nullopt;
  return SetPrices{*prices};
}

std::optional<Command> multi_start(std::span<const std::uint8_t> data) {
  if (data.size() < kMultiPricesAt) return std::nullopt;
  const auto nozzle = nozzle_digit(data[kNozzleDigitAt]);
  const auto target = decimal(data.subspan(kPresetTargetAt, kPresetTargetWidth));
  const auto count = entry_count(data.size() - kMultiPricesAt);
  const auto kind = wire::preset_kind(data[kPresetKindAt]);
  if (!nozzle || !target || !count || !kind) return std::nullopt;
  const auto prices = price_entries(data.subspan(kMultiPricesAt), *count);
  if (!prices) return std::nullopt;
  return Start{*nozzle, *kind, *target, false, *prices};
}

// The mono-product start carries whole litres or hundreds of amount units,
// exactly one of them non-zero, and one price entry.
std::optional<Command> mono_start(std::span<const std::uint8_t> data) {
  if (data.size() != kMonoPriceAt + kPriceEntryWidth || data[kPresetKindAt] != kMonoKind) {
    return std::nullopt;
  }
  const auto nozzle = nozzle_digit(data[kNozzleDigitAt]);
  const auto amount = decimal(data.subspan(kMonoAmountAt, kMonoFieldWidth));
  const auto volume = decimal(data.subspan(kMonoVolumeAt, kMonoFieldWidth));
  const auto prices = price_entries(data.subspan(kMonoPriceAt), 1);
  if (!nozzle || !amount || !volume || !prices) return std::nullopt;
  if (*amount != 0 && *volume != 0) return std::nullopt;
  if (*amount != 0) return Start{*nozzle, wire::PresetKind::kAmount, *amount * 100, true, *prices};
  return Start{*nozzle, wire::PresetKind::kVolume, *volume * 100, true, *prices};
}

std::optional<Command> command(std::uint8_t letter, std::span<const std::uint8_t> data) {
  switch (letter) {
    case kSetPrices:
      return set_prices(data);
    case kMultiStart:
      return multi_start(data);
    case kMonoStart:
      return mono_start(data);
    case kStop:
      if (!data.empty()) return std::nullopt;
      return Stop{};
    case kReadParam: {
      if (data.size() != kParamNumberWidth) return std::nullopt;
      const auto number = decimal(data);
      if (!number) return std::nullopt;
      return ReadParam{static_cast<int>(*number)};
    }
    case kWriteParam: {
      if (data.size() != kParamNumberWidth + kParamValueWidth) return std::nullopt;
      const auto number = decimal(data.first(kParamNumberWidth));
      const auto high = hex_value(data[kParamNumberWidth]);
      const auto low = hex_value(data[kParamNumberWidth + 1]);
      if (!number || !high || !low) return std::nullopt;
      return WriteParam{static_cast<int>(*number), *high * 16 + *low};
    }
    case kStatusRequest:
      if (data.size() != 1) return std::nullopt;
      return Status{};
    case kTotalsRequest: {
      if (data.size() != 1) return std::nullopt;
      const auto nozzle = nozzle_digit(data[kNozzleDigitAt]);
      if (!nozzle) return std::nullopt;
      return TotalsRequest{*nozzle};
    }
    case kAcknowledge:
      if (data.size() != 2) return std::nullopt;
      return Ack{static_cast<std::uint16_t>(data[0] << 8 | data[1])};
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<Request> parse_request(std::span<const std::uint8_t> payload) {
  // The length byte counts the letter and the data, so it must match exactly.
  if (payload.size() < kPayload.data ||
      payload[kPayload.length] != payload.size() - kPayload.letter) {
    return std::nullopt;
  }
  if (payload[kPayload.address] > kMaxPumps) return std::nullopt;
  auto parsed = command(payload[kPayload.letter], payload.subspan(kPayload.data));
  if (!parsed) return std::nullopt;
  return Request{payload[kPayload.address], *parsed};
}

std::vector<std::uint8_t> reply_frame(std::uint8_t address, char type, std::string_view data) {
  if (data.size() + 1 > kMaxReplyLength) throw std::length_error("reply data too long");
  std::vector<std::uint8_t> frame(data.size() + 1 + wire::kFrameOverhead);
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  frame.resize(wire::encode_frame(frame, address, static_cast<std::uint8_t>(type), bytes));
  return frame;
}

}  // namespace zarvo::sim
