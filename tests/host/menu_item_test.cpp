// The host's own menu items, as the driver reaches them through the ABI.
#include "host/session/menu.h"

#include <gtest/gtest.h>

namespace zarvo::host {
namespace {

TEST(MenuItem, items_the_driver_creates_land_under_their_parent_at_the_index) {
  MenuItem root;
  MenuItem& file = root.add_child(-1, "&File");
  zarvo_menu_item* handle = root.handle();
  EXPECT_EQ(handle->ops->GetCount(handle), 1);
  zarvo_menu_item* first = MenuItem::new_item()(handle, -1);
  zarvo_menu_item* inserted = MenuItem::new_item()(handle, 0);
  EXPECT_EQ(handle->ops->GetCount(handle), 3);
  EXPECT_EQ(handle->ops->GetItem(handle, 0), inserted);
  EXPECT_EQ(handle->ops->GetItem(handle, 1), file.handle());
  EXPECT_EQ(handle->ops->GetItem(handle, 2), first);
  EXPECT_EQ(handle->ops->GetItem(handle, 3), nullptr);
  EXPECT_EQ(handle->ops->GetItem(handle, -1), nullptr);
  first->ops->SetCaption(first, "entry");
  EXPECT_STREQ(first->ops->GetCaption(first), "entry");
}

TEST(MenuItem, a_click_runs_the_handler_the_driver_set_with_its_context) {
  MenuItem item;
  EXPECT_FALSE(item.click());
  int clicks = 0;
  item.handle()->ops->SetOnClick(
      item.handle(), [](void* context, zarvo_menu_item*) { ++*static_cast<int*>(context); },
      &clicks);
  EXPECT_TRUE(item.click());
  EXPECT_EQ(clicks, 1);
  item.handle()->ops->SetOnClick(item.handle(), nullptr, &clicks);
  EXPECT_FALSE(item.click());
}

}  // namespace
}  // namespace zarvo::host
