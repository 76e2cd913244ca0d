// Requests the dispenser understands and the frames of its replies.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol/wire.h"

namespace zarvo::sim {

inline constexpr int kMaxNozzles = 6;
inline constexpr int kMaxPumps = 32;

// Four price digits for each nozzle a request carries, nozzle 1 first.
struct PriceList {
  std::array<std::uint16_t, kMaxNozzles> digits{};
  int count = 0;
};

// "4": new prices for the leading nozzles.
struct SetPrices {
  PriceList prices;
};

// "9" (multi-nozzle) or "1" (mono-product): authorize a nozzle up to a target.
// The target is in hundredths of a litre or in amount units.
struct Start {
  int nozzle = 1;
  wire::PresetKind kind = wire::PresetKind::kVolume;
  std::int64_t target = 0;
  bool mono = false;
  PriceList prices;
};

struct Stop {};  // "5"
struct ReadParam {
  int number = 0;
};  // "3"
struct WriteParam {
  int number = 0;
  int value = 0;
};                 // "2"
struct Status {};  // "J"
struct TotalsRequest {
  int nozzle = 1;
};  // "B"
struct Ack {
  std::uint16_t number = 0;
};  // "L"

using Command =
    std::variant<SetPrices, Start, Stop, ReadParam, WriteParam, Status, TotalsRequest, Ack>;

struct Request {
  std::uint8_t address = 0;  // 0 addresses every pump of the line
  Command command;
};

// Reads a request payload (address, length, letter, data; no SYN, no CRC).
// Anything the dispenser would not understand gives nothing.
std::optional<Request> parse_request(std::span<const std::uint8_t> payload);

// SYN SYN, address, length, type letter, data, CRC low byte first.
std::vector<std::uint8_t> reply_frame(std::uint8_t address, char type, std::string_view data);

}  // namespace zarvo::sim
