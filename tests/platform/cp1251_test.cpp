#include "platform/cp1251.h"

#include <gtest/gtest.h>

namespace zarvo {
namespace {

TEST(Cp1251, cyrillic_letters_are_one_byte_each) {
  constexpr auto text = cp1251("Аа Яя Ёё №1");
  EXPECT_EQ(text.view(),
            "\xC0\xE0 \xDF\xFF \xA8\xB8 \xB9"
            "1");
  EXPECT_EQ(cp1251("Протокол колонок Zarvo").size, 22U);
}

}  // namespace
}  // namespace zarvo
