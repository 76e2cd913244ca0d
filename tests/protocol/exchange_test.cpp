#include "protocol/exchange.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/driver_fixture.h"

namespace zarvo {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::ReplyFrame;
using testing::Snapshot;

const Bytes kStatusReply = {0x16, 0x16, 0x01, 0x07, 0x4A, 0x30, 0x30,
                            0x30, 0x33, 0x30, 0x30, 0xBA, 0x4E};
const Bytes kStatusRequest = {0x01, 0x02, 'J', 0x00};

FrameBuffer buffer_of(const Bytes& bytes) {
  FrameBuffer rx{};
  std::copy(bytes.begin(), bytes.end(), rx.begin());
  return rx;
}

class ExchangeTest : public testing::DriverTest {
 protected:
  std::int32_t exchange(const Bytes& payload, std::uint8_t pump = 1) {
    return Exchange(Link{driver.Port, driver}, 1, pump, payload);
  }
  std::size_t count_of(const std::string& call) const {
    return static_cast<std::size_t>(std::count(port.calls.begin(), port.calls.end(), call));
  }
};

TEST_F(ExchangeTest, a_reply_is_accepted_exactly_at_its_last_byte) {
  port.reply(kStatusReply);
  EXPECT_EQ(exchange(kStatusRequest), 0);
  // The count is the index of the last stored byte.
  ASSERT_EQ(port.check_counts.size(), kStatusReply.size());
  EXPECT_EQ(port.check_counts.back(), 12);
  for (std::size_t i = 0; i + 1 < port.check_answers.size(); ++i) {
    EXPECT_FALSE(port.check_answers[i]) << "at byte " << i;
  }
  EXPECT_TRUE(port.check_answers.back());
  EXPECT_EQ(count_of("SetReplyCode(1,246)"), 12U);
  EXPECT_EQ(count_of("SetRxState(1,3)"), 12U);
  const auto last_two = std::vector(port.calls.end() - 2, port.calls.end());
  EXPECT_THAT(last_two, ElementsAre("SetRxState(1,1)", "SetReplyCode(1,0)"));
  EXPECT_EQ(driver.PumpState[*PumpCell::of(1, 1)], 228);
}

TEST_F(ExchangeTest, the_check_is_registered_before_every_send_and_the_fixed_constants_passed) {
  port.silence();
  exchange(kStatusRequest);
  EXPECT_THAT(port.calls, ElementsAre("SetReplyCheck(1)", "SendAndReceive(1,42,22)"));
  EXPECT_EQ(port.frames[0], (Bytes{0x16, 0x16, 0x01, 0x02, 0x4A, 0x00, 0x15, 0x12}));
}

TEST(JudgeReply, one_syn_in_the_first_two_positions_passes_the_header_test) {
  Bytes frame = ReplyFrame(1, 'Q', "0");
  frame[1] = 0x00;
  EXPECT_EQ(JudgeReply(buffer_of(frame), 7).code, ReplyCode::kGood);
  frame[0] = 0x00;
  frame[1] = 0x16;
  EXPECT_EQ(JudgeReply(buffer_of(frame), 7).code, ReplyCode::kGood);
  frame[1] = 0x00;
  const ReplyVerdict verdict = JudgeReply(buffer_of(frame), 7);
  EXPECT_EQ(verdict.code, ReplyCode::kNoSyn);
  EXPECT_FALSE(verdict.state);
}

TEST(JudgeReply, a_length_of_250_or_more_never_completes) {
  for (std::uint8_t n : {250, 251, 255}) {
    FrameBuffer rx{};
    rx[0] = rx[1] = 0x16;
    rx[3] = n;
    const ReplyVerdict verdict = JudgeReply(rx, 254);
    EXPECT_EQ(verdict.code, ReplyCode::kIncomplete);
    EXPECT_EQ(verdict.state, RxState::kMoreNeeded);
  }
}

TEST(JudgeReply, the_largest_reply_that_fits_is_judged_on_its_last_two_bytes) {
  const Bytes frame = ReplyFrame(1, 'Q', Bytes(248, '0'));
  ASSERT_EQ(frame.size(), 255U);
  EXPECT_EQ(JudgeReply(buffer_of(frame), 253).code, ReplyCode::kIncomplete);
  EXPECT_EQ(JudgeReply(buffer_of(frame), 254).code, ReplyCode::kGood);
}

TEST_F(ExchangeTest, a_bad_crc_gives_code_222_and_leaves_the_reception_state) {
  Bytes frame = kStatusReply;
  frame.back() ^= 0x01;
  port.rx_state = 9;
  port.reply(frame);
  EXPECT_EQ(exchange(kStatusRequest), testing::ScriptedPort::kNoReply);
  EXPECT_EQ(port.calls.back(), "SetReplyCode(1,222)");
  EXPECT_EQ(count_of("SetReplyCode(1,222)"), 1U);
  EXPECT_EQ(port.rx_state, 3);  // from the incomplete calls before, never 1
}

TEST_F(ExchangeTest, an_exception_in_the_port_becomes_the_line_result_and_changes_no_table) {
  const std::string before = Snapshot(driver);
  port.raise(7);
  EXPECT_EQ(exchange(kStatusRequest), 7);
  EXPECT_EQ(port.calls.back(), "GetLineResult(1)");
  EXPECT_EQ(Snapshot(driver), before);
}

TEST_F(ExchangeTest, a_valid_reply_is_filed_even_when_the_port_reports_failure) {
  port.reply_with_result(kStatusReply, 4);
  EXPECT_EQ(exchange(kStatusRequest), 4);
  EXPECT_EQ(driver.PumpState[*PumpCell::of(1, 1)], 228);
}

TEST_F(ExchangeTest, a_corrupted_or_partial_reply_never_reaches_the_tables) {
  const std::string before = Snapshot(driver);
  const Bytes data = testing::DeliveryData(7, '1', "  50.00", "   1.00");
  Bytes corrupted = ReplyFrame(1, 'R', data);
  corrupted[12] ^= 0x04;
  port.reply_with_result(corrupted, 3);
  EXPECT_EQ(exchange(kStatusRequest), 3);
  Bytes partial = ReplyFrame(1, 'R', data);
  partial.erase(partial.end() - 3, partial.end());
  port.reply(partial);
  EXPECT_EQ(exchange(kStatusRequest), testing::ScriptedPort::kNoReply);
  EXPECT_EQ(Snapshot(driver), before);
}

TEST_F(ExchangeTest, silence_decodes_nothing) {
  const std::string before = Snapshot(driver);
  port.silence();
  EXPECT_EQ(exchange(kStatusRequest), testing::ScriptedPort::kNoReply);
  EXPECT_EQ(Snapshot(driver), before);
}

}  // namespace
}  // namespace zarvo
