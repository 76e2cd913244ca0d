// A form on a character grid, and what keys do to it. Nothing here knows a
// device: the terminal runner feeds it keys and prints what it draws.
//
// Pixels become columns at one scale, chosen so that every caption fits its
// control. Rows follow the designed order from the top: the controls that
// share a top share a row, and a group box adds its border rows. A label set
// in a larger font than the form's is spread across its width, so the radio
// buttons under its characters stay under the same characters.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "forms/controls.h"

namespace zarvo::forms {

enum class Key { kTab, kBackTab, kUp, kDown, kLeft, kRight, kSpace, kEnter, kEscape };

// The characters frames and marks are drawn with.
struct Glyphs {
  char32_t horizontal, vertical, top_left, top_right, bottom_left, bottom_right;
  char32_t radio_off, radio_on;

  static Glyphs Unicode();
  static Glyphs Ascii();
};

struct ScreenCell {
  char32_t ch = U' ';
  bool highlight = false;
};

struct ScreenPosition {
  int row = 0;
  int col = 0;
};

class Screen {
 public:
  Screen(int rows, int cols);
  int Rows() const { return rows_; }
  int Cols() const { return cols_; }
  // Writes outside the grid are dropped.
  void Put(int row, int col, char32_t ch, bool highlight = false);
  const ScreenCell& At(int row, int col) const;
  // The grid as text, one line per row, trailing blanks cut.
  std::u32string Text() const;

 private:
  int rows_;
  int cols_;
  std::vector<ScreenCell> cells_;
};

class TerminalForm {
 public:
  // The form's layout does not change while it is shown.
  TerminalForm(TForm& form, Glyphs glyphs);

  // The whole form at the top left of the screen, the focus highlighted.
  Screen Draw() const;
  // Where the terminal's cursor belongs: on the focused control.
  ScreenPosition Cursor() const;
  const TControl* Focused() const;

  // Tab and the arrows move the focus, Space presses the focused control,
  // Enter the focused button or else the default one, Esc the cancel button.
  // Gives the modal result when the key closes the form.
  std::optional<ModalResult> Press(Key key);

 private:
  struct Placement {
    const TControl* control = nullptr;
    int row = 0;
    int rows = 1;
    int col = 0;       // first column, screen coordinates
    int end_col = 0;   // one past the last column
    int mark_col = 0;  // where the focus and the cursor go
  };

  int col_of(double form_x) const;
  int layout_rows(const TControl* container, int first_row);
  void add_focus_chain(const TControl* container);
  const Placement& placement_of(const TControl* control) const;
  void draw_box(Screen& screen, const Placement& box, std::string_view caption) const;
  void draw_text(Screen& screen, int row, int col, std::string_view cp1251,
                 bool highlight = false) const;
  void draw_control(Screen& screen, const Placement& placed, bool focused) const;
  void move_in_row(int direction);
  void move_across_rows(int direction);

  TForm& form_;
  Glyphs glyphs_;
  double pixels_per_col_ = 1;
  int rows_ = 0;
  int cols_ = 0;
  std::vector<Placement> placements_;   // in the form's creation order
  std::vector<TControl*> focus_chain_;  // in tab order
  std::size_t focus_ = 0;
};

}  // namespace zarvo::forms
