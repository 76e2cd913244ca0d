#include "host/session/menu.h"

#include <cstddef>

namespace zarvo::host {

struct MenuEntries {
  static int32_t ZARVO_STDCALL GetCount(zarvo_menu_item* item) {
    return static_cast<int32_t>(MenuItem::of(item).children_.size());
  }
  static zarvo_menu_item* ZARVO_STDCALL GetItem(zarvo_menu_item* item, int32_t index) {
    MenuItem* child = index < 0 ? nullptr : MenuItem::of(item).child(static_cast<size_t>(index));
    return child == nullptr ? nullptr : child->handle();
  }
  static const char* ZARVO_STDCALL GetCaption(zarvo_menu_item* item) {
    return MenuItem::of(item).caption_.c_str();
  }
  static void ZARVO_STDCALL SetCaption(zarvo_menu_item* item, const char* caption) {
    MenuItem::of(item).caption_ = caption != nullptr ? caption : "";
  }
  static void ZARVO_STDCALL SetHint(zarvo_menu_item* item, const char* hint) {
    MenuItem::of(item).hint_ = hint != nullptr ? hint : "";
  }
  static void ZARVO_STDCALL SetHelpContext(zarvo_menu_item* item, int32_t help_context) {
    MenuItem::of(item).help_context_ = help_context;
  }
  static void ZARVO_STDCALL SetShortCut(zarvo_menu_item* item, uint32_t shortcut) {
    MenuItem::of(item).shortcut_ = shortcut;
  }
  static void ZARVO_STDCALL SetOnClick(zarvo_menu_item* item, zarvo_menu_click handler,
                                       void* context) {
    MenuItem::of(item).on_click_ = handler;
    MenuItem::of(item).click_context_ = handler != nullptr ? context : nullptr;
  }
  static zarvo_menu_item* ZARVO_STDCALL NewItem(zarvo_menu_item* parent, int32_t index) {
    if (parent == nullptr) return nullptr;
    return MenuItem::of(parent).add_child(index).handle();
  }
};

namespace {
constexpr zarvo_menu_item_ops kMenuOps{
    ZARVO_MENU_SIGNATURE,        MenuEntries::GetCount,    MenuEntries::GetItem,
    MenuEntries::GetCaption,     MenuEntries::SetCaption,  MenuEntries::SetHint,
    MenuEntries::SetHelpContext, MenuEntries::SetShortCut, MenuEntries::SetOnClick,
};
}  // namespace

MenuItem::MenuItem(std::string caption)
    : handle_{zarvo_menu_item{&kMenuOps}, this}, caption_(std::move(caption)) {}

MenuItem& MenuItem::of(zarvo_menu_item* item) {
  static_assert(offsetof(MenuHandle, base) == 0);
  return *reinterpret_cast<MenuHandle*>(item)->self;
}

MenuItem& MenuItem::add_child(std::int32_t index, std::string caption) {
  auto item = std::make_unique<MenuItem>(std::move(caption));
  MenuItem& added = *item;
  const bool at_end = index < 0 || static_cast<std::size_t>(index) >= children_.size();
  children_.insert(at_end ? children_.end() : children_.begin() + index, std::move(item));
  return added;
}

MenuItem* MenuItem::child(std::size_t index) {
  return index < children_.size() ? children_[index].get() : nullptr;
}

bool MenuItem::click() {
  if (on_click_ == nullptr) return false;
  on_click_(click_context_, handle());
  return true;
}

zarvo_new_item_fn MenuItem::new_item() {
  return &MenuEntries::NewItem;
}

}  // namespace zarvo::host
