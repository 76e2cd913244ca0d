#include "protocol/frame_text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/frames.h"
#include "tests/support/status_cases.h"

namespace zarvo::wire {
namespace {

using zarvo::testing::Bytes;
using zarvo::testing::ReplyFrame;

TEST(FrameText, requests_read_as_their_command_and_pump) {
  EXPECT_EQ(describe_request(Bytes{0x16, 0x16, 0x01, 0x01, 0x35, 0x2A, 0x25}), "stop, pump 1");
  EXPECT_EQ(describe_request(Bytes{0x16, 0x16, 0x00, 0x01, 0x35, 0xF6, 0x7F}), "stop, all pumps");
  EXPECT_EQ(describe_request(Bytes{0x16, 0x16, 0x01, 0x02, 0x4A, 0x00, 0x15, 0x12}),
            "status request, pump 1");
  EXPECT_EQ(describe_request(Bytes{0x16, 0x16, 0x01, 0x03, 0x4C, 0x00, 0x07, 0xE3, 0xF9}),
            "acknowledge transaction 7, pump 1");
  const Bytes price{0x16, 0x16, 0x02, 0x0B, 0x34, '4', '0',  '6', '5',
                    '0',  '5',  '0',  '7',  '1',  '2', 0x00, 0x00};
  EXPECT_EQ(describe_request(price), "set prices, pump 2: 40650 50712");
  const Bytes start{0x16, 0x16, 0x02, 0x0E, '9', '2', 'V', '0', '0',  '2',
                    '0',  '0',  '0',  '4',  '0', '6', '5', '0', 0x00, 0x00};
  EXPECT_EQ(describe_request(start), "start, pump 2 nozzle 2, volume 002000, prices 40650");
  EXPECT_EQ(describe_request(Bytes{0x16, 0x16, 0x03, 0x05, '2', '4', '0', '0', '2', 0, 0}),
            "write parameter 40 = 0x02, pump 3");
}

TEST(FrameText, replies_read_as_what_the_dispenser_says) {
  const Bytes status{0x16, 0x16, 0x01, 0x07, 0x4A, 0x30, 0x30, 0x30, 0x33, 0x30, 0x30, 0xBA, 0x4E};
  EXPECT_EQ(describe_reply(status), "status 000300 (228 nozzle 4 lifted), from pump 1");
  EXPECT_EQ(describe_reply(Bytes{0x16, 0x16, 0x01, 0x02, 'Q', '1', 0, 0}),
            "answer 1 (refused), from pump 1");
  EXPECT_EQ(describe_reply(Bytes{0x16, 0x16, 0x01, 0x05, '3', '4', '1', '0', 'A', 0, 0}),
            "parameter 41 = 0x0A, from pump 1");
}

TEST(FrameText, a_status_reads_as_the_state_the_driver_files_for_it) {
  for (const auto& c : zarvo::testing::kStatusCases) {
    const std::string chars(c.chars);
    EXPECT_EQ(describe_reply(ReplyFrame(1, 'J', c.chars)),
              "status " + chars + " (" + std::string(c.reading) + "), from pump 1");
    if (c.stored != 0) {
      EXPECT_NE(c.reading.find(std::to_string(c.stored)), c.reading.npos) << c.chars;
    }
  }
}

TEST(FrameText, frames_shorter_than_their_fields_are_described_without_reading_past_them) {
  EXPECT_EQ(describe_request(Bytes{0x16, 0x16, 0x01}), "short frame");
  EXPECT_EQ(describe_reply(Bytes{0x16, 0x16, 0x01, 0x14, 'a', 0x00, 0x01}),
            "delivery ended, transaction 1, amount  volume , from pump 1");
  EXPECT_EQ(hex_bytes(Bytes{0x16, 0x0A, 0xFF}), "16 0A FF");
}

}  // namespace
}  // namespace zarvo::wire
