// The settings dialog as a Windows host meets it: a host window given to
// GetDA30, a host menu with "&ТРК", the entry AddMenuItems puts under it,
// clicked on the host's UI thread. A second thread finds the dialog by its
// caption and drives it with window messages, as a user's clicks and keys
// would. Runs under wine; the last line reads "N passed, M failed".
//
// Usage: settings_dialog_test LIBRARY [--hold SECONDS | CASE]
//   --hold keeps the dialog up that long before cancelling it, for a
//   picture of it, and prints where it is on the screen. The other cases
//   (see --help) each need a process of their own: the library adds its
//   menu entry once.
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "codepage/cp1251.h"
#include "tests/abi/abi_port.h"
#include "tests/support/host_menu.h"
#include "tests/support/settings_dir.h"
#include "tests/support/tally.h"
#include "zarvo/da30.h"

namespace {

using zarvo::abi::AbiPort;
using zarvo::testing::HostMenuItem;
using zarvo::testing::NewHostItem;
using zarvo::testing::TempSettingsDir;

constexpr auto kParentCaption = zarvo::cp1251("&ТРК");
constexpr auto kEntryCaption = zarvo::cp1251("Программирование параметров (Zarvo)");
constexpr auto kFormCaption = zarvo::cp1251("Настройка ТРК Zarvo");
constexpr auto kCancelCaption = zarvo::cp1251("Отмена");
constexpr auto kMonoCaption = zarvo::cp1251("Монопродуктовая команда старта");
constexpr DWORD kFindMilliseconds = 15000;
constexpr int kSkipped = 77;  // the exit status ctest reads as skipped

using zarvo::testing::Tally;

std::wstring wide(std::string_view cp1251) {
  const int size = static_cast<int>(cp1251.size());
  const int length = MultiByteToWideChar(1251, 0, cp1251.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(1251, 0, cp1251.data(), size, text.data(), length);
  return text;
}

std::wstring text_of(HWND window) {
  std::array<wchar_t, 256> text{};
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  return std::wstring(text.data(), static_cast<std::size_t>(length));
}

std::string read_setting(const std::string& path, const char* key) {
  std::array<char, 32> value{};
  GetPrivateProfileStringA("Zarvo", key, "<absent>", value.data(), static_cast<DWORD>(value.size()),
                           path.c_str());
  return value.data();
}

void write_settings(const std::string& path, const char* sdec, const char* pdec, const char* mono) {
  DeleteFileA(path.c_str());
  WritePrivateProfileStringA("Zarvo", "SDec", sdec, path.c_str());
  WritePrivateProfileStringA("Zarvo", "PDec", pdec, path.c_str());
  WritePrivateProfileStringA("Zarvo", "MPTRK", mono, path.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

HWND wait_for_dialog() {
  const std::wstring caption = wide(kFormCaption.view());
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kFindMilliseconds) {
    // Visible: the runner sets the caption before the dialog is shown.
    const HWND dialog = FindWindowW(L"#32770", caption.c_str());
    if (dialog != nullptr && IsWindowVisible(dialog)) return dialog;
    Sleep(20);
  }
  return nullptr;
}

BOOL CALLBACK collect_child(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

std::vector<HWND> children_of(HWND dialog) {
  std::vector<HWND> children;
  EnumChildWindows(dialog, &collect_child, reinterpret_cast<LPARAM>(&children));
  return children;
}

// The child whose top-left corner is at this point of the dialog's client area.
HWND child_at(HWND dialog, int left, int top) {
  for (const HWND child : children_of(dialog)) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    if (rect.left == left && rect.top == top) return child;
  }
  return nullptr;
}

HWND child_with_text(HWND dialog, std::wstring_view text) {
  for (const HWND child : children_of(dialog)) {
    if (text_of(child) == text) return child;
  }
  return nullptr;
}

bool checked(HWND button) {
  return button != nullptr && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// The decimal buttons of each group, indexed by the number of decimals, at
// their places in the dialog: a group box's origin plus the button's offset.
struct DecimalButtons {
  std::array<HWND, 4> sum{};
  std::array<HWND, 4> price{};
};

DecimalButtons decimal_buttons(HWND dialog) {
  constexpr std::array<int, 4> kLeft = {208, 186, 159, 134};
  DecimalButtons buttons;
  for (std::size_t i = 0; i < kLeft.size(); ++i) {
    buttons.sum[i] = child_at(dialog, 8 + kLeft[i], 8 + 29);
    buttons.price[i] = child_at(dialog, 8 + kLeft[i], 63 + 29);
  }
  return buttons;
}

// The host's side: a window of its own, the driver, the menu and its entry.
struct Host {
  HWND window = nullptr;
  AbiPort port;
  zarvo_da30* driver = nullptr;
  HostMenuItem root;
  HostMenuItem* entry = nullptr;
};

HWND make_host_window() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"ZarvoTestHost";
  RegisterClassW(&window_class);
  return CreateWindowExW(0, L"ZarvoTestHost", L"Host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Clicks (by default the host menu's entry) on this thread while `drive`
// works the dialog from another. A dialog the driving left open is cancelled
// and counted as a failure, so a fault ends the test instead of hanging it.
template <typename Drive, typename Click>
void click_and_drive(Tally& t, Click click, Drive drive) {
  std::thread driver_thread([&t, &drive] {
    const HWND dialog = wait_for_dialog();
    drive(dialog);
    const DWORD start = GetTickCount();
    while (dialog != nullptr && IsWindow(dialog) && GetTickCount() - start < kFindMilliseconds) {
      Sleep(20);
    }
    const bool closed = dialog == nullptr || !IsWindow(dialog);
    CHECK(t, closed);
    if (!closed) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  click();
  driver_thread.join();
}

template <typename Drive>
void click_and_drive(Tally& t, Host& host, Drive drive) {
  click_and_drive(
      t, [&host] { host.entry->Click(); }, drive);
}

// The control that has the keyboard focus in the dialog's thread.
HWND focus_of(HWND dialog) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool is_auto_radio_button(HWND window) {
  std::array<wchar_t, 16> name{};
  GetClassNameW(window, name.data(), static_cast<int>(name.size()));
  return lstrcmpiW(name.data(), L"Button") == 0 &&
         (GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

// Windows clicks an automatic radio button that takes the keyboard focus
// while unchecked; wine does not, so the test does it for the system.
void as_windows_on_focus(HWND dialog) {
  const HWND focus = focus_of(dialog);
  if (focus != nullptr && is_auto_radio_button(focus) && !checked(focus)) {
    SendMessageW(focus, BM_CLICK, 0, 0);
  }
}

// A key typed into the dialog: to the focused control, through the dialog's loop.
void press(HWND dialog, WPARAM key) {
  const HWND focus = focus_of(dialog);
  const HWND target = focus != nullptr ? focus : dialog;
  PostMessageW(target, WM_KEYDOWN, key, 0);
  PostMessageW(target, WM_KEYUP, key, 0);
}

// Tabs once round the dialog, as Windows would treat each control the focus
// lands on, and ends where it started.
void tab_round(Tally& t, HWND dialog) {
  as_windows_on_focus(dialog);
  const HWND start = focus_of(dialog);
  CHECK(t, start != nullptr);
  for (int step = 0; step < 20 && start != nullptr; ++step) {
    const HWND before = focus_of(dialog);
    press(dialog, VK_TAB);
    const DWORD since = GetTickCount();
    while (focus_of(dialog) == before && GetTickCount() - since < 2000) Sleep(10);
    as_windows_on_focus(dialog);
    if (focus_of(dialog) == start) return;
  }
  CHECK(t, focus_of(dialog) == start);
}

void the_dialog_shows_the_settings_and_ok_writes_the_choice(Tally& t, Host& host,
                                                            const std::string& path) {
  click_and_drive(t, host, [&t, &host](HWND dialog) {
    CHECK(t, dialog != nullptr);
    if (dialog == nullptr) return;
    CHECK(t, GetWindow(dialog, GW_OWNER) == host.window);
    RECT client{};
    GetClientRect(dialog, &client);
    CHECK(t, client.right == 249 && client.bottom == 173);

    // The file's values are preselected: 1 decimal in sums, 3 in prices.
    const DecimalButtons buttons = decimal_buttons(dialog);
    CHECK(t, checked(buttons.sum[1]) && !checked(buttons.sum[0]) && !checked(buttons.sum[2]));
    CHECK(t, checked(buttons.price[3]) && !checked(buttons.price[1]));
    const HWND mono = child_with_text(dialog, wide(kMonoCaption.view()));
    CHECK(t, mono != nullptr && !checked(mono));

    // OK is the default button: Enter means OK.
    const HWND ok = child_with_text(dialog, L"OK");
    CHECK(t, ok != nullptr);
    CHECK(t, (GetWindowLongW(ok, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
    CHECK(t, LOWORD(SendMessageW(dialog, DM_GETDEFID, 0, 0)) == GetDlgCtrlID(ok));
    CHECK(t, child_with_text(dialog, wide(kCancelCaption.view())) != nullptr);

    // A click moves the group's check; the other group keeps its own.
    SendMessageW(buttons.sum[2], BM_CLICK, 0, 0);
    CHECK(t, checked(buttons.sum[2]) && !checked(buttons.sum[1]));
    CHECK(t, checked(buttons.price[3]));
    SendMessageW(mono, BM_CLICK, 0, 0);
    CHECK(t, checked(mono));
    SendMessageW(ok, BM_CLICK, 0, 0);
  });
  CHECK(t, read_setting(path, "SDec") == "2");
  CHECK(t, read_setting(path, "PDec") == "3");
  CHECK(t, read_setting(path, "MPTRK") == "1");
}

void escape_closes_the_dialog_and_writes_nothing(Tally& t, Host& host, const std::string& path) {
  DeleteFileA(path.c_str());
  click_and_drive(t, host, [&t](HWND dialog) {
    CHECK(t, dialog != nullptr);
    if (dialog == nullptr) return;
    // Shown again with the values the last OK kept.
    const DecimalButtons buttons = decimal_buttons(dialog);
    CHECK(t, checked(buttons.sum[2]));
    SendMessageW(buttons.sum[0], BM_CLICK, 0, 0);
    // Keys go through the dialog's own message loop, as typed ones do.
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_KEYUP, VK_ESCAPE, 0);
  });
  CHECK(t, GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES);
}

// Enter on a dialog that took the focus the way Windows gives it: what the
// file held is stored again, including an amount setting no button stands for.
void enter_keeps_the_settings_when_buttons_take_the_focus(Tally& t, Host& host,
                                                          const std::string& path) {
  const auto tab_round_then_enter = [&t](HWND dialog) {
    CHECK(t, dialog != nullptr);
    if (dialog == nullptr) return;
    tab_round(t, dialog);
    press(dialog, VK_RETURN);
  };
  // The first showing with 7 amount decimals checks no amount button.
  click_and_drive(t, host, [&t, &tab_round_then_enter](HWND dialog) {
    if (dialog != nullptr) {
      const DecimalButtons buttons = decimal_buttons(dialog);
      CHECK(t, !checked(buttons.sum[0]) && !checked(buttons.sum[1]) && !checked(buttons.sum[2]) &&
                   !checked(buttons.sum[3]) && checked(buttons.price[0]));
    }
    tab_round_then_enter(dialog);
  });
  CHECK(t, read_setting(path, "SDec") == "7");
  CHECK(t, read_setting(path, "PDec") == "0");

  // 2 amount decimals chosen by a click, then the dialog opened on them.
  click_and_drive(t, host, [&t](HWND dialog) {
    CHECK(t, dialog != nullptr);
    if (dialog == nullptr) return;
    SendMessageW(decimal_buttons(dialog).sum[2], BM_CLICK, 0, 0);
    SendMessageW(child_with_text(dialog, L"OK"), BM_CLICK, 0, 0);
  });
  DeleteFileA(path.c_str());
  click_and_drive(t, host, [&t, &tab_round_then_enter](HWND dialog) {
    if (dialog != nullptr) CHECK(t, checked(decimal_buttons(dialog).sum[2]));
    tab_round_then_enter(dialog);
  });
  CHECK(t, read_setting(path, "SDec") == "2");
  CHECK(t, read_setting(path, "PDec") == "0");
}

// Another toolkit's menu item as the host passes it: its first word points at
// a method table, and the table's first word at code.
int foreign_calls = 0;
void foreign_method() {
  ++foreign_calls;
}
using ForeignTable = std::array<void (*)(), 16>;
const ForeignTable kForeignTable = [] {
  ForeignTable table{};
  table.fill(&foreign_method);
  return table;
}();
struct ForeignItem {
  const ForeignTable* table = &kForeignTable;
  const char* caption = nullptr;
};

// Menu texts as an ANSI host of code page 1251, as station hosts are, writes
// and reads them (through the system's ANSI code page, whichever it is).
std::vector<std::string> menu_texts(HMENU menu) {
  std::vector<std::string> texts;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    std::array<char, 256> text{};
    const int length = GetMenuStringA(menu, static_cast<UINT>(i), text.data(),
                                      static_cast<int>(text.size()), MF_BYPOSITION);
    texts.emplace_back(text.data(), static_cast<std::size_t>(length < 0 ? 0 : length));
  }
  return texts;
}

std::wstring menu_letters(HMENU menu, int position) {
  std::array<wchar_t, 256> text{};
  const int length = GetMenuStringW(menu, static_cast<UINT>(position), text.data(),
                                    static_cast<int>(text.size()), MF_BYPOSITION);
  return std::wstring(text.data(), static_cast<std::size_t>(length < 0 ? 0 : length));
}

enum class HostText { kAnsi, kUnicode };

void append_item(HMENU menu, UINT flags, UINT_PTR command, std::string_view text, HostText kind) {
  if (kind == HostText::kAnsi) {
    AppendMenuA(menu, flags, command, std::string(text).c_str());
  } else {
    AppendMenuW(menu, flags, command, wide(text).c_str());
  }
}

// A menu bar with "&Файл" and, when asked, "&ТРК", each opening a drop-down.
HMENU make_menu_bar(bool with_trk, HostText kind) {
  const HMENU bar = CreateMenu();
  const auto add = [bar, kind](std::string_view caption, UINT command, std::string_view item) {
    const HMENU drop_down = CreatePopupMenu();
    append_item(drop_down, MF_STRING, command, item, kind);
    append_item(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(drop_down), caption, kind);
  };
  add(zarvo::cp1251("&Файл").view(), 101, zarvo::cp1251("Выход").view());
  if (with_trk) add(kParentCaption.view(), 201, zarvo::cp1251("Цены").view());
  return bar;
}

UINT last_host_command = 0;
LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND) last_host_command = LOWORD(wparam);
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND make_form(HWND owner, bool with_trk, HostText kind = HostText::kAnsi) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = form_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"ZarvoTestForm";
  RegisterClassW(&window_class);
  return CreateWindowExW(0, L"ZarvoTestForm", L"Form", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, owner,
                         make_menu_bar(with_trk, kind), GetModuleHandleW(nullptr), nullptr);
}

// The host's main form, owned by the application window it gave the driver,
// has "&ТРК"; so does a later unowned window, which comes first in z-order.
// The entry reads back as the host wrote its own items, bytes or letters.
void a_foreign_root_gets_the_entry_into_the_main_forms_menu_bar(Tally& t, Host& host,
                                                                const std::string& path,
                                                                HostText kind) {
  const HWND form = make_form(host.window, true, kind);
  const HWND other = make_form(nullptr, true);
  ShowWindow(form, SW_SHOWNOACTIVATE);
  const HMENU trk = GetSubMenu(GetMenu(form), 1);
  ForeignItem root;
  host.driver->ops->AddMenuItems(host.driver, reinterpret_cast<zarvo_menu_item*>(&root),
                                 &NewHostItem);
  CHECK(t, foreign_calls == 0);
  CHECK(t, menu_texts(GetSubMenu(GetMenu(other), 1)).size() == 1);
  const std::vector<std::string> texts = menu_texts(trk);
  CHECK(t, texts.size() == 2);
  if (kind == HostText::kAnsi) {
    CHECK(t, texts.size() == 2 && texts[1] == kEntryCaption.view());
  } else {
    CHECK(t, menu_letters(trk, 1) == wide(kEntryCaption.view()));
  }
  const UINT command = GetMenuItemID(trk, 1);
  CHECK(t, command == ZARVO_MENU_COMMAND_ID);

  // The form's own commands still reach it.
  SendMessageW(form, WM_COMMAND, 201, 0);
  CHECK(t, last_host_command == 201);

  DeleteFileA(path.c_str());
  click_and_drive(
      t, [form, command] { SendMessageW(form, WM_COMMAND, MAKEWPARAM(command, 0), 0); },
      [&t, &host, form](HWND dialog) {
        CHECK(t, dialog != nullptr);
        if (dialog == nullptr) return;
        CHECK(t, GetWindow(dialog, GW_OWNER) == host.window);
        // The main form waits too, though the dialog's owner is another window.
        CHECK(t, !IsWindowEnabled(form));
        CHECK(t, checked(decimal_buttons(dialog).sum[3]));
        SendMessageW(child_with_text(dialog, L"OK"), BM_CLICK, 0, 0);
      });
  CHECK(t, last_host_command == 201);
  CHECK(t, IsWindowEnabled(form));
  CHECK(t, read_setting(path, "SDec") == "3");
  CHECK(t, read_setting(path, "PDec") == "1");
  DestroyWindow(other);
  DestroyWindow(form);
}

// A root whose table lies in memory nobody may read, and no "&ТРК" anywhere.
void without_trk_a_foreign_root_changes_nothing(Tally& t, Host& host) {
  const HWND form = make_form(host.window, false);
  const auto procedure = GetWindowLongPtrW(form, GWLP_WNDPROC);
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
  const void* root[] = {page};
  bool raised = false;
  try {
    host.driver->ops->AddMenuItems(
        host.driver, reinterpret_cast<zarvo_menu_item*>(const_cast<void**>(root)), &NewHostItem);
  } catch (...) {
    raised = true;
  }
  CHECK(t, !raised);
  const std::vector<std::string> texts = menu_texts(GetMenu(form));
  CHECK(t, texts.size() == 1 && menu_texts(GetSubMenu(GetMenu(form), 0)).size() == 1);
  CHECK(t, GetWindowLongPtrW(form, GWLP_WNDPROC) == procedure);
  VirtualFree(page, 0, MEM_RELEASE);
  DestroyWindow(form);
}

// Shows the dialog for a while and cancels it: for taking a picture of it.
// Prints where it is on the screen as "dialog: WIDTHxHEIGHT+LEFT+TOP".
void hold_the_dialog(Tally& t, Host& host, int seconds) {
  click_and_drive(t, host, [&t, seconds](HWND dialog) {
    CHECK(t, dialog != nullptr);
    if (dialog == nullptr) return;
    RECT frame{};
    GetWindowRect(dialog, &frame);
    std::printf("dialog: %ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top,
                frame.left, frame.top);
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
}

void usage(std::FILE* out) {
  std::fprintf(out,
               "Usage: settings_dialog_test LIBRARY [--hold SECONDS | CASE]\n"
               "Drives the driver's settings dialog through a host menu and checks it.\n"
               "  --hold SECONDS  show the dialog that long, print where it is, then cancel it\n"
               "CASE, each in a process of its own (the menu entry is added once a process):\n"
               "  --focus         Enter after the focus moved as Windows moves it\n"
               "  --window-menu   a root of another toolkit, \"&TRK\" in a window's menu bar\n"
               "  --window-menu-unicode  the same, the menu written by a Unicode host\n"
               "  --window-menu-without-trk  the same root, no such item anywhere\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    usage(stdout);
    return 0;
  }
  int hold_seconds = -1;
  if (args.size() == 3 && args[1] == "--hold") hold_seconds = std::atoi(argv[3]);
  const std::string_view mode = args.size() == 2 ? args[1] : "";
  const bool known_mode = mode == "--focus" || mode == "--window-menu" ||
                          mode == "--window-menu-unicode" || mode == "--window-menu-without-trk";
  if (args.empty() || (args.size() == 2 && !known_mode) || (args.size() == 3 && hold_seconds < 1) ||
      args.size() > 3) {
    usage(stderr);
    return 2;
  }

  // wine makes no window without an X display: nothing to drive then.
  const HWND window = make_host_window();
  if (window == nullptr) {
    std::printf("SKIPPED: wine cannot make windows here (no X display?)\n");
    return kSkipped;
  }

  Tally t;
  const HMODULE module = LoadLibraryA(argv[1]);
  const auto get_da30 = reinterpret_cast<zarvo_get_da30_fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "GetDA30")));
  CHECK(t, get_da30 != nullptr);
  if (get_da30 == nullptr) return t.finish();

  const TempSettingsDir settings;
  const std::string path = settings.file();
  if (mode == "--focus") {
    write_settings(path, "7", "0", "0");
  } else if (mode == "--window-menu" || mode == "--window-menu-unicode") {
    write_settings(path, "3", "1", "0");
  } else {
    write_settings(path, "1", "3", "0");
  }
  Host host;
  host.window = window;
  host.driver = get_da30(0, host.window, host.port.port());
  if (mode == "--window-menu" || mode == "--window-menu-unicode") {
    a_foreign_root_gets_the_entry_into_the_main_forms_menu_bar(
        t, host, path, mode == "--window-menu" ? HostText::kAnsi : HostText::kUnicode);
  } else if (mode == "--window-menu-without-trk") {
    without_trk_a_foreign_root_changes_nothing(t, host);
  } else {
    HostMenuItem& parent = host.root.Add(std::string(kParentCaption.view()));
    host.driver->ops->AddMenuItems(host.driver, &host.root, &NewHostItem);
    CHECK(t, parent.children.size() == 1);
    CHECK(t, parent.children.size() == 1 && parent.children[0]->caption == kEntryCaption.view());
    if (parent.children.size() == 1) {
      host.entry = parent.children[0].get();
      if (hold_seconds > 0) {
        hold_the_dialog(t, host, hold_seconds);
      } else if (mode == "--focus") {
        enter_keeps_the_settings_when_buttons_take_the_focus(t, host, path);
      } else {
        the_dialog_shows_the_settings_and_ok_writes_the_choice(t, host, path);
        escape_closes_the_dialog_and_writes_nothing(t, host, path);
      }
    }
  }
  zarvo_da30_destroy(host.driver);
  DestroyWindow(host.window);
  return t.finish();
}
