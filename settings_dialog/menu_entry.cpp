#include "settings_dialog/menu_entry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "codepage/cp1251.h"
#include "driver/log_settings.h"
#include "driver/settings_file.h"
#include "driver/tvm30.h"
#include "platform/host_memory.h"
#include "platform/port_guard.h"
#include "settings_dialog/param_form.h"
#include "window_menu/window_menu.h"

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
  // NOLINTNEXTLINE(bugprone-sizeof-expression): the item's first word is the table pointer itself
  if (item == nullptr || !platform::ReadHostMemory(item, &table, sizeof table)) return std::nullopt;
  zarvo_menu_item_ops ops{};
  if (table == nullptr || !platform::ReadHostMemory(table, &ops, sizeof ops) ||
      ops.signature != ZARVO_MENU_SIGNATURE) {
    return std::nullopt;
  }
  return MenuItem{item, ops};
}

// Each call into the host's menu runs guarded, like its port: whatever the
// host raises there ends the search and adds nothing more.
template <typename Call>
bool host_call(Call&& call) {
  return platform::ReturnsNormally(std::forward<Call>(call));
}

std::optional<MenuItem> find_child(const MenuItem& root, std::string_view caption) {
  std::int32_t count = 0;
  if (!host_call([&] { count = root.ops.GetCount(root.item); })) return std::nullopt;
  for (std::int32_t i = 0; i < count; ++i) {
    zarvo_menu_item* raw = nullptr;
    if (!host_call([&] { raw = root.ops.GetItem(root.item, i); })) return std::nullopt;
    const std::optional<MenuItem> child = recognised(raw);
    if (!child) continue;
    const char* text = nullptr;
    if (!host_call([&] { text = child->ops.GetCaption(child->item); })) return std::nullopt;
    if (text != nullptr && std::string_view(text) == caption) return child;
  }
  return std::nullopt;
}

// The host's factory has already placed the item under parent.
bool NewMenuItem(std::string_view caption, std::string_view hint, std::int32_t help_context,
                 std::uint32_t shortcut, ClickHandler on_click, const MenuItem& parent,
                 std::int32_t index, zarvo_new_item_fn new_item) {
  if (new_item == nullptr) return false;
  zarvo_menu_item* raw = nullptr;
  if (!host_call([&] { raw = new_item(parent.item, index); })) return false;
  const std::optional<MenuItem> item = recognised(raw);
  if (!item) return false;
  const std::string caption_z(caption);
  const std::string hint_z(hint);
  return host_call([&] {
    item->ops.SetCaption(item->item, caption_z.c_str());
    item->ops.SetHint(item->item, hint_z.c_str());
    item->ops.SetHelpContext(item->item, help_context);
    item->ops.SetShortCut(item->item, shortcut);
    item->ops.SetOnClick(item->item, on_click.code, on_click.context);
  });
}

void log_entry(const TVM30& driver, MenuEntryOutcome outcome) {
  driver.Log.Record(platform::LogEvent::kMenuEntry, [&](platform::LogRecord& record) {
    record.detail = static_cast<std::uint8_t>(outcome);
    record.set_text(kEntryCaption.view());
  });
}

// `driver` is read again after the dialog closed: the host's message loop runs
// while it is up, and may destroy the driver object meanwhile.
void run_param_menu(TVM30* const& driver, const forms::ModalRunner& runner) {
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
  if (!MenuItemPending) {
    log_entry(driver, MenuEntryOutcome::kAddedBefore);
    return;
  }
  // Spent before the host's menu is called: a host's exception may pass
  // through here without running anything of ours.
  MenuItemPending = false;

  const ClickHandler handler{on_click, &BoundDriver};
  const std::optional<MenuItem> root = recognised(menu_root);
  if (!root) {
    // Another toolkit's menu: reachable through the system's menu bar, if any.
    if (window_menu::AppendEntry(kParentCaption.view(), kEntryCaption.view(), ZARVO_MENU_COMMAND_ID,
                                 [handler] { handler.code(handler.context, nullptr); })) {
      BoundDriver = &driver;
      log_entry(driver, MenuEntryOutcome::kAddedToWindowMenu);
    } else {
      log_entry(driver, MenuEntryOutcome::kNotAdded);
    }
    return;
  }
  const std::optional<MenuItem> parent = find_child(*root, kParentCaption.view());
  if (parent && NewMenuItem(kEntryCaption.view(), kEntryCaption.view(), 0, 0, handler, *parent, -1,
                            new_item)) {
    BoundDriver = &driver;
    log_entry(driver, MenuEntryOutcome::kAddedToHostMenu);
  } else {
    log_entry(driver, MenuEntryOutcome::kNotAdded);
  }
}

void MenuEntryClicked(void* context, zarvo_menu_item*) {
  run_param_menu(*static_cast<TVM30**>(context), forms::NativeModalRunner());
}

void OnParamMenuClick(TVM30& driver, zarvo_menu_item*, const forms::ModalRunner& runner) {
  TVM30* const bound = &driver;
  run_param_menu(bound, runner);
}

void ReleaseDriverUi(TVM30& driver) {
  FreeParamFrm();
  if (BoundDriver == &driver) BoundDriver = nullptr;
}

}  // namespace zarvo
