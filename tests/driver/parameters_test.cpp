#include <gtest/gtest.h>

#include "tests/support/driver_fixture.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::ReplyFrame;

class ParameterTest : public testing::DriverTest {};

TEST_F(ParameterTest, a_parameter_write_carries_a_decimal_number_and_an_upper_case_hex_value) {
  for (int i = 0; i < 4; ++i) port.reply(ReplyFrame(3, 'Q', "0"));
  driver.WriteParam(1, 3, 40, 2);
  driver.WriteParam(1, 3, 5, 31);
  driver.WriteParam(1, 0, 99, 255);
  driver.WriteParam(1, 3, 0, 0);
  EXPECT_EQ(port.payload(0), (Bytes{0x03, 0x05, 0x32, 0x34, 0x30, 0x30, 0x32}));
  EXPECT_EQ(port.payload(1), (Bytes{0x03, 0x05, '2', '0', '5', '1', 'F'}));
  EXPECT_EQ(port.payload(2), (Bytes{0x00, 0x05, '2', '9', '9', 'F', 'F'}));
  EXPECT_EQ(port.payload(3), (Bytes{0x03, 0x05, '2', '0', '0', '0', '0'}));
}

TEST_F(ParameterTest, a_parameter_read_returns_the_value_its_own_reply_carried) {
  port.reply(ReplyFrame(3, '3', "071F"));
  EXPECT_EQ(driver.ReadParam(1, 3, 7), 31);
  EXPECT_EQ(port.payload(0), (Bytes{0x03, 0x03, 0x33, 0x30, 0x37}));
}

TEST_F(ParameterTest, a_parameter_read_answered_by_another_reply_is_no_value) {
  port.reply(ReplyFrame(3, '3', "071F")).reply(ReplyFrame(3, 'Q', "5"));
  driver.ReadParam(1, 3, 7);
  try {
    driver.ReadParam(1, 3, 7);  // the earlier 7 must not answer for this read
    FAIL();
  } catch (const ESerialIO&) {
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "");
  }
  EXPECT_EQ(driver.PumpState[*PumpCell::of(1, 3)], 229);  // filed under the pump asked
  port.reply(ReplyFrame(3, '3', "08FF"));
  EXPECT_THROW(driver.ReadParam(1, 3, 7), Exception);
  EXPECT_EQ(driver.LastParamNo(), 8);
}

TEST_F(ParameterTest, parameter_numbers_and_values_outside_their_fields_are_refused) {
  EXPECT_THROW(driver.ReadParam(1, 3, 100), Exception);
  EXPECT_THROW(driver.ReadParam(1, 3, -1), Exception);
  EXPECT_THROW(driver.WriteParam(1, 3, 123, 1), Exception);
  EXPECT_THROW(driver.WriteParam(1, 3, 40, 256), Exception);
  EXPECT_THROW(driver.WriteParam(1, 3, 40, -1), Exception);
  EXPECT_THROW(driver.WriteParam(0, 3, 40, 1), Exception);
  EXPECT_TRUE(port.frames.empty());
}

TEST_F(ParameterTest, parameter_failures_carry_their_own_messages) {
  port.silence().silence();
  try {
    driver.ReadParam(1, 3, 7);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), "Can't GetPar");
  }
  try {
    driver.WriteParam(1, 3, 7, 1);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), "Can't SetPar");
  }
}

}  // namespace
}  // namespace zarvo
