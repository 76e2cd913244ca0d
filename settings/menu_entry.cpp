#include "settings/menu_entry.h"

namespace zarvo {

// Placeholder until the dialog and menu entry are built.
void AddMenuItems(TVM30&, zarvo_menu_item*, zarvo_new_item_fn) {}
void ReleaseDriverUi(TVM30&) {}

}  // namespace zarvo
