// The settings dialog: amount decimals, price decimals and the mono-product
// start flag. One instance serves every driver object of the library.
#pragma once

#include <cstdint>

#include "forms/controls.h"
#include "forms/modal_runner.h"

namespace zarvo {

class TParamFrm final : public forms::TForm {
 public:
  // Builds the controls with their designed layout; none is checked.
  TParamFrm();

  // The controls, in the order the form creates them.
  forms::TGroupBox GroupBox1{*this, nullptr};
  forms::TLabel Label1{*this, &GroupBox1};
  forms::TRadioButton S1{*this, &GroupBox1};
  forms::TRadioButton S2{*this, &GroupBox1};
  forms::TRadioButton S3{*this, &GroupBox1};
  forms::TRadioButton S0{*this, &GroupBox1};
  forms::TGroupBox GroupBox2{*this, nullptr};
  forms::TLabel Label2{*this, &GroupBox2};
  forms::TRadioButton C1{*this, &GroupBox2};
  forms::TRadioButton C2{*this, &GroupBox2};
  forms::TRadioButton C3{*this, &GroupBox2};
  forms::TRadioButton C0{*this, &GroupBox2};
  forms::TBitBtn BitBtn1{*this, nullptr};
  forms::TBitBtn BitBtn2{*this, nullptr};
  forms::TCheckBox MonoCommand{*this, nullptr};

  // Click handlers of the amount and the price radio buttons.
  void S0Click(forms::TRadioButton& sender);
  void C0Click(forms::TRadioButton& sender);
  void FormCreate();

 private:
  bool PriceClickBusy = false;
  bool SumClickBusy = false;
};

// Runs the dialog on the three values and writes them back only when the user
// confirmed. The dialog is created on first use and kept, with its button
// states, until a driver object is destroyed.
bool ShowParamDialog(std::uint8_t& Sum, std::uint8_t& Price, bool& Mono,
                     const forms::ModalRunner& runner = forms::NativeModalRunner());

// Frees the shared dialog. A showing in progress keeps its instance until it
// ends; the next showing creates a fresh one.
void FreeParamFrm();

}  // namespace zarvo
