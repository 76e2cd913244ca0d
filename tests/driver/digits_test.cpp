#include "driver/digits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zarvo {
namespace {

TEST(ScaledInteger, scaled_digits_round_the_decimal_value_the_host_meant) {
  EXPECT_EQ(ScaledInteger(1.115, 2, Rounding::kHalfEven), 112U);
  EXPECT_EQ(ScaledInteger(0.125, 2, Rounding::kHalfEven), 12U);
  EXPECT_EQ(ScaledInteger(0.375, 2, Rounding::kHalfEven), 38U);
  EXPECT_EQ(ScaledInteger(2.675, 2, Rounding::kHalfEven), 268U);
  EXPECT_EQ(ScaledInteger(1.116, 2, Rounding::kHalfEven), 112U);
  EXPECT_EQ(ScaledInteger(1.114, 2, Rounding::kHalfEven), 111U);
  EXPECT_EQ(ScaledInteger(0.1250001, 2, Rounding::kHalfEven), 13U);
  EXPECT_EQ(ScaledInteger(99.999, 2, Rounding::kHalfEven), 10000U);
  EXPECT_EQ(ScaledInteger(10.5, 0, Rounding::kHalfAwayFromZero), 11U);
  EXPECT_EQ(ScaledInteger(10.5, 0, Rounding::kHalfEven), 10U);
  EXPECT_EQ(ScaledInteger(1250, -2, Rounding::kHalfEven), 12U);
  EXPECT_EQ(ScaledInteger(1350, -2, Rounding::kHalfEven), 14U);
  EXPECT_EQ(ScaledInteger(0.004, 0, Rounding::kHalfAwayFromZero), 0U);
  EXPECT_EQ(ScaledInteger(0.5, 0, Rounding::kHalfAwayFromZero), 1U);
  EXPECT_EQ(ScaledInteger(1e-300, 2, Rounding::kHalfEven), 0U);
  EXPECT_EQ(ScaledInteger(-0.0, 2, Rounding::kHalfEven), 0U);
  EXPECT_EQ(ScaledInteger(123456.78, 2, Rounding::kHalfEven), 12345678U);
}

TEST(ScaledInteger, a_value_that_is_no_count_of_units_is_refused) {
  EXPECT_FALSE(ScaledInteger(-0.001, 2, Rounding::kHalfEven));
  EXPECT_FALSE(ScaledInteger(std::nan(""), 2, Rounding::kHalfEven));
  EXPECT_FALSE(ScaledInteger(INFINITY, 2, Rounding::kHalfEven));
  EXPECT_FALSE(ScaledInteger(1e30, 2, Rounding::kHalfEven));
  EXPECT_FALSE(ScaledInteger(std::numeric_limits<double>::max(), 0, Rounding::kHalfEven));
}

TEST(WriteDigits, written_digits_pad_to_the_field_and_never_truncate) {
  std::array<std::uint8_t, 4> field{'x', 'x', 'x', 'x'};
  EXPECT_TRUE(WriteDigits(7, field));
  EXPECT_EQ(std::string(field.begin(), field.end()), "0007");
  EXPECT_FALSE(WriteDigits(10000, field));
  EXPECT_EQ(std::string(field.begin(), field.end()), "0007");
  EXPECT_TRUE(WriteDigits(9999, field));
  EXPECT_EQ(std::string(field.begin(), field.end()), "9999");
}

}  // namespace
}  // namespace zarvo
