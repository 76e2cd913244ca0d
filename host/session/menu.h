// The host's menu items as the driver sees them through zarvo_menu_item.
// Items own their children; the driver creates items through new_item().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zarvo/da30.h"

namespace zarvo::host {

class MenuItem;

struct MenuHandle {
  zarvo_menu_item base;
  MenuItem* self;
};

class MenuItem {
 public:
  explicit MenuItem(std::string caption = {});
  MenuItem(const MenuItem&) = delete;
  MenuItem& operator=(const MenuItem&) = delete;

  zarvo_menu_item* handle() { return &handle_.base; }
  static MenuItem& of(zarvo_menu_item* item);

  // Inserts a new child at index (-1 or past the end: at the end).
  MenuItem& add_child(std::int32_t index, std::string caption = {});
  std::size_t child_count() const { return children_.size(); }
  MenuItem* child(std::size_t index);

  const std::string& caption() const { return caption_; }  // code page 1251
  const std::string& hint() const { return hint_; }
  std::int32_t help_context() const { return help_context_; }
  std::uint32_t shortcut() const { return shortcut_; }
  bool clickable() const { return on_click_ != nullptr; }
  // Runs the click handler the driver set; false when there is none.
  bool click();

  // The function the driver receives to create items.
  static zarvo_new_item_fn new_item();

 private:
  friend struct MenuEntries;
  MenuHandle handle_;
  std::string caption_;
  std::string hint_;
  std::int32_t help_context_ = 0;
  std::uint32_t shortcut_ = 0;
  zarvo_menu_click on_click_ = nullptr;
  void* click_context_ = nullptr;
  std::vector<std::unique_ptr<MenuItem>> children_;
};

}  // namespace zarvo::host
