// Frames as a field engineer reads them in the trace: hex bytes and meaning.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zarvo::host {

std::string hex_bytes(std::span<const std::uint8_t> bytes);

// "status request, pump 1"; frames too short for their letter say so.
std::string describe_request(std::span<const std::uint8_t> frame);
// "status 000300 (nozzle 4 lifted)", "answer 0 (accepted)", ...
std::string describe_reply(std::span<const std::uint8_t> frame);

}  // namespace zarvo::host
