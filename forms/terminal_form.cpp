#include "forms/terminal_form.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "forms/terminal_text.h"

namespace zarvo::forms {
namespace {

// A frame corner and a blank on each side of a caption in a top border.
constexpr int kBorderAroundCaption = 4;
// "[x] " or "(o) " before a caption, "[ " and " ]" around a button's.
constexpr int kMarkBeforeCaption = 4;
constexpr int kButtonEnds = 4;

int text_cols(const TControl& control) {
  const int caption = static_cast<int>(control.Caption.size());
  switch (control.Kind()) {
    case ControlKind::kGroupBox:
      return caption + kBorderAroundCaption;
    case ControlKind::kLabel:
      return caption;
    case ControlKind::kRadioButton:
      return caption == 0 ? 1 : caption + kMarkBeforeCaption;
    case ControlKind::kCheckBox:
      return caption + kMarkBeforeCaption;
    case ControlKind::kButton:
      return caption + kButtonEnds;
  }
  return caption;
}

bool takes_focus(const TControl& control) {
  const ControlKind kind = control.Kind();
  return control.TabOrder >= 0 && (kind == ControlKind::kRadioButton ||
                                   kind == ControlKind::kCheckBox || kind == ControlKind::kButton);
}

}  // namespace

Glyphs Glyphs::Unicode() {
  return {U'─', U'│', U'┌', U'┐', U'└', U'┘', U'○', U'●'};
}

Glyphs Glyphs::Ascii() {
  return {U'-', U'|', U'+', U'+', U'+', U'+', U'o', U'*'};
}

Screen::Screen(int rows, int cols)
    : rows_(std::max(rows, 0)),
      cols_(std::max(cols, 0)),
      cells_(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_)) {}

void Screen::Put(int row, int col, char32_t ch, bool highlight) {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return;
  cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
         static_cast<std::size_t>(col)] = ScreenCell{ch, highlight};
}

const ScreenCell& Screen::At(int row, int col) const {
  static const ScreenCell kOutside{};
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return kOutside;
  return cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
                static_cast<std::size_t>(col)];
}

std::u32string Screen::Text() const {
  std::u32string text;
  for (int row = 0; row < rows_; ++row) {
    std::u32string line;
    for (int col = 0; col < cols_; ++col) line += At(row, col).ch;
    line.erase(line.find_last_not_of(U' ') + 1);
    text += line;
    text += U'\n';
  }
  return text;
}

TerminalForm::TerminalForm(TForm& form, Glyphs glyphs) : form_(form), glyphs_(glyphs) {
  // The scale leaves every caption a column to spare, which rounding the two
  // ends of a control may take away.
  pixels_per_col_ = static_cast<double>(form.ClientWidth) /
                    (static_cast<double>(form.Caption.size()) + kBorderAroundCaption + 1);
  for (const TControl* control : form.Controls()) {
    const int needed = text_cols(*control);
    if (needed > 0 && control->Width > 0) {
      pixels_per_col_ = std::min(pixels_per_col_, control->Width / (needed + 1.0));
    }
  }
  if (!(pixels_per_col_ > 0)) pixels_per_col_ = 1;
  cols_ = col_of(form.ClientWidth) + 1;

  for (const TControl* control : form.Controls()) {
    Placement placed;
    placed.control = control;
    placed.col = col_of(control->FormLeft());
    placed.end_col = std::max(col_of(control->FormLeft() + control->Width), placed.col + 1);
    switch (control->Kind()) {
      case ControlKind::kRadioButton:
        placed.mark_col = control->Caption.empty()
                              ? col_of(control->FormLeft() + control->Width / 2.0)
                              : placed.col + 1;
        break;
      case ControlKind::kCheckBox:
        placed.mark_col = placed.col + 1;
        break;
      case ControlKind::kButton:
        placed.mark_col = placed.col + 2;
        break;
      case ControlKind::kGroupBox:
      case ControlKind::kLabel:
        placed.mark_col = placed.col;
        break;
    }
    placements_.push_back(placed);
  }
  rows_ = 1 + layout_rows(nullptr, 1) + 1;

  add_focus_chain(nullptr);
  // Entering a group of radio buttons lands on the checked one.
  if (!focus_chain_.empty() && focus_chain_.front()->Kind() == ControlKind::kRadioButton) {
    for (std::size_t i = 0; i < focus_chain_.size(); ++i) {
      const TControl* control = focus_chain_[i];
      if (control->Parent() != focus_chain_.front()->Parent()) break;
      if (control->Kind() == ControlKind::kRadioButton &&
          static_cast<const TRadioButton*>(control)->Checked()) {
        focus_ = i;
        break;
      }
    }
  }
}

int TerminalForm::col_of(double form_x) const {
  return 1 + static_cast<int>(std::lround(form_x / pixels_per_col_));
}

int TerminalForm::layout_rows(const TControl* container, int first_row) {
  std::vector<int> tops;
  for (const TControl* control : form_.Controls()) {
    if (control->Parent() == container) tops.push_back(control->Top);
  }
  std::sort(tops.begin(), tops.end());
  tops.erase(std::unique(tops.begin(), tops.end()), tops.end());

  int row = first_row;
  for (const int top : tops) {
    int band_rows = 1;
    for (Placement& placed : placements_) {
      if (placed.control->Parent() != container || placed.control->Top != top) continue;
      placed.row = row;
      placed.rows = placed.control->Kind() == ControlKind::kGroupBox
                        ? 2 + layout_rows(placed.control, row + 1)
                        : 1;
      band_rows = std::max(band_rows, placed.rows);
    }
    row += band_rows;
  }
  return row - first_row;
}

void TerminalForm::add_focus_chain(const TControl* container) {
  for (TControl* control : ChildrenInTabOrder(form_, container)) {
    if (control->Kind() == ControlKind::kGroupBox) {
      add_focus_chain(control);
    } else if (takes_focus(*control)) {
      focus_chain_.push_back(control);
    }
  }
}

const TerminalForm::Placement& TerminalForm::placement_of(const TControl* control) const {
  for (const Placement& placed : placements_) {
    if (placed.control == control) return placed;
  }
  return placements_.front();  // every control of the form has a placement
}

const TControl* TerminalForm::Focused() const {
  return focus_chain_.empty() ? nullptr : focus_chain_[focus_];
}

ScreenPosition TerminalForm::Cursor() const {
  const TControl* focused = Focused();
  if (focused == nullptr) return {rows_ - 1, 0};
  const Placement& placed = placement_of(focused);
  return {placed.row, placed.mark_col};
}

void TerminalForm::draw_text(Screen& screen, int row, int col, std::string_view cp1251,
                             bool highlight) const {
  for (const char byte : cp1251) {
    screen.Put(row, col++, UnicodeOfCp1251(static_cast<unsigned char>(byte)), highlight);
  }
}

void TerminalForm::draw_box(Screen& screen, const Placement& box, std::string_view caption) const {
  const int top = box.row;
  const int bottom = box.row + box.rows - 1;
  const int left = box.col;
  const int right = box.end_col - 1;
  for (int col = left + 1; col < right; ++col) {
    screen.Put(top, col, glyphs_.horizontal);
    screen.Put(bottom, col, glyphs_.horizontal);
  }
  for (int row = top + 1; row < bottom; ++row) {
    screen.Put(row, left, glyphs_.vertical);
    screen.Put(row, right, glyphs_.vertical);
  }
  screen.Put(top, left, glyphs_.top_left);
  screen.Put(top, right, glyphs_.top_right);
  screen.Put(bottom, left, glyphs_.bottom_left);
  screen.Put(bottom, right, glyphs_.bottom_right);
  if (caption.empty()) return;
  const auto room = static_cast<std::size_t>(std::max(right - left - 3, 0));
  screen.Put(top, left + 1, U' ');
  draw_text(screen, top, left + 2, caption.substr(0, room));
  screen.Put(top, left + 2 + static_cast<int>(std::min(caption.size(), room)), U' ');
}

void TerminalForm::draw_control(Screen& screen, const Placement& placed, bool focused) const {
  const TControl& control = *placed.control;
  const int row = placed.row;
  switch (control.Kind()) {
    case ControlKind::kGroupBox:
      draw_box(screen, placed, control.Caption);
      break;
    case ControlKind::kLabel: {
      const double length = static_cast<double>(control.Caption.size());
      const bool larger_font = control.Font && control.Font->Height > form_.Font.Height;
      if (larger_font && length > 0 && control.Width / length >= pixels_per_col_) {
        for (std::size_t i = 0; i < control.Caption.size(); ++i) {
          const double centre =
              control.FormLeft() + (static_cast<double>(i) + 0.5) * control.Width / length;
          screen.Put(row, col_of(centre),
                     UnicodeOfCp1251(static_cast<unsigned char>(control.Caption[i])));
        }
      } else {
        draw_text(screen, row, placed.col, control.Caption);
      }
      break;
    }
    case ControlKind::kRadioButton: {
      const bool checked = static_cast<const TRadioButton&>(control).Checked();
      const char32_t mark = checked ? glyphs_.radio_on : glyphs_.radio_off;
      if (control.Caption.empty()) {
        screen.Put(row, placed.mark_col, mark, focused);
      } else {
        screen.Put(row, placed.col, U'(', focused);
        screen.Put(row, placed.col + 1, mark, focused);
        screen.Put(row, placed.col + 2, U')', focused);
        draw_text(screen, row, placed.col + kMarkBeforeCaption, control.Caption);
      }
      break;
    }
    case ControlKind::kCheckBox: {
      const bool checked = static_cast<const TCheckBox&>(control).Checked;
      screen.Put(row, placed.col, U'[', focused);
      screen.Put(row, placed.col + 1, checked ? U'x' : U' ', focused);
      screen.Put(row, placed.col + 2, U']', focused);
      draw_text(screen, row, placed.col + kMarkBeforeCaption, control.Caption);
      break;
    }
    case ControlKind::kButton: {
      for (int col = placed.col; col < placed.end_col; ++col) screen.Put(row, col, U' ', focused);
      screen.Put(row, placed.col, U'[', focused);
      screen.Put(row, placed.end_col - 1, U']', focused);
      const int width = placed.end_col - placed.col;
      const int start =
          placed.col + std::max((width - static_cast<int>(control.Caption.size())) / 2, 1);
      draw_text(screen, row, start, control.Caption, focused);
      break;
    }
  }
}

Screen TerminalForm::Draw() const {
  Screen screen(rows_, cols_);
  draw_box(screen, Placement{nullptr, 0, rows_, 0, cols_, 0}, form_.Caption);
  const TControl* focused = Focused();
  for (const Placement& placed : placements_) {
    draw_control(screen, placed, placed.control == focused);
  }
  return screen;
}

void TerminalForm::move_in_row(int direction) {
  const Placement& here = placement_of(Focused());
  std::size_t best = focus_;
  int best_distance = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < focus_chain_.size(); ++i) {
    const Placement& there = placement_of(focus_chain_[i]);
    const int distance = (there.mark_col - here.mark_col) * direction;
    if (there.row == here.row && distance > 0 && distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  focus_ = best;
}

void TerminalForm::move_across_rows(int direction) {
  const Placement& here = placement_of(Focused());
  std::size_t best = focus_;
  int best_rows = std::numeric_limits<int>::max();
  int best_cols = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < focus_chain_.size(); ++i) {
    const Placement& there = placement_of(focus_chain_[i]);
    const int rows = (there.row - here.row) * direction;
    const int cols = std::abs(there.mark_col - here.mark_col);
    if (rows > 0 && (rows < best_rows || (rows == best_rows && cols < best_cols))) {
      best = i;
      best_rows = rows;
      best_cols = cols;
    }
  }
  focus_ = best;
}

std::optional<ModalResult> TerminalForm::Press(Key key) {
  if (key == Key::kEscape) {
    const TBitBtn* cancel = CancelButton(form_);
    return cancel != nullptr && cancel->Result != ModalResult::kNone ? cancel->Result
                                                                     : ModalResult::kCancel;
  }
  TControl* focused = focus_chain_.empty() ? nullptr : focus_chain_[focus_];
  const std::size_t count = focus_chain_.size();
  switch (key) {
    case Key::kTab:
      if (count > 0) focus_ = (focus_ + 1) % count;
      break;
    case Key::kBackTab:
      if (count > 0) focus_ = (focus_ + count - 1) % count;
      break;
    case Key::kLeft:
    case Key::kRight:
      if (focused != nullptr) move_in_row(key == Key::kRight ? 1 : -1);
      break;
    case Key::kUp:
    case Key::kDown:
      if (focused != nullptr) move_across_rows(key == Key::kDown ? 1 : -1);
      break;
    case Key::kSpace:
      if (focused != nullptr) {
        const ModalResult result = Activate(*focused);
        if (result != ModalResult::kNone) return result;
      }
      break;
    case Key::kEnter: {
      TBitBtn* button = focused != nullptr && focused->Kind() == ControlKind::kButton
                            ? static_cast<TBitBtn*>(focused)
                            : DefaultButton(form_);
      if (button != nullptr && button->Result != ModalResult::kNone) return button->Result;
      break;
    }
    case Key::kEscape:
      break;
  }
  return std::nullopt;
}

}  // namespace zarvo::forms
