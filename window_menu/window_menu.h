// The driver's entry in a host window's menu bar, for a host whose menu items
// are not the menu-item objects of the host ABI: on Windows the entry goes
// straight into the Win32 menu underneath.
#pragma once

#include <functional>
#include <string_view>

namespace zarvo::window_menu {

// Looks through the menu bars of this thread's top-level windows (the
// application window, then the windows it owns, then the others) for the
// first item whose text is parent_caption exactly and that opens a drop-down,
// and appends caption (code page 1251) to that drop-down with the first
// command identifier from first_command up that the menu bar does not use.
// The window then runs on_command when that command arrives, and passes
// everything else on. True when the entry was added; at most one window ever
// carries it. Does nothing and gives false where there are no such menus.
bool AppendEntry(std::string_view parent_caption, std::string_view caption, unsigned first_command,
                 std::function<void()> on_command);

}  // namespace zarvo::window_menu
