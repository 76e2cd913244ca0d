// No system menus to fall back on here; the host ABI's menu items are all.
#include <cstring>

#include "platform/window_menu.h"

namespace zarvo::platform {

bool ReadHostMemory(const void* address, void* out, std::size_t size) {
  if (address == nullptr) return false;
  std::memcpy(out, address, size);
  return true;
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): the Windows version keeps the handler
bool AppendToWindowMenu(std::string_view, std::string_view, unsigned, std::function<void()>) {
  return false;
}

}  // namespace zarvo::platform
