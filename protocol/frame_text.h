// What a frame means, in the words a field engineer reads in the host's trace
// and in the driver's log: hex bytes and meaning. No I/O, nothing but the frame.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "protocol/wire.h"

namespace zarvo::wire {

std::string hex_bytes(std::span<const std::uint8_t> bytes);

// "status request, pump 1"; frames too short for their letter say so.
std::string describe_request(std::span<const std::uint8_t> frame);
// "status 000300 (228 nozzle 4 lifted)", "answer 0 (accepted)", ...
std::string describe_reply(std::span<const std::uint8_t> frame);

// The values a request carries, read back as the dispenser reads them with
// the decimals in effect; nothing when the frame is no such request.
// The unit price a set-prices request gives the nozzle:
std::optional<double> price_sent(std::span<const std::uint8_t> frame, unsigned nozzle,
                                 int price_decimals);
// The target of a start ("9" or the mono-product "1"), litres or money:
struct PresetSent {
  bool by_volume = false;
  double value = 0;
};
std::optional<PresetSent> preset_sent(std::span<const std::uint8_t> frame, int sum_decimals);

// What the driver files for a status reply's scan: "218 nozzle 2 authorized".
std::string status_scan_label(const StatusScan& scan);
// "nozzle 4 lifted".
std::string nozzle_text(unsigned nozzle, const char* what);

}  // namespace zarvo::wire
