#include "sim/request.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/frames.h"

namespace zarvo::sim {
namespace {

using zarvo::testing::hex;

template <class T>
T parsed_as(const std::string& payload) {
  const auto request = parse_request(hex(payload));
  EXPECT_TRUE(request) << payload;
  if (!request) return T{};
  EXPECT_TRUE(std::holds_alternative<T>(request->command)) << payload;
  return std::holds_alternative<T>(request->command) ? std::get<T>(request->command) : T{};
}

TEST(ReplyFrame, a_status_reply_matches_the_documented_bytes) {
  EXPECT_EQ(reply_frame(1, 'J', "000300"), hex("16 16 01 07 4A 30 30 30 33 30 30 BA 4E"));
}

TEST(ParseRequest, reads_the_documented_price_payload) {
  const auto set = parsed_as<SetPrices>("02 0B 34 34 30 36 35 30 35 30 37 31 32");
  ASSERT_EQ(set.prices.count, 2);
  EXPECT_EQ(set.prices.digits[0], 650);
  EXPECT_EQ(set.prices.digits[1], 712);
}

TEST(ParseRequest, reads_the_documented_start_payloads) {
  const auto multi =
      parsed_as<Start>("02 13 39 32 56 30 30 32 30 30 30 34 30 36 35 30 35 30 37 31 32");
  EXPECT_EQ(multi.nozzle, 2);
  EXPECT_EQ(multi.kind, wire::PresetKind::kVolume);
  EXPECT_EQ(multi.target, 2000);
  EXPECT_FALSE(multi.mono);
  EXPECT_EQ(multi.prices.count, 2);
  EXPECT_EQ(multi.prices.digits[1], 712);

  // The mono-product amount field counts hundreds of amount units.
  const auto mono = parsed_as<Start>("01 10 31 31 50 30 35 30 30 30 30 30 30 34 30 36 35 30");
  EXPECT_EQ(mono.nozzle, 1);
  EXPECT_EQ(mono.kind, wire::PresetKind::kAmount);
  EXPECT_EQ(mono.target, 50000);
  EXPECT_TRUE(mono.mono);
  EXPECT_EQ(mono.prices.digits[0], 650);
}

TEST(ParseRequest, reads_stop_status_totals_parameters_and_acknowledgement) {
  EXPECT_EQ(parse_request(hex("01 01 35"))->address, 1);
  parsed_as<Stop>("00 01 35");
  parsed_as<Status>("01 02 4A 00");
  EXPECT_EQ(parsed_as<TotalsRequest>("01 02 42 31").nozzle, 1);
  EXPECT_EQ(parsed_as<ReadParam>("03 03 33 30 37").number, 7);
  const auto write = parsed_as<WriteParam>("03 05 32 34 30 30 32");
  EXPECT_EQ(write.number, 40);
  EXPECT_EQ(write.value, 2);
  EXPECT_EQ(parsed_as<WriteParam>("03 05 32 34 31 31 46").value, 0x1F);
  EXPECT_EQ(parsed_as<Ack>("01 03 4C 00 07").number, 7);
  EXPECT_EQ(parsed_as<Ack>("01 03 4C 12 34").number, 0x1234);
}

TEST(ParseRequest, rejects_what_a_dispenser_would_not_understand) {
  for (const char* payload : {
           "01 02 35",                       // length byte disagrees with the payload
           "21 01 35",                       // address 33
           "01 01 58",                       // unknown letter
           "01 02 42 37",                    // nozzle 7
           "01 03 33 34 41",                 // parameter number not decimal
           "01 05 32 34 30 30 47",           // value not hexadecimal
           "01 08 34 34 30 36 35 30 35 30",  // a partial price entry
           "01 06 34 34 30 36 3F 30",        // a price digit that is no digit
           "02 0E 39 37 56 30 30 32 30 30 30 34 30 36 35 30",        // nozzle 7
           "02 0E 39 32 58 30 30 32 30 30 30 34 30 36 35 30",        // kind neither V nor A
           "01 10 31 31 50 30 30 30 31 30 30 30 31 34 30 36 35 30",  // two targets
           "01",
           "",
       }) {
    EXPECT_FALSE(parse_request(hex(payload))) << payload;
  }
}

TEST(ParseRequest, survives_any_bytes) {
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::vector<std::uint8_t> payload(random() % 48);
    for (auto& b : payload) b = static_cast<std::uint8_t>(random());
    if (payload.size() >= 2) payload[1] = static_cast<std::uint8_t>(payload.size() - 2);
    if (payload.size() >= 3) payload[2] = "4915 32JBL"[random() % 10];
    (void)parse_request(payload);
  }
}

}  // namespace
}  // namespace zarvo::sim
