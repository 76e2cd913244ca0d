#include "protocol/decode.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "codepage/cp1251.h"
#include "tests/support/driver_fixture.h"
#include "tests/support/status_cases.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::cell;
using testing::DeliveryData;
using testing::ReplyFrame;
using testing::Snapshot;

Bytes totals_data(std::uint8_t txn_high, std::string_view volume13, std::string_view amount13) {
  // The transaction number's low byte is the volume field's first character.
  Bytes data = {txn_high};
  for (const char c : volume13) data.push_back(static_cast<std::uint8_t>(c));
  for (const char c : amount13) data.push_back(static_cast<std::uint8_t>(c));
  return data;
}

class DecodeTest : public testing::DriverTest {
 protected:
  // Sends a request for the pump (status by default) and answers it with reply.
  void exchange_with(const Bytes& reply, std::uint8_t pump = 1, std::uint8_t address = 1,
                     char letter = 'J') {
    port.reply(reply);
    const Bytes payload = {address, 2, static_cast<std::uint8_t>(letter), 0};
    Exchange(Link{driver.Port, driver}, 1, pump, payload);
  }
  std::uint8_t state(int pump = 1) { return driver.PumpState[cell(1, pump)]; }
};

TEST_F(DecodeTest, the_status_scan_follows_its_table) {
  for (const auto& c : testing::kStatusCases) {
    if (c.stored == 0) continue;
    driver.PumpState[cell(1, 1)] = 77;
    exchange_with(ReplyFrame(1, 'J', c.chars));
    EXPECT_EQ(state(), c.stored) << c.chars;
  }
}

TEST_F(DecodeTest, a_status_that_decides_nothing_keeps_the_last_state) {
  for (const auto& c : testing::kStatusCases) {
    if (c.stored != 0) continue;
    driver.PumpState[cell(1, 1)] = 77;
    exchange_with(ReplyFrame(1, 'J', c.chars));
    EXPECT_EQ(state(), 77) << c.chars;
  }
}

TEST_F(DecodeTest,
       an_ended_status_is_acknowledged_with_the_request_addresses_number_before_its_state_is_kept) {
  driver.TxnNo[cell(1, 1)] = 0x0102;
  exchange_with(ReplyFrame(1, 'J', "A00000"));
  ASSERT_EQ(port.frames.size(), 2U);
  EXPECT_EQ(port.payload(1), (Bytes{0x01, 0x03, 'L', 0x01, 0x02}));
  EXPECT_EQ(state(), 216);
}

TEST_F(DecodeTest, command_answers_and_live_readings_set_their_state_codes) {
  exchange_with(ReplyFrame(1, 'Q', "5"));
  EXPECT_EQ(state(), 229);
  exchange_with(ReplyFrame(1, 'R', DeliveryData(0x0203, '3', "0001234", "  12.50")));
  EXPECT_EQ(state(), 219);
  EXPECT_EQ(driver.TxnNo[cell(1, 1)], 0x0203);
  EXPECT_EQ(driver.DispAmount[cell(1, 1)], 1234.0);  // unscaled
  EXPECT_EQ(driver.DispVolume[cell(1, 1)], 12.5);
  EXPECT_EQ(port.frames.size(), 2U);  // live readings are not acknowledged
}

TEST_F(DecodeTest, the_transaction_number_goes_under_the_address_the_reply_carries) {
  // A request to every pump is answered by one of them.
  exchange_with(ReplyFrame(3, 'R', DeliveryData(9, '1', "   1.00", "   2.00")), 1, 0);
  EXPECT_EQ(driver.TxnNo[cell(1, 3)], 9);
  EXPECT_EQ(driver.TxnNo[cell(1, 1)], 0);
  EXPECT_EQ(driver.DispAmount[cell(1, 1)], 1.0);
}

TEST_F(DecodeTest, a_late_reply_from_another_pump_is_not_filed_or_acknowledged) {
  driver.TxnNo[cell(1, 1)] = 4;  // pump 1's own ended transaction, not yet reported
  const std::string before = Snapshot(driver);
  exchange_with(ReplyFrame(3, 'a', DeliveryData(9, '0', "  10.00", "   2.00")), 1, 1);
  EXPECT_EQ(Snapshot(driver), before);
  EXPECT_EQ(port.frames.size(), 1U);  // no acknowledgement releases pump 1's transaction
}

TEST_F(DecodeTest, an_ended_delivery_is_acknowledged_and_then_marked_ended) {
  exchange_with(ReplyFrame(1, 'a', DeliveryData(7, '0', "  99.50", "   1.99")));
  ASSERT_EQ(port.frames.size(), 2U);
  EXPECT_EQ(port.frames[1], (Bytes{0x16, 0x16, 0x01, 0x03, 0x4C, 0x00, 0x07, 0xE3, 0xF9}));
  EXPECT_EQ(driver.DispAmount[cell(1, 1)], 99.5);
  EXPECT_EQ(driver.DispVolume[cell(1, 1)], 1.99);
  EXPECT_EQ(state(), 1);
}

TEST_F(DecodeTest, a_failed_acknowledgement_raises_and_leaves_the_state_unwritten) {
  driver.PumpState[cell(1, 1)] = 77;
  port.reply(ReplyFrame(1, 'a', DeliveryData(7, '0', "  99.50", "   1.99"))).silence();
  const Bytes payload = {1, 2, 'J', 0};
  try {
    Exchange(Link{driver.Port, driver}, 1, 1, payload);
    FAIL() << "no exception";
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), cp1251("Ошибка при подтверждении конца транзакции").c_str());
  }
  EXPECT_EQ(driver.DispAmount[cell(1, 1)], 99.5);
  EXPECT_EQ(state(), 77);
}

TEST_F(DecodeTest, totals_share_the_numbers_low_byte_with_the_first_field_and_are_acknowledged) {
  exchange_with(ReplyFrame(1, 'B', totals_data(0x00, "    123456.78", "   6172839.00")), 1, 1, 'B');
  EXPECT_EQ(driver.TotalVolume[cell(1, 1)], 123456.78);
  EXPECT_EQ(driver.TotalAmount[cell(1, 1)], 6172839.0);
  EXPECT_EQ(driver.TxnNo[cell(1, 1)], 0x0020);  // the blank that starts the field
  ASSERT_EQ(port.frames.size(), 2U);
  EXPECT_EQ(port.payload(1), (Bytes{0x01, 0x03, 'L', 0x00, 0x20}));
  EXPECT_EQ(state(), 1);
}

TEST_F(DecodeTest, a_parameter_reply_carries_two_decimal_and_two_hex_digits) {
  exchange_with(ReplyFrame(1, '3', "410A"));
  EXPECT_EQ(driver.LastParamNo(), 41);
  EXPECT_EQ(driver.LastParamValue(), 10);
  exchange_with(ReplyFrame(1, '3', "07ff"));
  EXPECT_EQ(driver.LastParamValue(), 255);
  // A byte that is no hex digit, in either place, reads as 0.
  for (std::string_view data : {"410G", "41G0", "41 5", "41:5", "41g5"}) {
    exchange_with(ReplyFrame(1, '3', "41FF"));
    exchange_with(ReplyFrame(1, '3', data));
    EXPECT_EQ(driver.LastParamValue(), 0) << data;
  }
}

TEST_F(DecodeTest, a_reply_for_pump_zero_changes_no_pump) {
  const std::string before = Snapshot(driver);
  exchange_with(ReplyFrame(1, 'R', DeliveryData(0, '1', "   1.00", "   2.00")), 0, 40);
  exchange_with(ReplyFrame(1, 'Q', "0"), 0, 0);
  exchange_with(ReplyFrame(40, 'R', DeliveryData(5, '1', "   1.00", "   2.00")), 0, 0);
  // Ends reported from address 0 are neither filed nor acknowledged.
  exchange_with(ReplyFrame(0, 'a', DeliveryData(5, '0', "   1.00", "   2.00")), 0, 0);
  exchange_with(ReplyFrame(0, 'B', totals_data(0, "         1.00", "         2.00")), 0, 0, 'B');
  // Readings and states have no column; address 40 has no transaction cell.
  EXPECT_EQ(Snapshot(driver), before);
  EXPECT_EQ(port.frames.size(), 5U);
}

TEST_F(DecodeTest, a_reply_of_a_type_the_driver_does_not_know_changes_nothing) {
  const std::string before = Snapshot(driver);
  for (const char type : {'L', 'j', 'b', 'A', 'q', '\0'}) {
    exchange_with(ReplyFrame(1, type, DeliveryData(5, '0', "   1.00", "   2.00")));
  }
  EXPECT_EQ(Snapshot(driver), before);
  EXPECT_EQ(port.frames.size(), 6U);  // and acknowledges nothing
}

TEST_F(DecodeTest, a_reply_address_outside_the_pumps_writes_no_transaction_number) {
  const std::string before = Snapshot(driver);
  for (std::uint8_t address : {0, 33, 255}) {
    exchange_with(ReplyFrame(address, 'R', DeliveryData(5, '1', "   1.00", "   2.00")), 1, 0);
  }
  driver.DispAmount[cell(1, 1)] = 0;
  driver.DispVolume[cell(1, 1)] = 0;
  driver.PumpState[cell(1, 1)] = 0;
  EXPECT_EQ(Snapshot(driver), before);
}

TEST_F(DecodeTest, an_acknowledgement_after_a_request_to_every_pump_names_the_answering_pump) {
  driver.TxnNo[cell(1, 2)] = 0x0405;
  port.reply(ReplyFrame(2, 'a', DeliveryData(0x0405, '0', "   1.00", "   2.00")));
  const Bytes stop_all = {0, 1, '5'};
  // Filed under the pump that answered: only there is an end acknowledged.
  Exchange(Link{driver.Port, driver}, 1, 2, stop_all);
  ASSERT_EQ(port.frames.size(), 2U);
  EXPECT_EQ(port.payload(1), (Bytes{0x00, 0x03, 'L', 0x04, 0x05}));
}

TEST_F(DecodeTest,
       a_dispenser_that_answers_every_acknowledgement_with_another_end_stops_after_a_few_rounds) {
  const Bytes ended = ReplyFrame(1, 'a', DeliveryData(7, '0', "   1.00", "   2.00"));
  for (int i = 0; i < 20; ++i) port.reply(ended);
  // An end answering the acknowledgement has no row there: it waits for the next poll.
  EXPECT_NO_THROW(exchange_with(ended));
  EXPECT_LE(port.frames.size(), 6U);
  EXPECT_EQ(state(), 1);
}

TEST_F(DecodeTest, a_field_that_is_no_number_raises_and_keeps_what_was_written_before_it) {
  try {
    exchange_with(ReplyFrame(1, 'R', DeliveryData(3, '1', "  10.00", "12x4   ")));
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "'12x4   ' is not a valid floating point value");
  }
  EXPECT_EQ(driver.TxnNo[cell(1, 1)], 3);
  EXPECT_EQ(driver.DispAmount[cell(1, 1)], 10.0);
  EXPECT_EQ(driver.DispVolume[cell(1, 1)], 0.0);
}

TEST_F(DecodeTest, a_short_reply_reads_the_cleared_buffer_beyond_its_end) {
  EXPECT_THROW(exchange_with(ReplyFrame(1, 'R',
                                        "\x01\x02"
                                        "1")),
               Exception);
  EXPECT_EQ(driver.TxnNo[cell(1, 1)], 0x0102);
  EXPECT_EQ(state(), 217);
}

TEST(ReplyFieldValue, a_reply_field_converts_the_same_on_every_machine) {
  const auto value = [](std::string_view text) {
    return ReplyFieldValue(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  };
  EXPECT_EQ(value(" 12.50 "), 12.5);
  EXPECT_EQ(value("  12,50"), 12.5);
  EXPECT_EQ(value("-3"), -3.0);
  EXPECT_EQ(value("+.5"), 0.5);
  EXPECT_EQ(value("7."), 7.0);
  EXPECT_EQ(value("1E3"), 1000.0);
  EXPECT_EQ(value("25e-1"), 2.5);
  EXPECT_EQ(value("1e+2"), 100.0);
  for (std::string_view bad :
       {"", "   ", "1.2.3", "inf", "nan", "1e", "- 1", "1 2", ".", "0x10", "1e999", "-9e999"}) {
    EXPECT_THROW(value(bad), Exception) << bad;
  }
}

}  // namespace
}  // namespace zarvo
