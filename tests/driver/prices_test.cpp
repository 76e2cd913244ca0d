#include <gtest/gtest.h>

#include <cmath>

#include "codepage/cp1251.h"
#include "tests/support/driver_fixture.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::cell;
using testing::ReplyFrame;
using testing::Snapshot;

// The asked pump's own answer: one from another pump would fail the exchange.
Bytes accepted_by(std::uint8_t pump) {
  return ReplyFrame(pump, 'Q', "0");
}

Bytes ascii(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

class PriceTest : public testing::ProgrammedDriverTest {
 protected:
  // The four digits a price becomes, read back from the block.
  std::string digits_for(double price, int nozzle = 1) {
    driver.SetPrice(1, 1, nozzle, price, calls);
    const PriceEntry& entry = driver.PriceBlock[cell(1, 1)][static_cast<std::size_t>(nozzle - 1)];
    return std::string(entry.begin() + 1, entry.end());
  }
};

TEST_F(PriceTest, the_worked_price_example_sends_the_leading_entries_with_the_new_digits) {
  port.reply(accepted_by(2));
  driver.SetPrice(1, 2, 2, 7.12, calls);
  EXPECT_EQ(driver.NozzleCount[cell(1, 2)], 2);
  EXPECT_EQ(driver.PriceValue[*NozzleCell::of(cell(1, 2), 2)], 7.12);
  Bytes expected = {0x02, 0x0B, 0x34};
  for (const auto b : ascii("4065050712")) expected.push_back(b);
  ASSERT_EQ(port.frames.size(), 1U);
  EXPECT_EQ(port.payload(0), expected);
}

TEST_F(PriceTest, an_entrys_first_price_goes_out_even_with_the_default_digits) {
  port.reply(accepted_by(1));
  driver.SetPrice(1, 1, 1, 6.50, calls);
  EXPECT_EQ(port.payloads(), std::vector<Bytes>{ascii("\x01\x06"
                                                      "440650")});
  EXPECT_EQ(driver.PriceValue[*NozzleCell::of(cell(1, 1), 1)], 6.5);
  driver.SetPrice(1, 1, 1, 6.50, calls);
  driver.PriceDecimals = 0;
  driver.SetPrice(1, 1, 1, 650, calls);  // the same digits: nothing sent
  EXPECT_EQ(port.frames.size(), 1U);
}

TEST_F(PriceTest, a_pending_pump_is_programmed_before_its_price_and_stays_pending_on_a_failure) {
  driver.ParamsPending[cell(1, 1)] = 1;
  port.reply(accepted_by(1)).silence();
  EXPECT_THROW(driver.SetPrice(1, 1, 1, 7.00, calls), ESerialIO);
  EXPECT_EQ(port.frames.size(), 2U);  // the second parameter write failed: no price
  EXPECT_EQ(driver.ParamsPending[cell(1, 1)], 1);
  for (int i = 0; i < 4; ++i) port.reply(accepted_by(1));
  driver.SetPrice(1, 1, 1, 7.00, calls);
  const std::vector<Bytes> expected = {ascii("\x01\x05"
                                             "24002"),
                                       ascii("\x01\x05"
                                             "24102"),
                                       ascii("\x01\x05"
                                             "24200"),
                                       ascii("\x01\x06"
                                             "440700")};
  const std::vector<Bytes> sent = port.payloads();
  EXPECT_EQ(std::vector<Bytes>(sent.begin() + 2, sent.end()), expected);
  EXPECT_EQ(driver.ParamsPending[cell(1, 1)], 0);
}

TEST_F(PriceTest, a_repeated_price_sends_once_and_still_applies_the_counts) {
  port.reply(accepted_by(1));
  driver.SetPrice(1, 1, 3, 8.00, calls);
  EXPECT_EQ(port.frames.size(), 1U);
  EXPECT_EQ(port.payload(0).size(), 18U);
  EXPECT_EQ(port.payload(0)[1], 16);
  driver.NozzleCount[cell(1, 1)] = 1;
  driver.SetPrice(1, 1, 3, 8.00, calls);
  EXPECT_EQ(port.frames.size(), 1U);
  EXPECT_EQ(driver.NozzleCount[cell(1, 1)], 3);
}

TEST_F(PriceTest, the_mono_product_rule_turns_a_single_nozzle_count_into_zero) {
  driver.MonoStart = true;
  port.reply(accepted_by(1));
  driver.SetPrice(1, 1, 1, 7.00, calls);
  EXPECT_EQ(driver.NozzleCount[cell(1, 1)], 0);
  EXPECT_EQ(port.payload(0), (Bytes{0x01, 0x06, '4', '4', '0', '7', '0', '0'}));
  port.reply(accepted_by(1));
  driver.SetPrice(1, 1, 2, 7.50, calls);
  EXPECT_EQ(driver.NozzleCount[cell(1, 1)], 2);
}

TEST_F(PriceTest, higher_nozzles_keep_a_zero_code_byte_on_the_wire) {
  port.reply(accepted_by(1));
  driver.SetPrice(1, 1, 4, 0.0, calls);  // the zero digits still differ from the zero bytes
  const Bytes payload = port.payload(0);
  ASSERT_EQ(payload.size(), 23U);
  EXPECT_EQ(Bytes(payload.begin() + 18, payload.end()), (Bytes{0x00, '0', '0', '0', '0'}));
}

TEST_F(PriceTest, price_digits_are_the_price_times_ten_to_its_decimals_rounded_half_to_even) {
  port.auto_ack = false;
  for (int i = 0; i < 12; ++i) port.reply(ReplyFrame(1, 'Q', "0"));
  EXPECT_EQ(digits_for(0.125), "0012");
  EXPECT_EQ(digits_for(0.375), "0038");
  EXPECT_EQ(digits_for(1.115), "0112");
  EXPECT_EQ(digits_for(99.99), "9999");
  use_decimals(2, 1);
  EXPECT_EQ(digits_for(6.5), "0065");
  use_decimals(2, 0);
  EXPECT_EQ(digits_for(650), "0650");
  use_decimals(2, 3);
  EXPECT_EQ(digits_for(6.5), "6500");
  use_decimals(2, 7);
  EXPECT_EQ(digits_for(6.51), "0651");
}

TEST_F(PriceTest, prices_that_do_not_fit_or_arguments_outside_the_tables_change_nothing) {
  const std::string before = Snapshot(driver);
  const auto refused = [&](int line, int pump, int nozzle, double price) {
    EXPECT_THROW(driver.SetPrice(line, pump, nozzle, price, calls), Exception)
        << line << " " << pump << " " << nozzle << " " << price;
  };
  refused(1, 1, 2, 100.0);
  refused(1, 1, 2, -0.01);
  refused(1, 1, 2, std::nan(""));
  refused(1, 1, 2, HUGE_VAL);
  refused(1, 1, 0, 1.0);
  refused(1, 1, 7, 1.0);
  refused(0, 1, 2, 1.0);
  refused(41, 1, 2, 1.0);
  refused(1, 0, 2, 1.0);
  EXPECT_EQ(Snapshot(driver), before);
  EXPECT_TRUE(port.frames.empty());
}

TEST_F(PriceTest, a_price_for_a_pump_above_32_keeps_its_own_message) {
  try {
    driver.SetPrice(1, 33, 1, 1.0, calls);
    FAIL();
  } catch (const ESerialIO&) {
    FAIL() << "not a line failure";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), cp1251("Номер колонки выходит за допустимый диапозон").c_str());
  }
}

TEST_F(PriceTest, a_failed_price_exchange_raises_and_the_same_price_goes_out_again) {
  port.silence();
  try {
    driver.SetPrice(1, 1, 1, 7.00, calls);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), cp1251("Ошибка задания цены").c_str());
  }
  EXPECT_EQ(driver.PriceBlock[cell(1, 1)][0], (PriceEntry{'4', '0', '7', '0', '0'}));
  port.reply(accepted_by(1));
  driver.SetPrice(1, 1, 1, 7.00, calls);  // the dispenser may not hold it
  driver.SetPrice(1, 1, 1, 7.00, calls);
  EXPECT_EQ(port.frames.size(), 2U);
}

}  // namespace
}  // namespace zarvo
