// The settings entry in the host's own menu items, as hosts without window
// menus have it; the driver's dialog runs in the terminal.
#include <stdexcept>

#include "codepage/cp1251.h"
#include "host/commands/scenes.h"
#include "host/session/console.h"
#include "host/session/menu.h"

namespace zarvo::host {

int open_settings(const SessionOptions& options, Output& out) {
  const TerminalRestore terminal;
  Session session(options, out.err());
  MenuItem root;
  root.add_child(-1, cp1251("&Файл").str());
  MenuItem& pumps = root.add_child(-1, cp1251("&ТРК").str());
  session.driver().add_menu_items(root.handle(), MenuItem::new_item());
  MenuItem* entry = pumps.child_count() > 0 ? pumps.child(pumps.child_count() - 1) : nullptr;
  if (entry == nullptr || !entry->clickable()) {
    throw std::runtime_error(
        "the driver added no settings entry to the menu (it adds one once per loaded library)");
  }
  out.note("Opening the driver's settings dialog...");
  entry->click();
  out.result(Json{{"command", "settings"}, {"opened", true}}, "The settings dialog was closed.");
  return 0;
}

}  // namespace zarvo::host
