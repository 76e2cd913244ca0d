// What the driver needs of the host's own menus when they are not the
// menu-item objects of the host ABI: reading a host object it cannot vouch
// for, and, on Windows, putting its entry straight into a window's menu bar.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace zarvo::platform {

// Copies size bytes from address when all of them are readable; false, with
// nothing read, when any is not. The host keeps its objects alive meanwhile.
// Without a way to ask the system (POSIX), it reads them as they are.
bool ReadHostMemory(const void* address, void* out, std::size_t size);

// Looks through the menu bars of this thread's top-level windows (the
// application window, then the windows it owns, then the others) for the
// first item whose text is parent_caption exactly and that opens a drop-down,
// and appends caption (code page 1251) to that drop-down with the first
// command identifier from first_command up that the menu bar does not use.
// The window then runs on_command when that command arrives, and passes
// everything else on. True when the entry was added; at most one window ever
// carries it. Does nothing and gives false where there are no such menus.
bool AppendToWindowMenu(std::string_view parent_caption, std::string_view caption,
                        unsigned first_command, std::function<void()> on_command);

}  // namespace zarvo::platform
