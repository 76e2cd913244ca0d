#include "protocol/frame.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/crc.h"

namespace zarvo {

void BuildFrame(TxFrame& frame, std::span<const std::uint8_t> payload) {
  if (payload.empty() || payload.size() > kMaxPayload) {
    throw std::length_error("payload must hold 1 to 250 bytes");
  }
  auto& buf = frame.TxBuf;
  buf[0] = kSyn;
  buf[1] = kSyn;
  std::ranges::copy(payload, buf.begin() + 2);
  const std::size_t count = payload.size();
  const std::uint16_t crc = crc_of(std::span(buf).subspan(2, count));
  buf[count + 2] = static_cast<std::uint8_t>(crc & 0xFF);
  buf[count + 3] = static_cast<std::uint8_t>(crc >> 8);
  buf[count + 4] = 0xFF;
  frame.TxLen = static_cast<std::uint8_t>(count + 4);
}

}  // namespace zarvo
