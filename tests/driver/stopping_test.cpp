#include <gtest/gtest.h>

#include "codepage/cp1251.h"
#include "tests/support/driver_fixture.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::ReplyFrame;

class StopTest : public testing::DriverTest {};

TEST_F(StopTest, a_stop_without_the_flag_sends_nothing_and_checks_nothing) {
  EXPECT_FALSE(driver.StopPump(1, 99, false));
  EXPECT_TRUE(port.frames.empty());
}

TEST_F(StopTest, a_stop_reaches_one_pump_or_the_whole_line) {
  port.reply(ReplyFrame(1, 'Q', "0")).reply(ReplyFrame(1, 'Q', "0"));
  EXPECT_FALSE(driver.StopPump(1, 1, true));
  EXPECT_TRUE(driver.StopAllPumps(1));
  EXPECT_EQ(port.payload(0), (Bytes{0x01, 0x01, 0x35}));
  EXPECT_EQ(port.payload(1), (Bytes{0x00, 0x01, 0x35}));
}

TEST_F(StopTest, pump_zero_is_the_all_pumps_address_and_files_under_no_pump) {
  const std::string before = testing::Snapshot(driver);
  port.reply(ReplyFrame(1, 'Q', "2"));
  EXPECT_FALSE(driver.StopPump(1, 0, true));
  EXPECT_EQ(port.payload(0), (Bytes{0x00, 0x01, 0x35}));
  EXPECT_EQ(testing::Snapshot(driver), before);
}

TEST_F(StopTest, out_of_range_pumps_and_lines_are_refused_before_sending) {
  EXPECT_THROW(driver.StopPump(1, 33, true), Exception);
  EXPECT_THROW(driver.StopPump(1, -1, true), Exception);
  EXPECT_THROW(driver.StopPump(41, 1, true), Exception);
  EXPECT_THROW(driver.StopAllPumps(0), Exception);
  EXPECT_TRUE(port.frames.empty());
}

TEST_F(StopTest, stop_failures_carry_their_own_messages) {
  port.silence().silence();
  try {
    driver.StopPump(1, 1, true);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), "Can't STOP POMP");
  }
  try {
    driver.StopAllPumps(1);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), "Can't STOP All POMP");
  }
}

}  // namespace
}  // namespace zarvo
