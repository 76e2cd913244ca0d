#include "settings/menu_entry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "driver/settings_file.h"
#include "driver/tvm30.h"
#include "platform/cp1251.h"
#include "platform/window_menu.h"
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

// An item of the host ABI: its table, read from memory that is readable and
// starts with the signature. Any other object is the host toolkit's own, and
// nothing of it is called.
struct MenuItem {
  zarvo_menu_item* item;
  zarvo_menu_item_ops ops;
};

std::optional<MenuItem> recognised(zarvo_menu_item* item) {
  const zarvo_menu_item_ops* table = nullptr;
  if (item == nullptr || !platform::ReadHostMemory(item, &table, sizeof table)) return std::nullopt;
  zarvo_menu_item_ops ops{};
  if (table == nullptr || !platform::ReadHostMemory(table, &ops, sizeof ops) ||
      ops.signature != ZARVO_MENU_SIGNATURE) {
    return std::nullopt;
  }
  return MenuItem{item, ops};
}

std::optional<MenuItem> find_child(const MenuItem& root, std::string_view caption) {
  const std::int32_t count = root.ops.GetCount(root.item);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::optional<MenuItem> child = recognised(root.ops.GetItem(root.item, i));
    if (!child) continue;
    const char* text = child->ops.GetCaption(child->item);
    if (text != nullptr && std::string_view(text) == caption) return child;
  }
  return std::nullopt;
}

// The host's factory has already placed the item under parent.
bool NewMenuItem(std::string_view caption, std::string_view hint, std::int32_t help_context,
                 std::uint32_t shortcut, ClickHandler on_click, const MenuItem& parent,
                 std::int32_t index, zarvo_new_item_fn new_item) {
  if (new_item == nullptr) return false;
  const std::optional<MenuItem> item = recognised(new_item(parent.item, index));
  if (!item) return false;
  const std::string caption_z(caption);
  const std::string hint_z(hint);
  item->ops.SetCaption(item->item, caption_z.c_str());
  item->ops.SetHint(item->item, hint_z.c_str());
  item->ops.SetHelpContext(item->item, help_context);
  item->ops.SetShortCut(item->item, shortcut);
  item->ops.SetOnClick(item->item, on_click.code, on_click.context);
  return true;
}

// `driver` is read again after the dialog closed: the host's message loop runs
// while it is up, and may destroy the driver object meanwhile.
void run_param_menu(TVM30* const& driver, const platform::ModalRunner& runner) {
  if (driver == nullptr) return;
  std::uint8_t sum = driver->SumDecimals;
  std::uint8_t price = driver->PriceDecimals;
  bool mono = driver->MonoStart;
  if (!ShowParamDialog(sum, price, mono, runner)) return;
  if (driver == nullptr) return;
  driver->SumDecimals = sum;
  driver->PriceDecimals = price;
  driver->MonoStart = mono;
  SaveSettings(*driver);
  driver->MarkAllParamsPending();
}

}  // namespace

void AddMenuItems(TVM30& driver, zarvo_menu_item* menu_root, zarvo_new_item_fn new_item,
                  zarvo_menu_click on_click) {
  if (!MenuItemPending) return;
  // Spent before the host's menu is called: a host's exception may pass
  // through here without running anything of ours.
  MenuItemPending = false;

  const ClickHandler handler{on_click, &BoundDriver};
  const std::optional<MenuItem> root = recognised(menu_root);
  if (!root) {
    // Another toolkit's menu: reachable through the system's menu bar, if any.
    if (platform::AppendToWindowMenu(kParentCaption.view(), kEntryCaption.view(),
                                     ZARVO_MENU_COMMAND_ID,
                                     [handler] { handler.code(handler.context, nullptr); })) {
      BoundDriver = &driver;
    }
    return;
  }
  const std::optional<MenuItem> parent = find_child(*root, kParentCaption.view());
  if (parent && NewMenuItem(kEntryCaption.view(), kEntryCaption.view(), 0, 0, handler, *parent, -1,
                            new_item)) {
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
