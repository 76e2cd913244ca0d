// The soak's comparison of the journal with what the simulator delivered.
#include "host/soak/record_check.h"

#include <gtest/gtest.h>

namespace zarvo::host {
namespace {

sim::Transaction delivered(int pump, std::uint16_t number, std::int64_t volume_cl,
                           std::int64_t amount) {
  return {.line = 1,
          .pump = pump,
          .nozzle = 1,
          .number = number,
          .volume_cl = volume_cl,
          .amount = amount,
          .amount_decimals = 2,
          .acknowledged = true};
}

TEST(SoakVerdict, each_delivery_must_be_journaled_once_with_its_readings) {
  const std::vector<sim::Transaction> record{
      delivered(1, 1, 200, 10000), delivered(1, 2, 200, 10000), delivered(2, 1, 333, 10000),
      delivered(3, 1, 150, 975)};
  // Equal readings on one pump are two deliveries when their numbers differ.
  const std::vector<JournalEntry> all_there{
      {1, 1, 1, 2.0, 100.0}, {1, 1, 2, 2.0, 100.0}, {1, 2, 1, 3.33, 100.0}, {1, 3, 1, 1.5, 9.75}};
  const SoakVerdict clean = compare_records(record, all_there);
  EXPECT_TRUE(clean.clean());
  EXPECT_TRUE(clean.details.empty());

  const std::vector<JournalEntry> faulty{{1, 1, 1, 2.0, 100.0},
                                         {1, 1, 1, 2.0, 100.0},
                                         {1, 1, 1, 2.0, 100.0},
                                         {1, 2, 1, 3.33, 100.5},
                                         {1, 4, 1, 1.0, 5.0}};
  const SoakVerdict verdict = compare_records(record, faulty);
  EXPECT_EQ(verdict.lost, 2U);        // pump 1's second and pump 3's delivery
  EXPECT_EQ(verdict.duplicated, 2U);  // pump 1's first, three times
  EXPECT_EQ(verdict.wrong, 2U);       // pump 2's amount, pump 4's that never happened
  EXPECT_FALSE(verdict.clean());
  EXPECT_EQ(verdict.details.size(), 5U);
}

TEST(SoakVerdict, each_line_is_held_against_its_own_simulator_alone) {
  // Line 1 delivered transaction 1 on pump 1; line 2 the same number on the same pump.
  const std::vector<sim::Transaction> line1{delivered(1, 1, 200, 10000)};
  std::vector<sim::Transaction> line2{delivered(1, 1, 150, 975)};
  line2[0].line = 2;
  const std::vector<JournalEntry> journal{{1, 1, 1, 2.0, 100.0}, {2, 1, 1, 1.5, 9.75}};
  EXPECT_TRUE(compare_line(1, line1, journal).clean());
  EXPECT_TRUE(compare_line(2, line2, journal).clean());
  // Line 2's delivery journaled under line 1: lost on line 2, never delivered on line 1.
  const std::vector<JournalEntry> crossed{{1, 1, 1, 2.0, 100.0}, {1, 1, 1, 1.5, 9.75}};
  const SoakVerdict first = compare_line(1, line1, crossed);
  EXPECT_EQ(first.duplicated, 1U);
  EXPECT_EQ(first.wrong, 1U);
  EXPECT_EQ(compare_line(2, line2, crossed).lost, 1U);
}

}  // namespace
}  // namespace zarvo::host
