#include "sim/faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace zarvo::sim {
namespace {

using std::chrono_literals::operator""ms;

std::string fates(FaultInjector& faults, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const Fate f = faults.on_request(Millis{i});
    text += !f.heard ? 's' : !f.answered ? 'd' : f.flipped_bit ? 'c' : !f.noise.empty() ? 'n' : '.';
  }
  return text;
}

TEST(Faults, a_seed_repeats_the_same_faults) {
  FaultOptions o;
  o.drop = 0.2;
  o.corrupt = 0.2;
  o.noise = 0.2;
  o.seed = 42;
  FaultInjector first(o);
  FaultInjector second(o);
  const std::string run = fates(first, 200);
  EXPECT_EQ(fates(second, 200), run);
  for (const char kind : {'d', 'c', 'n', '.'}) EXPECT_NE(run.find(kind), std::string::npos);
  o.seed = 43;
  FaultInjector other(o);
  EXPECT_NE(fates(other, 200), run);
}

TEST(Faults, a_silent_spell_ends_after_its_time) {
  FaultOptions o;
  o.silent = 0.5;
  o.silent_for = 100ms;
  FaultInjector faults(o);
  // Requests 10 ms apart: every spell is 10 unheard requests, then a draw again.
  int unheard = 0;
  int longest = 0;
  for (int i = 0; i < 1000; ++i) {
    unheard = faults.on_request(Millis{i * 10}).heard ? 0 : unheard + 1;
    longest = std::max(longest, unheard);
  }
  EXPECT_GE(longest, 10);
  EXPECT_EQ(longest % 10, 0);
}

TEST(Faults, noise_never_holds_a_syn_and_a_flip_changes_one_bit) {
  FaultOptions o;
  o.noise = 1.0;
  FaultInjector faults(o);
  for (int i = 0; i < 200; ++i) {
    const Fate f = faults.on_request(Millis{i});
    ASSERT_GE(f.noise.size(), 1U);
    ASSERT_LE(f.noise.size(), 8U);
    for (const auto b : f.noise) ASSERT_NE(b, 0x16);
  }
  std::vector<std::uint8_t> frame{0x16, 0x16, 0x01};
  FaultInjector::spoil(frame, 8 * 3 + 1);  // wraps round to bit 1 of the first byte
  EXPECT_EQ(frame, (std::vector<std::uint8_t>{0x14, 0x16, 0x01}));
}

TEST(Faults, the_counts_tell_what_each_request_met) {
  FaultOptions o;
  o.silent = 0.05;
  o.silent_for = 30ms;
  o.drop = 0.1;
  o.corrupt = 0.1;
  o.noise = 0.1;
  o.delay = 5ms;
  o.delay_rate = 0.1;
  FaultInjector faults(o);
  FaultCounts seen;
  for (int i = 0; i < 2000; ++i) {
    const Fate f = faults.on_request(Millis{i * 10});
    seen.unheard += f.heard ? 0 : 1;
    seen.dropped += f.heard && !f.answered ? 1 : 0;
    seen.delayed += f.delay > Millis{0} ? 1 : 0;
    seen.noisy += f.noise.empty() ? 0 : 1;
    seen.corrupted += f.flipped_bit ? 1 : 0;
  }
  const FaultCounts& counts = faults.counts();
  EXPECT_EQ(counts.requests, 2000U);
  EXPECT_EQ(counts.unheard, seen.unheard);
  EXPECT_EQ(counts.dropped, seen.dropped);
  EXPECT_EQ(counts.delayed, seen.delayed);
  EXPECT_EQ(counts.noisy, seen.noisy);
  EXPECT_EQ(counts.corrupted, seen.corrupted);
  // Each spell swallows the request that began it and the two after it (the
  // last spell may be cut short by the end of the run).
  EXPECT_GT(counts.silent_spells, 0U);
  EXPECT_LE(counts.unheard, 3 * counts.silent_spells);
  EXPECT_GE(counts.unheard + 2, 3 * counts.silent_spells);
}

}  // namespace
}  // namespace zarvo::sim
