#include "sim/request.h"

#include <cstddef>
#include <stdexcept>

#include "protocol/crc.h"
#include "protocol/limits.h"

namespace zarvo::sim {
namespace {

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
    const auto digits = decimal(data.subspan(static_cast<std::size_t>(i) * 5 + 1, 4));
    if (!digits) return std::nullopt;
    list.digits.at(static_cast<std::size_t>(i)) = static_cast<std::uint16_t>(*digits);
  }
  list.count = count;
  return list;
}

// Whole entries only: a count of 1..6 entries of five bytes each.
std::optional<int> entry_count(std::size_t bytes) {
  if (bytes == 0 || bytes % 5 != 0 || bytes / 5 > kMaxNozzles) return std::nullopt;
  return static_cast<int>(bytes / 5);
}

std::optional<Command> set_prices(std::span<const std::uint8_t> data) {
  const auto count = entry_count(data.size());
  if (!count) return std::nullopt;
  const auto prices = price_entries(data, *count);
  if (!prices) return std::nullopt;
  return SetPrices{*prices};
}

std::optional<Command> multi_start(std::span<const std::uint8_t> data) {
  if (data.size() < 8) return std::nullopt;
  const auto nozzle = nozzle_digit(data[0]);
  const auto target = decimal(data.subspan(2, 6));
  const auto count = entry_count(data.size() - 8);
  if (!nozzle || !target || !count) return std::nullopt;
  const auto prices = price_entries(data.subspan(8), *count);
  if (!prices) return std::nullopt;
  Start start{*nozzle, PresetKind::volume, *target, false, *prices};
  if (data[1] == 'A') {
    start.kind = PresetKind::amount;
  } else if (data[1] != 'V') {
    return std::nullopt;
  }
  return start;
}

// The mono-product start carries whole litres or hundreds of amount units,
// exactly one of them non-zero, and one price entry.
std::optional<Command> mono_start(std::span<const std::uint8_t> data) {
  if (data.size() != 15 || data[1] != 'P') return std::nullopt;
  const auto nozzle = nozzle_digit(data[0]);
  const auto amount = decimal(data.subspan(2, 4));
  const auto volume = decimal(data.subspan(6, 4));
  const auto prices = price_entries(data.subspan(10), 1);
  if (!nozzle || !amount || !volume || !prices) return std::nullopt;
  if (*amount != 0 && *volume != 0) return std::nullopt;
  if (*amount != 0) return Start{*nozzle, PresetKind::amount, *amount * 100, true, *prices};
  return Start{*nozzle, PresetKind::volume, *volume * 100, true, *prices};
}

std::optional<Command> command(std::uint8_t letter, std::span<const std::uint8_t> data) {
  switch (letter) {
    case '4':
      return set_prices(data);
    case '9':
      return multi_start(data);
    case '1':
      return mono_start(data);
    case '5':
      if (!data.empty()) return std::nullopt;
      return Stop{};
    case '3': {
      if (data.size() != 2) return std::nullopt;
      const auto number = decimal(data);
      if (!number) return std::nullopt;
      return ReadParam{static_cast<int>(*number)};
    }
    case '2': {
      if (data.size() != 4) return std::nullopt;
      const auto number = decimal(data.first(2));
      const auto high = hex_value(data[2]);
      const auto low = hex_value(data[3]);
      if (!number || !high || !low) return std::nullopt;
      return WriteParam{static_cast<int>(*number), *high * 16 + *low};
    }
    case 'J':
      if (data.size() != 1) return std::nullopt;
      return Status{};
    case 'B': {
      if (data.size() != 1) return std::nullopt;
      const auto nozzle = nozzle_digit(data[0]);
      if (!nozzle) return std::nullopt;
      return Totals{*nozzle};
    }
    case 'L':
      if (data.size() != 2) return std::nullopt;
      return Ack{static_cast<std::uint16_t>(data[0] << 8 | data[1])};
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<Request> parse_request(std::span<const std::uint8_t> payload) {
  // The length byte counts the letter and the data, so it must match exactly.
  if (payload.size() < 3 || payload[1] != payload.size() - 2) return std::nullopt;
  if (payload[0] > kMaxPumps) return std::nullopt;
  auto parsed = command(payload[2], payload.subspan(3));
  if (!parsed) return std::nullopt;
  return Request{payload[0], *parsed};
}

std::vector<std::uint8_t> reply_frame(std::uint8_t address, char type, std::string_view data) {
  if (data.size() + 1 > kMaxReplyLength) throw std::length_error("reply data too long");
  std::vector<std::uint8_t> frame;
  frame.reserve(data.size() + 7);
  frame.push_back(kSyn);
  frame.push_back(kSyn);
  frame.push_back(address);
  frame.push_back(static_cast<std::uint8_t>(data.size() + 1));
  frame.push_back(static_cast<std::uint8_t>(type));
  for (const char c : data) frame.push_back(static_cast<std::uint8_t>(c));
  const std::uint16_t crc = crc_of(std::span(frame).subspan(2));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

}  // namespace zarvo::sim
