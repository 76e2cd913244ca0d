// Showing a form modally. Each build links one native runner: the Win32
// dialog on Windows, the terminal dialog elsewhere. Tests pass a scripted one.
#pragma once

#include "forms/controls.h"

namespace zarvo::forms {

class ModalRunner {
 public:
  // Returns when the user closed the form; its controls then hold what the
  // user left in them. Anything but kOk means the user did not confirm.
  virtual ModalResult ShowModal(TForm& form) const = 0;

 protected:
  ~ModalRunner() = default;
};

// This build's native runner. It keeps no state between showings.
const ModalRunner& NativeModalRunner();

}  // namespace zarvo::forms
