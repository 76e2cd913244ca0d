#include "sim/frame_reader.h"

#include <algorithm>
#include <span>

#include "protocol/limits.h"
#include "protocol/wire.h"

namespace zarvo::sim {
namespace {
using wire::kFrame;
using wire::kSyn;
// SYN SYN, address, length; then the counted bytes and the CRC.
constexpr std::size_t kHeader = kFrame.letter;
constexpr std::size_t kOverhead = wire::kFrameOverhead;
// The largest request payload is kMaxPayload bytes, so its length byte is
// at most kMaxPayload - 2.
constexpr std::size_t kMaxLength = kMaxPayload - 2;
}  // namespace

void FrameReader::push(std::uint8_t byte) {
  buffer_.push_back(byte);
}

void FrameReader::drop(std::size_t count) {
  count = std::min(count, buffer_.size());
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
  skipped_ += count;
}

std::optional<std::vector<std::uint8_t>> FrameReader::next(bool line_idle) {
  for (;;) {
    // Skip to the first SYN SYN; a lone SYN at the end may start one.
    std::size_t start = 0;
    while (start + 1 < buffer_.size() && !(buffer_[start] == kSyn && buffer_[start + 1] == kSyn)) {
      ++start;
    }
    drop(start);
    if (buffer_.size() < 2) {
      if (line_idle || (buffer_.size() == 1 && buffer_[0] != kSyn)) drop(buffer_.size());
      return std::nullopt;
    }
    if (buffer_.size() < kHeader) {
      if (!line_idle) return std::nullopt;
      drop(1);
      continue;
    }
    const std::size_t length = buffer_[kFrame.length];
    if (length == 0 || length > kMaxLength) {
      drop(1);
      continue;
    }
    const std::size_t total = length + kOverhead;
    if (buffer_.size() < total) {
      if (!line_idle) return std::nullopt;
      drop(1);
      continue;
    }
    const auto counted =
        std::span(buffer_).subspan(kFrame.address, length + kHeader - kFrame.address);
    const std::uint16_t crc = crc_of(counted);
    if (buffer_[total - wire::kCrcSize] == (crc & 0xFF) && buffer_[total - 1] == (crc >> 8)) {
      std::vector<std::uint8_t> payload(counted.begin(), counted.end());
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
      return payload;
    }
    // A broken frame may hide the start of a good one: look again one byte on.
    drop(1);
  }
}

}  // namespace zarvo::sim
