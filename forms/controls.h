// The toolkit's form and controls as data: what every rendering of a form
// (native window, terminal, test script) shows and changes. Positions are
// pixels, children relative to their group box; texts are code page 1251.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zarvo::forms {

struct TFont {
  std::string_view Name;
  int Height = 0;  // character height in pixels
};

enum class TColor { kButtonFace };

// How a modal showing ended; the values are the toolkit's own.
enum class ModalResult : int { kNone = 0, kOk = 1, kCancel = 2 };

enum class ControlKind { kGroupBox, kLabel, kRadioButton, kCheckBox, kButton };

class TForm;

class TControl {
 public:
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  ControlKind Kind() const { return kind_; }
  TForm& Owner() const { return owner_; }
  // The group box it sits in, or none for a control placed on the form itself.
  const TControl* Parent() const { return parent_; }

  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int TabOrder = -1;  // -1: never takes the focus
  std::string_view Caption;
  std::optional<TFont> Font;  // none: the form's font

  // Form coordinates: a child's position plus its group box's.
  int FormLeft() const { return Left + (parent_ ? parent_->FormLeft() : 0); }
  int FormTop() const { return Top + (parent_ ? parent_->FormTop() : 0); }

 protected:
  // Joins the owner's list, so the list follows the order of construction.
  TControl(TForm& owner, const TControl* parent, ControlKind kind);
  ~TControl() = default;

 private:
  TForm& owner_;
  const TControl* parent_;
  ControlKind kind_;
};

class TGroupBox final : public TControl {
 public:
  TGroupBox(TForm& owner, const TControl* parent)
      : TControl(owner, parent, ControlKind::kGroupBox) {}
};

class TLabel final : public TControl {
 public:
  TLabel(TForm& owner, const TControl* parent) : TControl(owner, parent, ControlKind::kLabel) {}
};

class TRadioButton final : public TControl {
 public:
  TRadioButton(TForm& owner, const TControl* parent)
      : TControl(owner, parent, ControlKind::kRadioButton) {}

  bool Checked() const { return checked_; }
  // As in the toolkit: checking turns the other radio buttons of the same
  // parent off and raises the click event; unchecking raises nothing, and
  // setting the state it already has does nothing.
  void SetChecked(bool checked);

  std::function<void(TRadioButton& sender)> OnClick;

 private:
  bool checked_ = false;
};

class TCheckBox final : public TControl {
 public:
  TCheckBox(TForm& owner, const TControl* parent)
      : TControl(owner, parent, ControlKind::kCheckBox) {}

  bool Checked = false;
};

// A button of one of the toolkit's standard kinds, with the kind's glyph.
class TBitBtn final : public TControl {
 public:
  enum class Glyph { kOk, kCancel };

  TBitBtn(TForm& owner, const TControl* parent) : TControl(owner, parent, ControlKind::kButton) {}

  Glyph Kind = Glyph::kOk;
  bool Default = false;  // pressed by Enter
  bool Cancel = false;   // pressed by Esc
  ModalResult Result = ModalResult::kNone;
};

class TForm {
 public:
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  std::string_view Caption;
  int Left = 0;
  int Top = 0;
  int ClientWidth = 0;
  int ClientHeight = 0;
  TFont Font;
  TColor Color = TColor::kButtonFace;

  // Every control, in the order the form created them.
  std::span<TControl* const> Controls() const { return controls_; }

 protected:
  TForm() = default;
  ~TForm() = default;

 private:
  friend class TControl;
  std::vector<TControl*> controls_;
};

// The controls directly inside parent (none: the form itself), in tab order;
// controls that never take the focus come last, in creation order.
std::vector<TControl*> ChildrenInTabOrder(const TForm& form, const TControl* parent);

// What a user's click on a control does, whoever renders the form: a radio
// button is checked, a check box toggles, a button gives its modal result.
ModalResult Activate(TControl& control);

// The button that Enter (default) or Esc (cancel) presses, if the form has one.
TBitBtn* DefaultButton(const TForm& form);
TBitBtn* CancelButton(const TForm& form);

}  // namespace zarvo::forms
