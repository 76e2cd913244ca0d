#include "protocol/frame.h"

#include <stdexcept>

#include "protocol/wire.h"

namespace zarvo {

void BuildFrame(TxFrame& frame, std::span<const std::uint8_t> payload) {
  if (payload.empty() || payload.size() > kMaxPayload) {
    throw std::length_error("payload must hold 1 to 250 bytes");
  }
  const std::size_t size = wire::encode_payload(frame.TxBuf, payload);
  frame.TxBuf[size] = 0xFF;
  frame.TxLen = static_cast<std::uint8_t>(size);
}

}  // namespace zarvo
