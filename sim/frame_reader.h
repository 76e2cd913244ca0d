// Collects request frames from a byte stream. Bytes that do not belong to an
// intact frame are skipped: the reader resynchronises on the next SYN SYN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zarvo::sim {

class FrameReader {
 public:
  void push(std::uint8_t byte);

  // The payload (address, length, letter, data) of the next intact frame among
  // the bytes pushed so far, if any. After a pause on the line (`line_idle`) a
  // partial frame will never complete, so it is skipped instead of awaited.
  std::optional<std::vector<std::uint8_t>> next(bool line_idle = false);

  bool holds_bytes() const { return !buffer_.empty(); }
  std::size_t buffered() const { return buffer_.size(); }
  // Bytes skipped as noise or as parts of broken frames since construction.
  std::size_t skipped() const { return skipped_; }

 private:
  void drop(std::size_t count);

  // Never holds more than one frame's worth: a frame is judged as soon as its
  // length byte's worth of bytes is in.
  std::vector<std::uint8_t> buffer_;
  std::size_t skipped_ = 0;
};

}  // namespace zarvo::sim
