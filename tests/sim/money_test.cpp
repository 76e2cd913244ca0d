#include "sim/money.h"

#include <gtest/gtest.h>

namespace zarvo::sim {
namespace {

TEST(Money, an_exact_half_goes_to_the_even_neighbour) {
  EXPECT_EQ(divide_half_even(5, 10), 0);
  EXPECT_EQ(divide_half_even(15, 10), 2);
  EXPECT_EQ(divide_half_even(25, 10), 2);
  EXPECT_EQ(divide_half_even(26, 10), 3);
  EXPECT_EQ(divide_half_even(24, 10), 2);
}

TEST(Money, the_amount_of_a_volume_is_rounded_half_to_even) {
  // 0.03 l at 1.50 is 0.045; 0.01 l at 1.50 is 0.015.
  EXPECT_EQ(amount_for_volume(3, {150, 2, 2}), 4);
  EXPECT_EQ(amount_for_volume(1, {150, 2, 2}), 2);
  EXPECT_EQ(amount_for_volume(2000, {712, 2, 2}), 14240);
}

TEST(Money, decimals_of_prices_and_amounts_scale_the_amount) {
  // 20.00 l at 71.2 with whole amounts; at 0.712 with three amount decimals.
  EXPECT_EQ(amount_for_volume(2000, {712, 1, 0}), 1424);
  EXPECT_EQ(amount_for_volume(2000, {712, 3, 3}), 14240);
  // 1.00 l at 712 (no price decimals) with one amount decimal.
  EXPECT_EQ(amount_for_volume(100, {712, 0, 1}), 7120);
}

TEST(Money, the_volume_of_an_amount_is_rounded_to_hundredths) {
  EXPECT_EQ(volume_for_amount(10000, {5000, 2, 2}), 200);  // 100.00 at 50.00
  EXPECT_EQ(volume_for_amount(10000, {3000, 2, 2}), 333);  // 3.333.. l
  EXPECT_EQ(volume_for_amount(100, {5000, 2, 0}), 200);    // 100 at 50.00, whole amounts
  EXPECT_EQ(volume_for_amount(1, {200, 2, 2}), 0);         // 0.005 l rounds to even
}

TEST(Money, fields_are_right_aligned_with_the_decimal_point) {
  EXPECT_EQ(decimal_field(10000, 2, 7), " 100.00");
  EXPECT_EQ(decimal_field(5, 2, 7), "   0.05");
  EXPECT_EQ(decimal_field(1234, 0, 7), "   1234");
  EXPECT_EQ(decimal_field(999999, 2, 7), "9999.99");
  EXPECT_EQ(decimal_field(0, 3, 7), "  0.000");
}

TEST(Money, a_value_too_wide_for_its_field_is_refused_not_cut) {
  EXPECT_FALSE(decimal_field(1000000, 2, 7));
  EXPECT_FALSE(decimal_field(10000000, 0, 7));
  EXPECT_FALSE(decimal_field(-1, 2, 7));
  EXPECT_EQ(field_capacity(2, 13), 999999999999);
}

}  // namespace
}  // namespace zarvo::sim
