#include "host/port/reply_collector.h"

#include <gtest/gtest.h>

#include <array>

namespace zarvo::host {
namespace {

TEST(ReplyCollector, bytes_the_judge_finds_no_frame_in_are_dropped_and_the_hunt_goes_on) {
  std::array<std::uint8_t, kReplyBufferSize> buffer{};
  int calls = 0;
  ReplyCollector collector(buffer, kSynByte, [&](auto, std::uint8_t) {
    return ++calls == 1 ? Verdict::kNoSyn : Verdict::kAccepted;
  });
  EXPECT_EQ(collector.Process(0x41), ReplyCollector::Step::kNeedMore);
  EXPECT_EQ(collector.Process(kSynByte), ReplyCollector::Step::kNeedMore);
  EXPECT_EQ(collector.stored(), 0U);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(collector.skipped(), 2U);
  EXPECT_EQ(collector.Process(kSynByte), ReplyCollector::Step::kAccepted);
  EXPECT_EQ(collector.reply().size(), 1U);
}

TEST(ReplyCollector, a_full_buffer_refuses_further_bytes) {
  std::array<std::uint8_t, kReplyBufferSize> buffer{};
  ReplyCollector collector(buffer, kSynByte, [](auto, std::uint8_t) { return Verdict::kNeedMore; });
  ReplyCollector::Step last = ReplyCollector::Step::kNeedMore;
  for (int i = 0; i < 255; ++i) last = collector.Process(kSynByte);
  EXPECT_EQ(last, ReplyCollector::Step::kFull);
  EXPECT_EQ(collector.Process(kSynByte), ReplyCollector::Step::kFull);
  EXPECT_EQ(collector.stored(), kReplyBufferSize);
}

}  // namespace
}  // namespace zarvo::host
