// The soak's fault profiles: names, settings and the words for them.
#include "host/soak/fault_profile.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zarvo::host
