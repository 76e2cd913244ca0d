#include "settings/menu_entry.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/settings_file.h"
#include "driver/tvm30.h"
#include "platform/cp1251.h"
#include "settings/param_form.h"

namespace zarvo {
namespace {

constexpr auto kParentCaption = cp1251("&ТРК");
constexpr auto kEntryCaption = cp1251("Программирование параметров (Zarvo)");

// True until the library's first AddMenuItems call.
bool MenuItemPending = true;

// The driver object the entry's clicks go to. The host holds its address as
// the click context, so destroying the driver can unbind the entry.
TVM30* BoundDriver = nullptr;

struct ClickHandler {
  zarvo_menu_click code;
  void* context;
};

zarvo_menu_item* find_child(zarvo_menu_item* root, std::string_view caption) {
  if (root == nullptr || root->ops == nullptr) return nullptr;
  const std::int32_t count = root->ops->GetCount(root);
  for (std::int32_t i = 0; i < count; ++i) {
    zarvo_menu_item* child = root->ops->GetItem(root, i);
    if (child == nullptr) continue;
    const char* text = child->ops->GetCaption(child);
    if (text != nullptr && std::string_view(text) == caption) return child;
  }
  return nullptr;
}

// The host's factory has already placed the item under parent.
zarvo_menu_item* NewMenuItem(std::string_view caption, std::string_view hint,
                             std::int32_t help_context, std::uint32_t shortcut,
                             ClickHandler on_click, zarvo_menu_item* parent, std::int32_t index,
                             zarvo_new_item_fn new_item) {
  if (new_item == nullptr) return nullptr;
  zarvo_menu_item* item = new_item(parent, index);
  if (item == nullptr || item->ops == nullptr) return nullptr;
  const std::string caption_z(caption);
  const std::string hint_z(hint);
  item->ops->SetCaption(item, caption_z.c_str());
  item->ops->SetHint(item, hint_z.c_str());
  item->ops->SetHelpContext(item, help_context);
  item->ops->SetShortCut(item, shortcut);
  item->ops->SetOnClick(item, on_click.code, on_click.context);
  return item;
}

// `driver` is read again after the dialog closed: the host's message loop runs
// while it is up, and may destroy the driver object meanwhile.
void run_param_menu(TVM30* const& driver, const platform::ModalRunner& runner) {
  if (driver == nullptr) return;
  // The dialog shows the values as the file holds them: one that no button
  // stands for checks none, and OK without a choice writes it back unchanged.
  FileSettings chosen = StoredSettings(*driver);
  if (!ShowParamDialog(chosen.sum_decimals, chosen.price_decimals, chosen.mono_start, runner)) {
    return;
  }
  if (driver == nullptr) return;
  ConfirmSettings(*driver, chosen);
}

}  // namespace

void AddMenuItems(TVM30& driver, zarvo_menu_item* menu_root, zarvo_new_item_fn new_item,
                  zarvo_menu_click on_click) {
  if (!MenuItemPending) return;
  // Cleared whatever the search finds, and also when the host's menu raises.
  struct ClearPending {
    ~ClearPending() { MenuItemPending = false; }
  } clear_pending;

  zarvo_menu_item* parent = find_child(menu_root, kParentCaption.view());
  if (parent == nullptr) return;
  if (NewMenuItem(kEntryCaption.view(), kEntryCaption.view(), 0, 0, {on_click, &BoundDriver},
                  parent, -1, new_item) != nullptr) {
    BoundDriver = &driver;
  }
}

void MenuEntryClicked(void* context, zarvo_menu_item*) {
  run_param_menu(*static_cast<TVM30**>(context), platform::NativeModalRunner());
}

void OnParamMenuClick(TVM30& driver, zarvo_menu_item*, const platform::ModalRunner& runner) {
  TVM30* const bound = &driver;
  run_param_menu(bound, runner);
}

void ReleaseDriverUi(TVM30& driver) {
  FreeParamFrm();
  if (BoundDriver == &driver) BoundDriver = nullptr;
}

}  // namespace zarvo
