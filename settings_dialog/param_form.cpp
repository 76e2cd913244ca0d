#include "settings_dialog/param_form.h"

#include <array>
#include <memory>
#include <optional>

#include "codepage/cp1251.h"

namespace zarvo {
namespace {

using forms::TControl;
using forms::TRadioButton;

constexpr auto kFormCaption = cp1251("Настройка ТРК Zarvo");
constexpr auto kSumCaption = cp1251("Количество знаков после запятой в сумме");
constexpr auto kPriceCaption = cp1251("Количество знаков после запятой в цене");
// Display digits numbered from the right; the radio buttons sit under the gaps.
constexpr auto kSumDigits = cp1251("6  5  4  3  2  1");
constexpr auto kPriceDigits = cp1251("       4  3  2  1");
constexpr auto kMonoCaption = cp1251("Монопродуктовая команда старта");
constexpr auto kOkCaption = cp1251("OK");
constexpr auto kCancelCaption = cp1251("Отмена");
constexpr std::string_view kFontName = "Tahoma";
constexpr int kFormFontHeight = 11;
constexpr int kDigitsFontHeight = 21;

void place(TControl& control, int left, int top, int width, int height, int tab_order) {
  control.Left = left;
  control.Top = top;
  control.Width = width;
  control.Height = height;
  control.TabOrder = tab_order;
}

// The library's one dialog: made on its first showing, kept until a driver
// object is destroyed.
std::shared_ptr<TParamFrm> ParamFrm;

// Clears a busy flag however the handler ends.
class BusyScope {
 public:
  explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
  ~BusyScope() { flag_ = false; }

 private:
  bool& flag_;
};

// A group's buttons indexed by the number of decimals they stand for.
using DecimalButtons = std::array<TRadioButton*, 4>;

void preselect(const DecimalButtons& buttons, std::uint8_t decimals,
               void (TParamFrm::*click)(TRadioButton&), TParamFrm& form) {
  if (decimals < buttons.size()) (form.*click)(*buttons[decimals]);
}

// Read in the order 0, 1, 2, 3; none checked leaves the value as it was.
std::optional<std::uint8_t> checked_decimals(const DecimalButtons& buttons) {
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (buttons[i]->Checked()) return static_cast<std::uint8_t>(i);
  }
  return std::nullopt;
}

}  // namespace

TParamFrm::TParamFrm() {
  Caption = kFormCaption.view();
  Left = 0;
  Top = 0;
  ClientWidth = 249;
  ClientHeight = 173;
  Font = forms::TFont{kFontName, kFormFontHeight};
  Color = forms::TColor::kButtonFace;

  place(GroupBox1, 8, 8, 233, 49, 0);
  GroupBox1.Caption = kSumCaption.view();
  place(Label1, 74, 16, 136, 25, -1);
  Label1.Caption = kSumDigits.view();
  Label1.Font = forms::TFont{kFontName, kDigitsFontHeight};
  place(S1, 186, 29, 15, 17, 0);
  place(S2, 159, 29, 15, 17, 1);
  place(S3, 134, 29, 15, 17, 2);
  place(S0, 208, 29, 15, 17, 3);

  place(GroupBox2, 8, 63, 233, 49, 1);
  GroupBox2.Caption = kPriceCaption.view();
  place(Label2, 75, 16, 135, 25, -1);
  Label2.Caption = kPriceDigits.view();
  Label2.Font = forms::TFont{kFontName, kDigitsFontHeight};
  place(C1, 186, 29, 15, 17, 0);
  place(C2, 159, 29, 15, 17, 1);
  place(C3, 134, 29, 15, 17, 2);
  place(C0, 208, 29, 15, 17, 3);

  place(MonoCommand, 8, 118, 201, 17, 4);
  MonoCommand.Caption = kMonoCaption.view();

  place(BitBtn1, 81, 140, 75, 25, 2);
  BitBtn1.Caption = kOkCaption.view();
  BitBtn1.Kind = forms::TBitBtn::Glyph::kOk;
  BitBtn1.Default = true;
  BitBtn1.Result = forms::ModalResult::kOk;
  place(BitBtn2, 167, 140, 75, 25, 3);
  BitBtn2.Caption = kCancelCaption.view();
  BitBtn2.Kind = forms::TBitBtn::Glyph::kCancel;
  BitBtn2.Cancel = true;
  BitBtn2.Result = forms::ModalResult::kCancel;

  for (TRadioButton* button : {&S0, &S1, &S2, &S3}) {
    button->OnClick = [this](TRadioButton& sender) { S0Click(sender); };
  }
  for (TRadioButton* button : {&C0, &C1, &C2, &C3}) {
    button->OnClick = [this](TRadioButton& sender) { C0Click(sender); };
  }
  FormCreate();
}

// Checking the sender raises its click again; the busy flag makes that nested
// call return at once.
void TParamFrm::S0Click(TRadioButton& sender) {
  if (SumClickBusy) return;
  const BusyScope busy(SumClickBusy);
  for (TRadioButton* button : {&S0, &S1, &S2, &S3}) button->SetChecked(false);
  sender.SetChecked(true);
}

void TParamFrm::C0Click(TRadioButton& sender) {
  if (PriceClickBusy) return;
  const BusyScope busy(PriceClickBusy);
  for (TRadioButton* button : {&C0, &C1, &C2, &C3}) button->SetChecked(false);
  sender.SetChecked(true);
}

void TParamFrm::FormCreate() {
  PriceClickBusy = false;
  SumClickBusy = false;
}

bool ShowParamDialog(std::uint8_t& Sum, std::uint8_t& Price, bool& Mono,
                     const forms::ModalRunner& runner) {
  if (!ParamFrm) ParamFrm = std::make_shared<TParamFrm>();
  // Held for the whole showing: the host's message loop runs meanwhile, and a
  // driver object destroyed from it frees only the shared reference.
  const std::shared_ptr<TParamFrm> form = ParamFrm;
  const DecimalButtons sum_buttons = {&form->S0, &form->S1, &form->S2, &form->S3};
  const DecimalButtons price_buttons = {&form->C0, &form->C1, &form->C2, &form->C3};

  preselect(sum_buttons, Sum, &TParamFrm::S0Click, *form);
  preselect(price_buttons, Price, &TParamFrm::C0Click, *form);
  form->MonoCommand.Checked = Mono;

  if (runner.ShowModal(*form) != forms::ModalResult::kOk) return false;

  if (const auto sum = checked_decimals(sum_buttons)) Sum = *sum;
  if (const auto price = checked_decimals(price_buttons)) Price = *price;
  Mono = form->MonoCommand.Checked;
  return true;
}

void FreeParamFrm() {
  ParamFrm.reset();
}

}  // namespace zarvo
