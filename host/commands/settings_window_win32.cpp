// The settings entry in a window's menu bar, as station hosts have it: the
// tool makes a main window with "&Файл" and "&ТРК", passes the driver a menu
// item of its own toolkit (no zarvo_menu_item), and the driver adds its entry
// to the window's "&ТРК" drop-down. The entry's command opens the dialog,
// owned by that window.
#include <windows.h>

#include <array>
#include <stdexcept>

#include "host/commands/scenes.h"
#include "host/session/menu.h"

namespace zarvo::host {

namespace {

constexpr const wchar_t* kWindowClass = L"ZarvoHostWindow";

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

class MainWindow {
 public:
  MainWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = main_window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = kWindowClass;
    RegisterClassExW(&window_class);

    const HMENU bar = CreateMenu();
    const HMENU file = CreatePopupMenu();
    pumps_ = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IDCANCEL, L"В&ыход");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&Файл");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(pumps_), L"&ТРК");
    window_ = CreateWindowExW(0, kWindowClass, L"zarvo", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 480, 200, nullptr, bar, instance, nullptr);
    if (window_ == nullptr) {
      DestroyMenu(bar);
      throw std::runtime_error("cannot make the host's window (error " +
                               std::to_string(GetLastError()) + ")");
    }
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
  }
  ~MainWindow() { DestroyWindow(window_); }  // the menu bar goes with it
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND handle() const { return window_; }
  HMENU pumps_menu() const { return pumps_; }

 private:
  HWND window_ = nullptr;
  HMENU pumps_ = nullptr;
};

// A menu item of the tool's own kind, as another toolkit's item looks to the
// driver: its first word points at a table whose first word is no signature.
struct ToolkitMenuItem {
  const std::array<const void*, 4>* table;
};
constexpr std::array<const void*, 4> kToolkitTable{};

}  // namespace

int open_settings(const SessionOptions& options, Output& out) {
  const MainWindow window;
  SessionOptions with_window = options;
  with_window.window = window.handle();
  Session session(with_window, out.err());

  ToolkitMenuItem root{&kToolkitTable};
  session.driver().add_menu_items(reinterpret_cast<zarvo_menu_item*>(&root), MenuItem::new_item());
  const int entries = GetMenuItemCount(window.pumps_menu());
  const UINT command =
      entries > 0 ? GetMenuItemID(window.pumps_menu(), entries - 1) : static_cast<UINT>(-1);
  if (command == static_cast<UINT>(-1)) {
    throw std::runtime_error(
        "the driver added no settings entry to the menu (it adds one once per loaded library)");
  }
  out.note("Opening the driver's settings dialog...");
  // As a click on the entry: the menu's command to the window that owns the
  // menu bar; the dialog is modal, so this returns once it is closed.
  SendMessageW(window.handle(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
  out.result(Json{{"command", "settings"}, {"opened", true}}, "The settings dialog was closed.");
  return 0;
}

}  // namespace zarvo::host
