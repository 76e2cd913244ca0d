// What a frame means, in the words a field engineer reads in the host's trace
// and in the driver's log: hex bytes and meaning. No I/O, nothing but the frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocol/wire.h"

namespace zarvo::wire {

std::string hex_bytes(std::span<const std::uint8_t> bytes);

// "status request, pump 1"; frames too short for their letter say so.
std::string describe_request(std::span<const std::uint8_t> frame);
// "status 000300 (228 nozzle 4 lifted)", "answer 0 (accepted)", ...
std::string describe_reply(std::span<const std::uint8_t> frame);

// What the driver files for a status reply's scan: "218 nozzle 2 authorized".
std::string status_scan_label(const StatusScan& scan);
// "nozzle 4 lifted".
std::string nozzle_text(unsigned nozzle, const char* what);

}  // namespace zarvo::wire
