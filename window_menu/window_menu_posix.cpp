// No system menus to fall back on here; the host ABI's menu items are all.
#include "window_menu/window_menu.h"

namespace zarvo::window_menu {

// NOLINTNEXTLINE(performance-unnecessary-value-param): the Windows version keeps the handler
bool AppendEntry(std::string_view, std::string_view, unsigned, std::function<void()>) {
  return false;
}

}  // namespace zarvo::window_menu
