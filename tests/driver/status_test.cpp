#include <gtest/gtest.h>

#include "tests/support/driver_fixture.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::cell;
using testing::ReplyFrame;

class StatusTest : public testing::DriverTest {
 protected:
  std::array<std::uint8_t, 16> poll(std::uint8_t pump, std::uint8_t nozzles = 0) {
    std::array<std::uint8_t, 16> record;
    record.fill(0xEE);
    driver.PollPump(1, pump, nozzles, record, calls);
    return record;
  }
  void answer_status(std::uint8_t pump, std::string_view chars) {
    port.reply(ReplyFrame(pump, 'J', chars));
  }
  void answer_params(std::uint8_t pump) {
    for (int i = 0; i < 3; ++i) port.reply(ReplyFrame(pump, 'Q', "0"));
  }
};

TEST_F(StatusTest, the_first_poll_programs_the_parameters_and_later_ones_only_ask_the_state) {
  answer_params(3);
  answer_status(3, "300000");
  poll(3);
  answer_status(3, "300000");
  poll(3);
  const std::vector<Bytes> expected = {{0x03, 0x05, 0x32, 0x34, 0x30, 0x30, 0x32},
                                       {0x03, 0x05, 0x32, 0x34, 0x31, 0x30, 0x32},
                                       {0x03, 0x05, 0x32, 0x34, 0x32, 0x30, 0x30},
                                       {0x03, 0x02, 'J', 0x00},
                                       {0x03, 0x02, 'J', 0x00}};
  EXPECT_EQ(port.payloads(), expected);
  driver.MarkAllParamsPending();
  answer_params(3);
  answer_status(3, "300000");
  poll(3);
  EXPECT_EQ(port.frames.size(), 9U);
}

// The settings dialog confirms on its own thread while a poll programs the pump.
class ConfirmDuringWrites final : public TableCalls {
 public:
  explicit ConfirmDuringWrites(TVM30& driver) : driver_(driver) {}
  void WriteParam(std::uint8_t, std::uint8_t, std::int32_t, std::int32_t) override {
    driver_.MarkAllParamsPending();
  }
  std::uint8_t ReadPumpState(std::int32_t, std::uint8_t) override { return 0; }

 private:
  TVM30& driver_;
};

TEST_F(StatusTest, a_confirmation_during_a_polls_writes_is_not_wiped_by_it) {
  std::array<std::uint8_t, 16> record{};
  ConfirmDuringWrites calls(driver);
  driver.PollPump(1, 1, 0, record, calls);
  EXPECT_EQ(driver.ParamsPending[cell(1, 1)], 1);
}

TEST_F(StatusTest, the_poll_record_carries_the_state_and_its_low_three_bits) {
  driver.ParamsPending[cell(1, 1)] = 0;
  const struct {
    std::string_view chars;
    std::uint8_t state;
    std::uint8_t low;
  } cases[] = {{"200000", 0xC0, 0}, {"030000", 0xE2, 2}, {"C00000", 0xFF, 7}, {"600000", 1, 1}};
  for (const auto& c : cases) {
    answer_status(1, c.chars);
    const auto record = poll(1);
    EXPECT_EQ(record[0], c.state);
    EXPECT_EQ(record[1], 0);
    EXPECT_EQ(record[14], c.low);
    EXPECT_EQ(record[15], 0);
    for (std::size_t i = 2; i < 14; ++i) EXPECT_EQ(record[i], 0xEE);
  }
}

TEST_F(StatusTest, the_hosts_nozzle_count_is_kept_only_above_one) {
  for (const auto& [given, kept] : {std::pair{0, 1}, {1, 1}, {4, 4}}) {
    driver.NozzleCount[cell(1, 1)] = 1;
    driver.ParamsPending[cell(1, 1)] = 0;
    answer_status(1, "100000");
    poll(1, static_cast<std::uint8_t>(given));
    EXPECT_EQ(driver.NozzleCount[cell(1, 1)], kept);
  }
  EXPECT_THROW(poll(1, 7), Exception);
  EXPECT_EQ(driver.NozzleCount[cell(1, 1)], 4);
}

TEST_F(StatusTest, a_failed_parameter_write_keeps_the_pump_pending_and_writes_no_record) {
  port.reply(ReplyFrame(1, 'Q', "0")).silence();
  std::array<std::uint8_t, 16> record{};
  record.fill(0xEE);
  EXPECT_THROW(driver.PollPump(1, 1, 3, record, calls), ESerialIO);
  EXPECT_EQ(driver.ParamsPending[cell(1, 1)], 1);
  EXPECT_EQ(driver.NozzleCount[cell(1, 1)], 3);
  EXPECT_EQ(record[0], 0xEE);
}

TEST_F(StatusTest, a_state_is_reported_only_when_the_port_took_the_reply) {
  answer_status(1, "300000");
  EXPECT_EQ(driver.ReadPumpState(1, 1), 225);
  // A port that reports success without having accepted a reply.
  port.rx_state = 3;
  port.silence(0);
  EXPECT_EQ(driver.ReadPumpState(1, 1), 0);
  port.silence();
  EXPECT_THROW(driver.ReadPumpState(1, 1), ESerialIO);
  EXPECT_THROW(driver.ReadPumpState(1, 33), Exception);
}

TEST_F(StatusTest, totals_are_handed_over_only_when_the_reply_was_taken) {
  Bytes data = {0x00};
  for (const char c : std::string_view("      1234.56      9876.54")) data.push_back(c);
  port.reply(ReplyFrame(1, 'B', data));
  const auto totals = driver.ReadTotals(1, 1, 2);
  ASSERT_TRUE(totals);
  EXPECT_EQ(port.payload(0), (Bytes{0x01, 0x02, 'B', '2'}));
  EXPECT_EQ(totals->volume, 1234.56);
  EXPECT_EQ(totals->amount, 9876.54);
  port.rx_state = 3;
  port.silence(0);
  EXPECT_FALSE(driver.ReadTotals(1, 1, 3));
  EXPECT_THROW(driver.ReadTotals(1, 1, 7), Exception);
}

TEST_F(StatusTest, an_amount_within_one_price_step_of_the_preset_reads_as_the_preset) {
  const PumpCell pump = cell(1, 1);
  driver.PriceValue[*NozzleCell::of(pump, 1)] = 50;
  driver.PresetValue[pump] = 500;
  driver.DispVolume[pump] = 10;
  const struct {
    double amount;
    double reported;
  } cases[] = {{499.60, 500}, {499.50, 499.50}, {500.25, 500}, {480, 480}};
  for (const auto& c : cases) {
    driver.DispAmount[pump] = c.amount;
    const Delivery d = driver.GetDelivery(1, 1);
    EXPECT_EQ(d.amount, c.reported) << c.amount;
    EXPECT_EQ(d.volume, 10);
    EXPECT_EQ(driver.DispAmount[pump], c.amount);
  }
  driver.PresetValue[pump] = 0;
  driver.DispAmount[pump] = 0.30;
  EXPECT_EQ(driver.GetDelivery(1, 1).amount, 0);
  driver.PriceValue[*NozzleCell::of(pump, 1)] = 0;
  EXPECT_EQ(driver.GetDelivery(1, 1).amount, 0.30);
  EXPECT_THROW(driver.GetDelivery(0, 1), Exception);
}

}  // namespace
}  // namespace zarvo
