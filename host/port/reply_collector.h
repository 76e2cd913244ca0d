// Collects a reply byte by byte: skips noise before the frame-start byte,
// stores the reply from that byte on, and asks a judge after every stored byte
// whether the bytes so far form a complete reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "protocol/limits.h"
#include "protocol/wire.h"

namespace zarvo::host {

// The driver's reply buffer holds 255 bytes.
inline constexpr std::size_t kReplyBufferSize = kFrameBufferSize;
// Every frame starts with SYN bytes.
inline constexpr std::uint8_t kSynByte = wire::kSyn;

// What the judge found in the bytes stored so far.
enum class Verdict { kAccepted, kNeedMore, kBadCrc, kNoSyn };

class ReplyCollector {
 public:
  // The judge sees the whole buffer and the index of the last stored byte.
  using Judge = std::function<Verdict(std::span<const std::uint8_t, kReplyBufferSize> buffer,
                                      std::uint8_t last_index)>;
  enum class Step { kNeedMore, kAccepted, kRejected, kFull };

  ReplyCollector(std::span<std::uint8_t, kReplyBufferSize> buffer, std::uint8_t frame_start,
                 Judge judge);

  Step Process(std::uint8_t byte);

  std::size_t stored() const { return stored_; }
  std::size_t skipped() const { return skipped_; }
  std::span<const std::uint8_t> reply() const { return buffer_.first(stored_); }
  // Zeroes what was stored, so that nothing of a failed reply is left to decode.
  void discard();

 private:
  std::span<std::uint8_t, kReplyBufferSize> buffer_;
  std::uint8_t frame_start_;
  Judge judge_;
  std::size_t stored_ = 0;
  std::size_t skipped_ = 0;
};

}  // namespace zarvo::host
