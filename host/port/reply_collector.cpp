#include "host/port/reply_collector.h"

#include <algorithm>
#include <utility>

namespace zarvo::host {

ReplyCollector::ReplyCollector(std::span<std::uint8_t, kReplyBufferSize> buffer,
                               std::uint8_t frame_start, Judge judge)
    : buffer_(buffer), frame_start_(frame_start), judge_(std::move(judge)) {}

ReplyCollector::Step ReplyCollector::Process(std::uint8_t byte) {
  if (stored_ == 0 && byte != frame_start_) {
    ++skipped_;
    return Step::kNeedMore;
  }
  if (stored_ == buffer_.size()) return Step::kFull;
  buffer_[stored_++] = byte;
  switch (judge_(buffer_, static_cast<std::uint8_t>(stored_ - 1))) {
    case Verdict::kAccepted:
      return Step::kAccepted;
    case Verdict::kBadCrc:
      return Step::kRejected;
    case Verdict::kNoSyn:
      // Not a frame after all: count it as noise and hunt for the next start.
      skipped_ += stored_;
      discard();
      return Step::kNeedMore;
    case Verdict::kNeedMore:
      break;
  }
  return stored_ == buffer_.size() ? Step::kFull : Step::kNeedMore;
}

void ReplyCollector::discard() {
  std::fill_n(buffer_.begin(), stored_, std::uint8_t{0});
  stored_ = 0;
}

}  // namespace zarvo::host
