// The driver's entry in the host's menu and what a click on it does.
#pragma once

#include "forms/modal_runner.h"
#include "zarvo/da30.h"

namespace zarvo {

class TVM30;

// Adds the entry under the host's "&ТРК" item, bound to this driver object.
// Only the library's first call can add it, whatever that call finds. A root
// (or child, or new item) whose table lacks the signature is another
// toolkit's object and is never called; for such a root the entry goes into
// the "&ТРК" drop-down of a host window's menu bar where the system has one.
// on_click is what the host calls on a click, with the context this passes;
// it forwards to MenuEntryClicked in the host's calling convention.
void AddMenuItems(TVM30& driver, zarvo_menu_item* menu_root, zarvo_new_item_fn new_item,
                  zarvo_menu_click on_click);

// A click on the entry: runs the settings dialog, with the native runner, for
// the driver the entry is bound to, or does nothing once that object is gone.
void MenuEntryClicked(void* context, zarvo_menu_item* sender);

// Runs the settings dialog on this driver's settings, as a click does; a
// confirmed dialog saves them and has every pump reprogrammed at its next
// poll. A failed save raises and changes nothing.
void OnParamMenuClick(TVM30& driver, zarvo_menu_item* sender,
                      const forms::ModalRunner& runner = forms::NativeModalRunner());

// A driver object is going away: the shared dialog is freed, and a menu entry
// bound to this object does nothing from now on.
void ReleaseDriverUi(TVM30& driver);

}  // namespace zarvo
