#include "codepage/cp1251.h"

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

TEST(Cp1251, text_reads_back_as_the_same_utf8_and_the_unassigned_byte_is_marked) {
  EXPECT_EQ(utf8_from_cp1251(cp1251("Ошибка №5: «Ёё» — Ђђ € ї").view()),
            "Ошибка №5: «Ёё» — Ђђ € ї");
  EXPECT_EQ(utf8_from_cp1251("a\x98z"), "a\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace zarvo
