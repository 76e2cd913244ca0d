// A host's menu as a C++ host implements the menu-item interface: items own
// their children, and the factory places a new item under its parent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zarvo/da30.h"

namespace zarvo::testing {

class HostMenuItem : public zarvo_menu_item {
 public:
  HostMenuItem() : zarvo_menu_item{&kOps} {}
  explicit HostMenuItem(std::string text) : HostMenuItem() { caption = std::move(text); }

  HostMenuItem& Add(std::string caption) {
    children.push_back(std::make_unique<HostMenuItem>(std::move(caption)));
    return *children.back();
  }
  // Every item in the tree, this one first.
  void CollectInto(std::vector<HostMenuItem*>& all) {
    all.push_back(this);
    for (const auto& child : children) child->CollectInto(all);
  }
  int ItemCount() {
    std::vector<HostMenuItem*> all;
    CollectInto(all);
    return static_cast<int>(all.size());
  }
  void Click() {
    if (on_click != nullptr) on_click(click_context, this);
  }

  std::vector<std::unique_ptr<HostMenuItem>> children;
  std::string caption;
  std::string hint;
  std::int32_t help_context = -1;
  std::uint32_t shortcut = 0xFFFF;
  zarvo_menu_click on_click = nullptr;
  void* click_context = nullptr;
  std::int32_t created_at_index = -100;  // what the factory was given

 private:
  static HostMenuItem& self(zarvo_menu_item* item) { return *static_cast<HostMenuItem*>(item); }

  static std::int32_t ZARVO_STDCALL GetCount(zarvo_menu_item* item) {
    return static_cast<std::int32_t>(self(item).children.size());
  }
  static zarvo_menu_item* ZARVO_STDCALL GetItem(zarvo_menu_item* item, std::int32_t index) {
    auto& children = self(item).children;
    if (index < 0 || static_cast<std::size_t>(index) >= children.size()) return nullptr;
    return children[static_cast<std::size_t>(index)].get();
  }
  static const char* ZARVO_STDCALL GetCaption(zarvo_menu_item* item) {
    return self(item).caption.c_str();
  }
  static void ZARVO_STDCALL SetCaption(zarvo_menu_item* item, const char* caption) {
    self(item).caption = caption;
  }
  static void ZARVO_STDCALL SetHint(zarvo_menu_item* item, const char* hint) {
    self(item).hint = hint;
  }
  static void ZARVO_STDCALL SetHelpContext(zarvo_menu_item* item, std::int32_t context) {
    self(item).help_context = context;
  }
  static void ZARVO_STDCALL SetShortCut(zarvo_menu_item* item, std::uint32_t shortcut) {
    self(item).shortcut = shortcut;
  }
  static void ZARVO_STDCALL SetOnClick(zarvo_menu_item* item, zarvo_menu_click handler,
                                       void* context) {
    self(item).on_click = handler;
    self(item).click_context = context;
  }

  static constexpr zarvo_menu_item_ops kOps = {ZARVO_MENU_SIGNATURE, &GetCount,    &GetItem,
                                               &GetCaption,          &SetCaption,  &SetHint,
                                               &SetHelpContext,      &SetShortCut, &SetOnClick};
};

inline zarvo_menu_item* ZARVO_STDCALL NewHostItem(zarvo_menu_item* parent, std::int32_t index) {
  auto& children = static_cast<HostMenuItem*>(parent)->children;
  auto item = std::make_unique<HostMenuItem>();
  item->created_at_index = index;
  const auto at = index < 0 || static_cast<std::size_t>(index) > children.size()
                      ? children.end()
                      : children.begin() + index;
  return children.insert(at, std::move(item))->get();
}

inline zarvo_menu_item* ZARVO_STDCALL NoNewItem(zarvo_menu_item*, std::int32_t) {
  return nullptr;
}

}  // namespace zarvo::testing
