// The soak's fault profiles and its comparison of the journal with what the
// simulator delivered.
#include "host/tools/soak.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

namespace zarvo::host {
namespace {

using namespace std::chrono_literals;

TEST(SoakFaults, profiles_name_their_rates_and_settings_override_them) {
  const sim::FaultOptions none = parse_fault_profile("none", 50ms);
  EXPECT_EQ(describe_faults(none), "no faults");
  const sim::FaultOptions standard = parse_fault_profile("default", 50ms);
  EXPECT_EQ(describe_faults(standard), "corrupt 5 %, drop 2 %, silent 1 % for 100 ms");
  // Late replies come after the host has given up on them.
  const sim::FaultOptions harsh = parse_fault_profile("harsh,late=3,late-ms=40", 50ms);
  EXPECT_DOUBLE_EQ(harsh.noise, 0.05);
  EXPECT_DOUBLE_EQ(harsh.delay_rate, 0.03);
  EXPECT_EQ(harsh.delay, 40ms);
  EXPECT_EQ(parse_fault_profile("harsh", 200ms).delay, 225ms);
  const sim::FaultOptions own = parse_fault_profile("corrupt=10,drop=0.5,silent-ms=30", 50ms);
  EXPECT_EQ(describe_faults(own), "corrupt 10 %, drop 0.5 %");
  EXPECT_EQ(own.silent_for, 30ms);
}

TEST(SoakFaults, unknown_names_and_settings_and_bad_values_are_refused) {
  for (const char* bad : {"", "gentle", "corrupt", "corrupt=", "corrupt=101", "drop=-1", "drop=2x",
                          "hum=3", "corrupt=5,default", "silent-ms=1.5"}) {
    EXPECT_THROW(parse_fault_profile(bad, 50ms), std::invalid_argument) << bad;
  }
}

TEST(SoakFaults, a_soak_on_real_lines_is_refused) {
  SoakOptions soak;
  SessionOptions session;
  session.lines = {{1, "/dev/ttyS0"}};
  EXPECT_THROW(prepare_soak_session(soak, session, false), std::invalid_argument);
  session.lines.clear();
  prepare_soak_session(soak, session, false);
  EXPECT_FALSE(session.simulator.link.pacing);
  EXPECT_EQ(session.timeouts.first_byte, 50ms);
}

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

TEST(SoakJournal, the_entries_after_a_row_are_those_of_this_run) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zarvo-soak-journal-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  {
    Journal journal(path.string());
    EXPECT_EQ(journal.last_id(), 0);
    journal.record({1, 2, 7, 2.0, 100.0});
  }
  Journal journal(path.string());
  const std::int64_t before = journal.last_id();
  EXPECT_EQ(before, 1);
  journal.record({1, 3, 8, 1.5, 60.25});
  const auto entries = journal.entries_after(before);
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_EQ(entries[0].pump, 3U);
  EXPECT_EQ(entries[0].transaction, 8U);
  EXPECT_DOUBLE_EQ(entries[0].volume, 1.5);
  EXPECT_DOUBLE_EQ(entries[0].amount, 60.25);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace zarvo::host
