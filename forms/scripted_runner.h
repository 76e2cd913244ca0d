// A runner that plays a script instead of a user: the script presses controls
// (Activate) and returns the modal result the showing ends with.
#pragma once

#include <functional>
#include <utility>

#include "forms/modal_runner.h"

namespace zarvo::forms {

class ScriptedRunner final : public ModalRunner {
 public:
  using Script = std::function<ModalResult(TForm& form)>;

  explicit ScriptedRunner(Script script) : script_(std::move(script)) {}

  ModalResult ShowModal(TForm& form) const override {
    return script_ ? script_(form) : ModalResult::kCancel;
  }

 private:
  Script script_;
};

}  // namespace zarvo::forms
