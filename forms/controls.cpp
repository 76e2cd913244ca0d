#include "forms/controls.h"

#include <algorithm>

namespace zarvo::forms {

TControl::TControl(TForm& owner, const TControl* parent, ControlKind kind)
    : owner_(owner), parent_(parent), kind_(kind) {
  owner.controls_.push_back(this);
}

void TRadioButton::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  if (!checked) return;
  for (TControl* control : Owner().Controls()) {
    if (control != this && control->Kind() == ControlKind::kRadioButton &&
        control->Parent() == Parent()) {
      static_cast<TRadioButton*>(control)->checked_ = false;
    }
  }
  if (OnClick) OnClick(*this);
}

std::vector<TControl*> ChildrenInTabOrder(const TForm& form, const TControl* parent) {
  std::vector<TControl*> children;
  for (TControl* control : form.Controls()) {
    if (control->Parent() == parent) children.push_back(control);
  }
  std::stable_sort(children.begin(), children.end(), [](const TControl* a, const TControl* b) {
    const bool a_stops = a->TabOrder >= 0;
    const bool b_stops = b->TabOrder >= 0;
    if (a_stops != b_stops) return a_stops;
    return a_stops && a->TabOrder < b->TabOrder;
  });
  return children;
}

ModalResult Activate(TControl& control) {
  switch (control.Kind()) {
    case ControlKind::kRadioButton:
      static_cast<TRadioButton&>(control).SetChecked(true);
      break;
    case ControlKind::kCheckBox: {
      auto& box = static_cast<TCheckBox&>(control);
      box.Checked = !box.Checked;
      break;
    }
    case ControlKind::kButton:
      return static_cast<TBitBtn&>(control).Result;
    case ControlKind::kGroupBox:
    case ControlKind::kLabel:
      break;
  }
  return ModalResult::kNone;
}

namespace {
template <class Wanted>
TBitBtn* find_button(const TForm& form, Wanted wanted) {
  for (TControl* control : form.Controls()) {
    if (control->Kind() != ControlKind::kButton) continue;
    auto* button = static_cast<TBitBtn*>(control);
    if (wanted(*button)) return button;
  }
  return nullptr;
}
}  // namespace

TBitBtn* DefaultButton(const TForm& form) {
  return find_button(form, [](const TBitBtn& b) { return b.Default; });
}

TBitBtn* CancelButton(const TForm& form) {
  return find_button(form, [](const TBitBtn& b) { return b.Cancel; });
}

}  // namespace zarvo::forms
