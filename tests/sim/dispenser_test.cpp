#include "sim/dispenser.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace zarvo::sim {
namespace {

using std::chrono_literals::operator""ms;

std::vector<std::uint8_t> payload(int address, char letter, const std::string& data) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(data.size() + 3);
  bytes.push_back(static_cast<std::uint8_t>(address));
  bytes.push_back(static_cast<std::uint8_t>(data.size() + 1));
  bytes.push_back(static_cast<std::uint8_t>(letter));
  for (const char c : data) bytes.push_back(static_cast<std::uint8_t>(c));
  return bytes;
}

std::string digits(long value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*ld", width, value);
  return text;
}

// A line whose nozzles move only when a test moves them; flow 60 l/min, so
// a hundredth of a litre every 10 ms.
class DispenserTest : public ::testing::Test {
 protected:
  ModelOptions options() {
    ModelOptions o;
    o.auto_customer = false;
    return o;
  }
  Dispenser line{options()};

  std::optional<Reply> ask(int address, char letter, const std::string& data, Millis now) {
    const auto request = parse_request(payload(address, letter, data));
    EXPECT_TRUE(request) << letter << data;
    return line.handle(*request, now);
  }
  Reply reply(int address, char letter, const std::string& data, Millis now) {
    auto r = ask(address, letter, data, now);
    EXPECT_TRUE(r);
    return r.value_or(Reply{});
  }
  // "9" with price entries for nozzles 1 and 2.
  Reply start(int pump, int nozzle, char kind, long target, int price1, int price2, Millis now) {
    return reply(pump, '9',
                 std::string{static_cast<char>('0' + nozzle), kind} + digits(target, 6) + "4" +
                     digits(price1, 4) + "5" + digits(price2, 4),
                 now);
  }
  Reply status(int pump, Millis now) { return reply(pump, 'J', std::string(1, '\0'), now); }
  Reply ack(int pump, std::uint16_t number, Millis now) {
    return reply(pump, 'L',
                 std::string{static_cast<char>(number >> 8), static_cast<char>(number & 0xFF)},
                 now);
  }
  static std::uint16_t number_of(const Reply& r) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(r.data[0]) << 8 |
                                      static_cast<std::uint8_t>(r.data[1]));
  }
  // Runs one delivery on pump 1 nozzle 1 to its end and returns the "a" reply.
  Reply deliver(char kind, long target, int price, Millis& now) {
    EXPECT_EQ(start(1, 1, kind, target, price, 100, now).data, "0");
    EXPECT_TRUE(line.lift(1, 1, now));
    now += 3600000ms;
    EXPECT_TRUE(line.hang_up(1, now));
    return status(1, now);
  }
};

TEST_F(DispenserTest, an_idle_pump_reports_its_nozzles_hung_up) {
  const Reply r = status(2, 0ms);
  EXPECT_EQ(r.address, 2);
  EXPECT_EQ(r.type, 'J');
  EXPECT_EQ(r.data, "110000");
}

TEST_F(DispenserTest, a_volume_preset_ends_at_its_volume_with_the_amount_rounded_half_to_even) {
  Millis now{0};
  // 0.03 l at 1.50 is 0.045, which rounds to 0.04.
  const Reply r = deliver('V', 3, 150, now);
  EXPECT_EQ(r.type, 'a');
  EXPECT_EQ(r.data.substr(5), "   0.04   0.03");
}

TEST_F(DispenserTest, an_amount_preset_ends_at_exactly_its_amount) {
  Millis now{0};
  EXPECT_EQ(deliver('A', 10000, 5000, now).data.substr(5), " 100.00   2.00");
  ack(1, 1, now);
  // 100.00 at 30.00 buys 3.333.. l: the volume rounds, the amount does not.
  EXPECT_EQ(deliver('A', 10000, 3000, now).data.substr(5), " 100.00   3.33");
  const auto& record = line.transactions();
  ASSERT_EQ(record.size(), 2U);
  EXPECT_EQ(record[1].volume_cl, 333);
  EXPECT_EQ(record[1].amount, 10000);
}

TEST_F(DispenserTest, a_delivery_goes_through_every_state_the_host_sees) {
  EXPECT_EQ(start(1, 2, 'V', 1000, 650, 712, 0ms).data, "0");
  EXPECT_EQ(status(1, 1ms).data, "150000");  // authorized, not lifted
  ASSERT_TRUE(line.lift(1, 2, 2ms));
  EXPECT_EQ(status(1, 2ms).data, "140000");  // lifted and authorized, nothing flowed yet
  const Reply running = status(1, 1002ms);   // 1.00 l at 7.12
  EXPECT_EQ(running.type, 'R');
  EXPECT_EQ(running.data.substr(2), std::string("120") + "   7.12   1.00");
  EXPECT_EQ(reply(1, '5', "", 1502ms).data, "0");
  const Reply stopped = status(1, 5000ms);
  EXPECT_EQ(stopped.type, 'R');
  EXPECT_EQ(stopped.data.substr(2), std::string("220") + "  10.68   1.50");
  ASSERT_TRUE(line.hang_up(1, 6000ms));
  const Reply ended = status(1, 6000ms);
  EXPECT_EQ(ended.type, 'a');
  EXPECT_EQ(ended.data.substr(5), "  10.68   1.50");
  EXPECT_EQ(number_of(ended), number_of(running));
  EXPECT_EQ(ack(1, number_of(ended), 6001ms).data, "0");
  EXPECT_EQ(status(1, 6002ms).data, "110000");
}

TEST_F(DispenserTest, a_lifted_nozzle_without_authorization_shows_as_lifted) {
  ASSERT_TRUE(line.lift(3, 2, 0ms));
  EXPECT_EQ(status(3, 0ms).data, "130000");
  EXPECT_FALSE(line.lift(3, 1, 0ms));  // one nozzle at a time
  EXPECT_FALSE(line.lift(3, 3, 0ms));  // the pump has two
}

TEST_F(DispenserTest, transaction_numbers_count_up_and_only_the_right_one_releases) {
  Millis now{0};
  const Reply first = deliver('V', 100, 650, now);
  EXPECT_EQ(number_of(first), 1);
  EXPECT_EQ(ack(1, 2, now).data, "1");
  EXPECT_EQ(status(1, now).type, 'a');
  EXPECT_EQ(start(1, 1, 'V', 100, 650, 100, now).data, "1");  // refused while unreleased
  EXPECT_FALSE(line.transactions()[0].acknowledged);

  EXPECT_EQ(ack(1, 1, now).data, "0");
  EXPECT_EQ(ack(1, 1, now).data, "0");  // a repeated acknowledgement changes nothing
  EXPECT_TRUE(line.transactions()[0].acknowledged);
  EXPECT_EQ(number_of(deliver('V', 100, 650, now)), 2);
}

TEST_F(DispenserTest, the_record_keeps_every_delivery_with_its_line_pump_and_nozzle) {
  EXPECT_EQ(start(2, 2, 'A', 1424, 650, 712, 0ms).data, "0");
  ASSERT_TRUE(line.lift(2, 2, 0ms));
  ASSERT_TRUE(line.hang_up(2, 10000ms));
  ASSERT_EQ(line.transactions().size(), 1U);
  const Transaction t = line.transactions()[0];
  EXPECT_EQ(t.line, 1);
  EXPECT_EQ(t.pump, 2);
  EXPECT_EQ(t.nozzle, 2);
  EXPECT_EQ(t.volume_cl, 200);
  EXPECT_EQ(t.amount, 1424);
  EXPECT_EQ(line.totals(2, 2).volume_cl, 200);
}

TEST_F(DispenserTest, starts_that_cannot_be_carried_out_are_refused) {
  EXPECT_EQ(start(1, 3, 'V', 100, 650, 712, 0ms).data, "1");      // no third nozzle
  EXPECT_EQ(start(1, 1, 'V', 0, 650, 712, 0ms).data, "1");        // nothing to pour
  EXPECT_EQ(start(1, 1, 'A', 100, 0, 712, 0ms).data, "1");        // no price
  EXPECT_EQ(start(1, 1, 'V', 999999, 9999, 712, 0ms).data, "1");  // amount beyond its field
  EXPECT_EQ(start(1, 1, 'A', 999999, 1, 712, 0ms).data, "1");     // volume beyond its field
  ASSERT_TRUE(line.lift(1, 2, 0ms));
  EXPECT_EQ(start(1, 1, 'V', 100, 650, 712, 0ms).data, "1");  // another nozzle is up
  EXPECT_EQ(status(1, 0ms).data, "130000");
}

TEST_F(DispenserTest, a_mono_product_start_uses_its_one_price_entry) {
  // Amount field 0500 (whole currency units with two decimals): 500.00 at 50.00 is 10 l.
  EXPECT_EQ(reply(1, '1', "1P0500000045000", 0ms).data, "0");
  ASSERT_TRUE(line.lift(1, 1, 0ms));
  EXPECT_EQ(status(1, 600000ms).data.substr(5), " 500.00  10.00");
}

TEST_F(DispenserTest, address_zero_is_answered_by_the_lowest_pump_and_stops_every_pump) {
  EXPECT_EQ(status(0, 0ms).address, 1);
  EXPECT_EQ(start(1, 1, 'V', 5000, 650, 712, 0ms).data, "0");
  EXPECT_EQ(start(3, 1, 'V', 5000, 650, 712, 0ms).data, "0");
  ASSERT_TRUE(line.lift(1, 1, 0ms));
  ASSERT_TRUE(line.lift(3, 1, 0ms));
  const Reply r = reply(0, '5', "", 1000ms);
  EXPECT_EQ(r.address, 1);
  EXPECT_EQ(r.data, "0");
  EXPECT_EQ(status(1, 9000ms).data.substr(2, 1), "2");
  EXPECT_EQ(status(3, 9000ms).data.substr(2, 1), "2");
  EXPECT_EQ(status(3, 9000ms).data.substr(12), "   1.00");
}

TEST_F(DispenserTest, a_pump_that_is_not_on_the_line_never_answers) {
  EXPECT_FALSE(ask(5, 'J', std::string(1, '\0'), 0ms));
  EXPECT_FALSE(ask(32, '5', "", 0ms));
}

TEST_F(DispenserTest, totals_carry_the_number_whose_low_byte_is_the_first_field_character) {
  Millis now{0};
  deliver('V', 150, 650, now);
  const Reply totals = reply(1, 'B', "1", now);
  EXPECT_EQ(totals.type, 'B');
  ASSERT_EQ(totals.data.size(), 27U);
  EXPECT_EQ(totals.data.substr(1), "         1.50         9.75");
  // Acknowledging the totals answers but releases no delivery.
  const std::uint16_t number = number_of(totals);
  EXPECT_EQ(number & 0xFF, ' ');
  EXPECT_EQ(ack(1, number, now).data, "0");
  EXPECT_EQ(status(1, now).type, 'a');
}

TEST_F(DispenserTest, acknowledging_totals_never_releases_a_delivery_with_the_same_number) {
  Millis now{0};
  // Deliveries up to number 0x0020, the number a totals reply would carry.
  for (int i = 1; i < 0x20; ++i) {
    deliver('V', 1, 650, now);
    ack(1, static_cast<std::uint16_t>(i), now);
  }
  EXPECT_EQ(number_of(deliver('V', 1, 650, now)), 0x20);
  const Reply totals = reply(1, 'B', "1", now);
  EXPECT_NE(number_of(totals), 0x20);
  ack(1, number_of(totals), now);
  EXPECT_EQ(status(1, now).type, 'a');
}

TEST_F(DispenserTest, parameters_are_read_and_written_and_decimals_shape_the_amounts) {
  EXPECT_EQ(reply(1, '3', "40", 0ms).data, "4002");
  EXPECT_EQ(reply(1, '2', "421F", 0ms).data, "0");
  EXPECT_EQ(reply(1, '3', "42", 0ms).data, "421F");
  EXPECT_EQ(reply(1, '2', "4004", 0ms).data, "1");  // four amount decimals: refused
  EXPECT_EQ(reply(1, '2', "4000", 0ms).data, "0");
  Millis now{0};
  // 1.00 l at 50.00 with whole amounts.
  EXPECT_EQ(deliver('V', 100, 5000, now).data.substr(5), "     50   1.00");
  EXPECT_EQ(reply(1, 'B', "1", now).data.substr(14), "           50");
}

TEST_F(DispenserTest, the_simulated_customer_lifts_and_hangs_up_by_itself) {
  ModelOptions o;
  o.reaction = 100ms;
  Dispenser automatic(o);
  const auto request = parse_request(payload(1, '9', "1V00010040650"));
  ASSERT_TRUE(request);
  EXPECT_EQ(automatic.handle(*request, 0ms)->data, "0");
  automatic.advance_to(99ms);
  EXPECT_TRUE(automatic.transactions().empty());
  // Lifted at 100 ms, 1.00 l done at 1100 ms, hung up at 1200 ms.
  automatic.advance_to(1199ms);
  ASSERT_EQ(automatic.transactions().size(), 1U);
  EXPECT_FALSE(automatic.lift(1, 2, 1199ms));
  automatic.advance_to(1200ms);
  EXPECT_TRUE(automatic.lift(1, 2, 1200ms));
}

TEST_F(DispenserTest, a_self_service_pump_fuels_on_its_own_and_again_only_once_released) {
  ModelOptions o;
  o.pumps = 1;
  o.reaction = 10ms;
  o.flow_lpm = 600;
  o.self_service = true;
  Dispenser pump(o);
  pump.advance_to(0ms);
  pump.advance_to(5000ms);
  ASSERT_EQ(pump.transactions().size(), 1U);
  const Transaction first = pump.transactions()[0];
  EXPECT_GE(first.volume_cl, 100);
  EXPECT_LE(first.volume_cl, 999);
  const auto release = parse_request(payload(1, 'L', std::string{'\0', '\1'}));
  ASSERT_TRUE(release);
  EXPECT_EQ(pump.handle(*release, 5000ms)->data, "0");
  pump.advance_to(10000ms);
  ASSERT_EQ(pump.transactions().size(), 2U);
  EXPECT_TRUE(pump.transactions()[0].acknowledged);
  EXPECT_EQ(pump.transactions()[1].number, 2);
}

}  // namespace
}  // namespace zarvo::sim
