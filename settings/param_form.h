// The settings dialog: amount decimals, price decimals and the mono-product
// start flag. One instance serves every driver object of the library.
#pragma once

#include <cstdint>

#include "platform/controls.h"
#include "platform/modal_runner.h"

namespace zarvo {

class TParamFrm final : public platform::TForm {
 public:
  // Builds the controls with their designed layout; none is checked.
  TParamFrm();

  // The controls, in the order the form creates them.
  platform::TGroupBox GroupBox1{*this, nullptr};
  platform::TLabel Label1{*this, &GroupBox1};
  platform::TRadioButton S1{*this, &GroupBox1};
  platform::TRadioButton S2{*this, &GroupBox1};
  platform::TRadioButton S3{*this, &GroupBox1};
  platform::TRadioButton S0{*this, &GroupBox1};
  platform::TGroupBox GroupBox2{*this, nullptr};
  platform::TLabel Label2{*this, &GroupBox2};
  platform::TRadioButton C1{*this, &GroupBox2};
  platform::TRadioButton C2{*this, &GroupBox2};
  platform::TRadioButton C3{*this, &GroupBox2};
  platform::TRadioButton C0{*this, &GroupBox2};
  platform::TBitBtn BitBtn1{*this, nullptr};
  platform::TBitBtn BitBtn2{*this, nullptr};
  platform::TCheckBox MonoCommand{*this, nullptr};

  // Click handlers of the amount and the price radio buttons.
  void S0Click(platform::TRadioButton& sender);
  void C0Click(platform::TRadioButton& sender);
  void FormCreate();

 private:
  bool PriceClickBusy = false;
  bool SumClickBusy = false;
};

// Runs the dialog on the three values and writes them back only when the user
// confirmed. The dialog is created on first use and kept, with its button
// states, until a driver object is destroyed.
bool ShowParamDialog(std::uint8_t& Sum, std::uint8_t& Price, bool& Mono,
                     const platform::ModalRunner& runner = platform::NativeModalRunner());

// Frees the shared dialog. A showing in progress keeps its instance until it
// ends; the next showing creates a fresh one.
void FreeParamFrm();

}  // namespace zarvo
