// Request frames: SYN SYN, the payload, its CRC low byte first, and a 0xFF
// stored after the frame but never transmitted.
#pragma once

#include <cstdint>
#include <span>

#include "protocol/limits.h"

namespace zarvo {

struct TxFrame {
  FrameBuffer TxBuf{};
  std::uint8_t TxLen = 0;

  std::span<const std::uint8_t> sent() const { return std::span(TxBuf).first(TxLen); }
};

// Frames 1..250 payload bytes; the count, not the payload's length byte, decides
// what is copied and checksummed.
void BuildFrame(TxFrame& frame, std::span<const std::uint8_t> payload);

}  // namespace zarvo
