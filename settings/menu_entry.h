// The driver's entry in the host's menu and the settings dialog behind it.
#pragma once

#include "zarvo/da30.h"

namespace zarvo {

class TVM30;

// Adds the entry under the host's "&ТРК" item, once per loaded library, bound
// to this driver object.
void AddMenuItems(TVM30& driver, zarvo_menu_item* menu_root, zarvo_new_item_fn new_item);

// A driver object is going away: the shared dialog is freed, and a menu entry
// bound to this object does nothing from now on.
void ReleaseDriverUi(TVM30& driver);

}  // namespace zarvo
