// The menu entry through the library's operation table, as a host adds it
// and clicks it. Every case needs the library as just loaded, so each runs
// in a process of its own.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "codepage/cp1251.h"
#include "pty_session.h"
#include "tests/support/fresh_process.h"
#include "tests/support/host_menu.h"
#include "tests/support/settings_dir.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

using namespace std::chrono_literals;
using testing::HostMenuItem;
using testing::InFreshProcess;

const std::string kTrk = cp1251("&ТРК").str();
const std::string kEntry = cp1251("Программирование параметров (Zarvo)").str();

zarvo_da30* NewDriver() {
  static zarvo_port port{nullptr};  // the driver never calls it here
  return GetDA30(0, nullptr, &port);
}

void AddMenuItems(zarvo_da30* driver, zarvo_menu_item* root,
                  zarvo_new_item_fn new_item = &testing::NewHostItem) {
  driver->ops->AddMenuItems(driver, root, new_item);
}

// A host menu with the usual top-level items and "&ТРК" at index 3.
struct HostMenu {
  HostMenu() {
    root.Add(cp1251("&Файл").str());
    root.Add(cp1251("&Правка").str());
    root.Add(cp1251("&Вид").str());
    trk = &root.Add(kTrk);
  }
  HostMenuItem root;
  HostMenuItem* trk;
};

TEST(MenuEntry, only_the_first_call_of_the_library_adds_the_entry_even_from_another_driver) {
  InFreshProcess([] {
    HostMenu menu;
    zarvo_da30* first = NewDriver();
    zarvo_da30* second = NewDriver();
    AddMenuItems(first, &menu.root);
    AddMenuItems(first, &menu.root);
    AddMenuItems(second, &menu.root);
    EXPECT_EQ(menu.trk->children.size(), 1U);
    EXPECT_EQ(menu.root.ItemCount(), 6);
    zarvo_da30_destroy(first);
    zarvo_da30_destroy(second);
  });
}

TEST(MenuEntry, goes_under_the_first_direct_child_captioned_exactly_trk) {
  InFreshProcess([] {
    HostMenu menu;
    menu.root.children[0]->Add(kTrk);  // a grandchild is not looked at
    menu.root.Add(cp1251("Окна").str());
    HostMenuItem& later = menu.root.Add(kTrk);  // index 5
    zarvo_da30* driver = NewDriver();
    AddMenuItems(driver, &menu.root);

    ASSERT_EQ(menu.trk->children.size(), 1U);
    EXPECT_TRUE(later.children.empty());
    EXPECT_TRUE(menu.root.children[0]->children[0]->children.empty());
    const HostMenuItem& entry = *menu.trk->children[0];
    EXPECT_EQ(entry.created_at_index, -1);
    EXPECT_EQ(entry.caption, kEntry);
    EXPECT_EQ(entry.hint, kEntry);
    EXPECT_EQ(entry.help_context, 0);
    EXPECT_EQ(entry.shortcut, 0U);
    EXPECT_NE(entry.on_click, nullptr);
    zarvo_da30_destroy(driver);
  });
}

TEST(MenuEntry, a_caption_that_differs_in_any_way_matches_nothing_and_no_later_call_adds_it) {
  InFreshProcess([] {
    HostMenuItem root;
    root.Add(cp1251("ТРК").str());
    root.Add(cp1251("&трк").str());
    root.Add(cp1251("&Трк").str());
    root.Add(cp1251(" &ТРК").str());
    root.Add(cp1251("&ТРК ").str());
    root.Add(cp1251("&&ТРК").str());
    zarvo_da30* first = NewDriver();
    AddMenuItems(first, &root);
    EXPECT_EQ(root.ItemCount(), 7);

    HostMenu good;  // the flag is spent even so
    zarvo_da30* second = NewDriver();
    AddMenuItems(second, &good.root);
    EXPECT_TRUE(good.trk->children.empty());
    zarvo_da30_destroy(first);
    zarvo_da30_destroy(second);
  });
}

TEST(MenuEntry, no_menu_root_adds_nothing_raises_nothing_and_spends_the_call) {
  InFreshProcess([] {
    zarvo_da30* driver = NewDriver();
    EXPECT_NO_THROW(AddMenuItems(driver, nullptr));
    HostMenu menu;
    AddMenuItems(driver, &menu.root);
    EXPECT_TRUE(menu.trk->children.empty());
    zarvo_da30_destroy(driver);
  });
}

TEST(MenuEntry, a_factory_that_makes_no_item_adds_nothing_raises_nothing_and_spends_the_call) {
  InFreshProcess([] {
    zarvo_da30* driver = NewDriver();
    HostMenu menu;
    EXPECT_NO_THROW(AddMenuItems(driver, &menu.root, &testing::NoNewItem));
    AddMenuItems(driver, &menu.root);
    EXPECT_TRUE(menu.trk->children.empty());
    zarvo_da30_destroy(driver);
  });
}

// Another toolkit's menu object: its first word points at its method table,
// whose first word is code. Nothing of it may be called.
int foreign_calls = 0;
void ForeignMethod() {
  ++foreign_calls;
}
using ForeignTable = std::array<void (*)(), 12>;
const ForeignTable kForeignTable = [] {
  ForeignTable table{};
  table.fill(&ForeignMethod);
  return table;
}();
struct ForeignItem {
  const ForeignTable* table = &kForeignTable;
};
ForeignItem foreign_item;
zarvo_menu_item* AsMenuItem(ForeignItem& item) {
  return reinterpret_cast<zarvo_menu_item*>(&item);
}

zarvo_menu_item* factory_parent = nullptr;
zarvo_menu_item* ZARVO_STDCALL NewForeignItem(zarvo_menu_item* parent, std::int32_t) {
  factory_parent = parent;
  return AsMenuItem(foreign_item);
}

TEST(MenuEntry, a_root_of_another_toolkit_is_never_called_raises_nothing_and_spends_the_call) {
  InFreshProcess([] {
    zarvo_da30* driver = NewDriver();
    EXPECT_NO_THROW(AddMenuItems(driver, AsMenuItem(foreign_item)));
    EXPECT_EQ(foreign_calls, 0);
    HostMenu menu;
    AddMenuItems(driver, &menu.root);
    EXPECT_TRUE(menu.trk->children.empty());
    zarvo_da30_destroy(driver);
  });
}

TEST(MenuEntry, children_and_new_items_of_another_toolkit_are_passed_over_untouched) {
  InFreshProcess([] {
    HostMenu menu;
    menu.root.children[1]->ops = reinterpret_cast<const zarvo_menu_item_ops*>(&kForeignTable);
    zarvo_da30* driver = NewDriver();
    EXPECT_NO_THROW(AddMenuItems(driver, &menu.root, &NewForeignItem));
    EXPECT_EQ(factory_parent, menu.trk);
    EXPECT_EQ(foreign_calls, 0);
    zarvo_da30_destroy(driver);
  });
}

// A host whose menu functions fail its own way, one function at a time: the
// failure stays in the host.
[[noreturn]] void FailAsTheHost() {
  throw std::runtime_error("the host's own failure");
}
std::int32_t ZARVO_STDCALL FailingCount(zarvo_menu_item*) {
  FailAsTheHost();
}
zarvo_menu_item* ZARVO_STDCALL FailingItem(zarvo_menu_item*, std::int32_t) {
  FailAsTheHost();
}
const char* ZARVO_STDCALL FailingCaption(zarvo_menu_item*) {
  FailAsTheHost();
}
const char* ZARVO_STDCALL NoCaption(zarvo_menu_item*) {
  return nullptr;
}
zarvo_menu_item* ZARVO_STDCALL FailingNewItem(zarvo_menu_item*, std::int32_t) {
  FailAsTheHost();
}

TEST(MenuEntry, a_host_menu_that_fails_adds_nothing_raises_nothing_and_spends_the_call) {
  using Break = void (*)(HostMenu&, zarvo_menu_item_ops&);
  const struct {
    const char* what;
    Break break_menu;
    zarvo_new_item_fn new_item;
  } cases[] = {
      {"the count",
       [](HostMenu& m, zarvo_menu_item_ops& ops) {
         ops.GetCount = &FailingCount;
         m.root.ops = &ops;
       },
       &testing::NewHostItem},
      {"an item",
       [](HostMenu& m, zarvo_menu_item_ops& ops) {
         ops.GetItem = &FailingItem;
         m.root.ops = &ops;
       },
       &testing::NewHostItem},
      {"a caption",
       [](HostMenu& m, zarvo_menu_item_ops& ops) {
         ops.GetCaption = &FailingCaption;
         for (const auto& child : m.root.children) child->ops = &ops;
       },
       &testing::NewHostItem},
      {"no caption",
       [](HostMenu& m, zarvo_menu_item_ops& ops) {
         ops.GetCaption = &NoCaption;
         for (const auto& child : m.root.children) child->ops = &ops;
       },
       &testing::NewHostItem},
      {"the factory", [](HostMenu&, zarvo_menu_item_ops&) {}, &FailingNewItem},
      {"no factory", [](HostMenu&, zarvo_menu_item_ops&) {}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    InFreshProcess([&] {
      HostMenu failing;
      zarvo_menu_item_ops ops = *failing.root.ops;
      c.break_menu(failing, ops);
      zarvo_da30* driver = NewDriver();
      EXPECT_NO_THROW(AddMenuItems(driver, &failing.root, c.new_item));
      EXPECT_TRUE(failing.trk->children.empty());
      HostMenu menu;
      AddMenuItems(driver, &menu.root);
      EXPECT_TRUE(menu.trk->children.empty());
      zarvo_da30_destroy(driver);
    });
  }
}

// On a terminal, a click that reached a driver would draw the dialog and wait.
TEST(MenuEntry, a_click_after_its_driver_was_destroyed_does_nothing) {
  testing::TempSettingsDir dir;
  testing::PtySession session([] {
    HostMenu menu;
    zarvo_da30* bound = NewDriver();
    zarvo_da30* other = NewDriver();
    AddMenuItems(bound, &menu.root);
    zarvo_da30_destroy(bound);
    menu.trk->children.at(0)->Click();
    std::printf("clicked\n");
    zarvo_da30_destroy(other);
    return 0;
  });
  EXPECT_EQ(session.WaitForExit(5s), 0) << session.ScreenText();
  EXPECT_NE(session.Output().find("clicked"), std::string::npos);
  EXPECT_EQ(session.Output().find("\x1b[?1049h"), std::string::npos) << "a dialog was drawn";
  EXPECT_FALSE(dir.file_exists());
}

TEST(MenuEntry, a_click_opens_the_terminal_dialog_for_its_driver_and_ok_saves) {
  testing::TempSettingsDir dir;
  testing::PtySession session([] {
    HostMenu menu;
    zarvo_da30* driver = NewDriver();
    AddMenuItems(driver, &menu.root);
    menu.trk->children.at(0)->Click();
    zarvo_da30_destroy(driver);
    return 0;
  });
  ASSERT_TRUE(session.WaitForScreen("Настройка ТРК Zarvo", 5s)) << session.ScreenText();
  session.Send("\x1b[D \r");  // from S2, one to the left is S3: three amount decimals
  EXPECT_EQ(session.WaitForExit(5s), 0);
  EXPECT_NE(dir.read_file().find("SDec=3"), std::string::npos) << dir.read_file();
}

}  // namespace
}  // namespace zarvo
