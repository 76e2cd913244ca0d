// The settings dialog on a terminal: where the form's controls land on the
// grid, what keys do, and the real runner on a pseudo-terminal.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "forms/terminal_form.h"
#include "forms/terminal_text.h"
#include "pty_session.h"
#include "settings_dialog/param_form.h"
#include "tests/support/fresh_process.h"
#include "tests/support/settings_dir.h"

namespace zarvo {
namespace {

using namespace std::chrono_literals;
using forms::Glyphs;
using forms::Key;
using forms::ModalResult;
using forms::TerminalForm;

// Columns of the characters c on a row of the drawn form, left to right.
std::vector<int> columns_of(const forms::Screen& screen, int row, std::u32string_view chars) {
  std::vector<int> cols;
  for (int col = 0; col < screen.Cols(); ++col) {
    if (chars.find(screen.At(row, col).ch) != std::u32string_view::npos) cols.push_back(col);
  }
  return cols;
}

int row_with(const forms::Screen& screen, char32_t ch, int from = 0) {
  for (int row = from; row < screen.Rows(); ++row) {
    if (!columns_of(screen, row, std::u32string(1, ch)).empty()) return row;
  }
  return -1;
}

std::string name_of(const TParamFrm& form, const forms::TControl* control) {
  const std::pair<const forms::TControl*, const char*> names[] = {
      {&form.S0, "S0"},
      {&form.S1, "S1"},
      {&form.S2, "S2"},
      {&form.S3, "S3"},
      {&form.C0, "C0"},
      {&form.C1, "C1"},
      {&form.C2, "C2"},
      {&form.C3, "C3"},
      {&form.BitBtn1, "BitBtn1"},
      {&form.BitBtn2, "BitBtn2"},
      {&form.MonoCommand, "MonoCommand"}};
  for (const auto& [named, name] : names) {
    if (named == control) return name;
  }
  return "?";
}

TEST(TerminalForm, each_radio_mark_sits_between_the_digits_its_decimals_put_the_comma) {
  TParamFrm form;
  form.S2.SetChecked(true);
  form.C0.SetChecked(true);
  const forms::Screen screen = TerminalForm(form, Glyphs::Ascii()).Draw();
  // Per group: the digit row, then the row of marks under it.
  for (const int digits_row :
       {row_with(screen, U'6'), row_with(screen, U'4', row_with(screen, U'6') + 1)}) {
    ASSERT_GE(digits_row, 0);
    const std::vector<int> digits = columns_of(screen, digits_row, U"123456");
    const std::vector<int> marks = columns_of(screen, digits_row + 1, U"o*");
    ASSERT_EQ(marks.size(), 4U);
    ASSERT_GE(digits.size(), 4U);
    // Digits run 6..1 or 4..1 from the left; the marks stand for 3, 2, 1, 0 decimals.
    const int one = digits[digits.size() - 1];
    const int two = digits[digits.size() - 2];
    const int three = digits[digits.size() - 3];
    const int four = digits[digits.size() - 4];
    EXPECT_LT(four, marks[0]);
    EXPECT_LT(marks[0], three);
    EXPECT_LT(three, marks[1]);
    EXPECT_LT(marks[1], two);
    EXPECT_LT(two, marks[2]);
    EXPECT_LT(marks[2], one);
    EXPECT_LT(one, marks[3]);
  }
  const int sum_marks = row_with(screen, U'6') + 1;
  EXPECT_EQ(columns_of(screen, sum_marks, U"*"),
            std::vector<int>{columns_of(screen, sum_marks, U"o*")[1]})
      << "S2 is the second mark from the left";
}

TEST(TerminalForm, tab_walks_the_designed_tab_order_and_starts_on_the_checked_radio_button) {
  TParamFrm form;
  form.S3.SetChecked(true);
  TerminalForm shown(form, Glyphs::Unicode());
  std::string order = name_of(form, shown.Focused());
  for (int i = 0; i < 11; ++i) {
    shown.Press(Key::kTab);
    order += " " + name_of(form, shown.Focused());
  }
  EXPECT_EQ(order, "S3 S0 C1 C2 C3 C0 BitBtn1 BitBtn2 MonoCommand S1 S2 S3");
  shown.Press(Key::kBackTab);
  EXPECT_EQ(name_of(form, shown.Focused()), "S2");
}

TEST(TerminalForm, arrows_move_to_the_neighbour_on_the_screen) {
  TParamFrm form;
  TerminalForm shown(form, Glyphs::Unicode());
  std::string path = name_of(form, shown.Focused());
  for (const Key key : {Key::kLeft, Key::kLeft, Key::kLeft, Key::kRight, Key::kDown, Key::kDown,
                        Key::kDown, Key::kRight, Key::kUp, Key::kUp}) {
    shown.Press(key);
    path += " " + name_of(form, shown.Focused());
  }
  EXPECT_EQ(path, "S1 S2 S3 S3 S2 C2 MonoCommand BitBtn1 BitBtn2 MonoCommand C3");
}

TEST(TerminalForm, keys_press_the_focused_control_or_close_the_form) {
  TParamFrm form;
  form.S1.SetChecked(true);
  TerminalForm shown(form, Glyphs::Unicode());
  shown.Press(Key::kRight);  // S0
  EXPECT_EQ(shown.Press(Key::kSpace), std::nullopt);
  EXPECT_TRUE(form.S0.Checked());
  EXPECT_FALSE(form.S1.Checked());
  for (int i = 0; i < 7; ++i) shown.Press(Key::kTab);  // MonoCommand
  shown.Press(Key::kSpace);
  EXPECT_TRUE(form.MonoCommand.Checked);
  EXPECT_EQ(shown.Press(Key::kEnter), ModalResult::kOk) << "the default button";
  shown.Press(Key::kBackTab);  // BitBtn2
  EXPECT_EQ(shown.Press(Key::kEnter), ModalResult::kCancel);
  EXPECT_EQ(shown.Press(Key::kSpace), ModalResult::kCancel);
  EXPECT_EQ(shown.Press(Key::kEscape), ModalResult::kCancel);
}

TEST(TerminalText, code_page_1251_reaches_the_terminal_in_its_own_encoding) {
  EXPECT_EQ(forms::UnicodeOfCp1251(0xC0), U'А');
  EXPECT_EQ(forms::UnicodeOfCp1251(0xFF), U'я');
  EXPECT_EQ(forms::UnicodeOfCp1251(0xA8), U'Ё');
  EXPECT_EQ(forms::UnicodeOfCp1251(0xB9), U'№');
  std::string utf8;
  forms::TerminalEncoder("UTF-8").Append(utf8, U'Ж');
  EXPECT_EQ(utf8, "Ж");
  std::string koi8;
  forms::TerminalEncoder("KOI8-R").Append(koi8, U'Ж');
  EXPECT_EQ(koi8, "\xF6");
  std::string ascii;
  forms::TerminalEncoder("ANSI_X3.4-1968").Append(ascii, U'Ж');
  EXPECT_EQ(ascii, "?");
}

// Runs the dialog on 2, 0 and false in the child and prints what came back,
// and whether the terminal was given back in its own mode.
int show_dialog_and_report() {
  std::uint8_t sum = 2;
  std::uint8_t price = 0;
  bool mono = false;
  const bool confirmed = ShowParamDialog(sum, price, mono);
  termios mode{};
  ::tcgetattr(STDIN_FILENO, &mode);
  const bool restored = (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & ECHO) != 0;
  std::printf("\r\nresult %d %d %d %d %s\r\n", confirmed, sum, price, mono,
              restored ? "restored" : "raw");
  return 0;
}

// Amount decimals 2 and price decimals 0, drawn in UTF-8 on a 24 x 80 terminal.
constexpr const char* kDrawnForm = R"(┌ Настройка ТРК Zarvo ──────────────────────────┐
│  ┌ Количество знаков после запятой в сумме ─┐ │
│  │             6    5    4    3    2   1    │ │
│  │                         ○    ●    ○   ○  │ │
│  └──────────────────────────────────────────┘ │
│  ┌ Количество знаков после запятой в цене ──┐ │
│  │                        4   3    2   1    │ │
│  │                         ○    ○    ○   ●  │ │
│  └──────────────────────────────────────────┘ │
│  [ ] Монопродуктовая команда старта           │
│               [     OK     ]   [   Отмена   ] │
└───────────────────────────────────────────────┘
Tab, стрелки: переход  Пробел: выбор  Enter: OK  Esc: отмена
)";

TEST(TerminalDialog, shows_the_form_on_the_terminal_and_takes_its_keys) {
  testing::TempSettingsDir dir;
  testing::PtySession session(&show_dialog_and_report);
  ASSERT_TRUE(session.WaitForScreen("Настройка ТРК Zarvo", 5s)) << session.ScreenText();
  ASSERT_TRUE(session.WaitForScreen("Esc", 5s));
  EXPECT_EQ(session.ScreenText(), kDrawnForm);

  // S2 has the focus: left to S3 and check it, then tab on to the check box.
  session.Send("\x1b[D ");
  session.Send("\t\t\t\t\t\t\t\t ");
  session.Send("\r");
  EXPECT_EQ(session.WaitForExit(5s), 0);
  EXPECT_NE(session.Output().find("result 1 3 0 1 restored"), std::string::npos)
      << session.Output();
}

TEST(TerminalDialog, esc_cancels_and_leaves_the_values) {
  testing::TempSettingsDir dir;
  testing::PtySession session(&show_dialog_and_report);
  ASSERT_TRUE(session.WaitForScreen("Esc", 5s)) << session.ScreenText();
  session.Send("\x1b[D \x1b");
  EXPECT_EQ(session.WaitForExit(5s), 0);
  EXPECT_NE(session.Output().find("result 0 2 0 0 restored"), std::string::npos)
      << session.Output();
}

TEST(TerminalDialog, without_a_terminal_the_dialog_ends_as_cancelled) {
  testing::TempSettingsDir dir;
  testing::InFreshProcess([] {
    ::setsid();  // no controlling terminal from here on
    std::uint8_t sum = 2;
    std::uint8_t price = 2;
    bool mono = true;
    EXPECT_FALSE(ShowParamDialog(sum, price, mono));
    EXPECT_EQ(sum, 2);
    EXPECT_TRUE(mono);
  });
}

}  // namespace
}  // namespace zarvo
