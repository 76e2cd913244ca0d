// Sizes and constants of the dispenser link, in one place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zarvo {

// Both frame buffers of an exchange hold 255 bytes.
inline constexpr std::size_t kFrameBufferSize = 255;
// SYN SYN + payload + CRC + the trailing 0xFF fill the transmit buffer at 250.
inline constexpr std::size_t kMaxPayload = 250;
// A reply of length byte n takes n + 6 bytes; 249 is the largest that fits.
inline constexpr std::uint8_t kMaxReplyLength = 249;
// Replies may nest acknowledgements; a dispenser that keeps answering one with
// another ended transaction must not recurse without end.
inline constexpr int kMaxAckNesting = 4;

using FrameBuffer = std::array<std::uint8_t, kFrameBufferSize>;

}  // namespace zarvo
