// The host's menu bars on Windows. A host whose menu items are objects of its
// own toolkit still has a Win32 menu underneath: the entry goes into the
// drop-down of its "&ТРК" item, and the window that owns the menu bar is
// subclassed to run the entry's command.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/application.h"
#include "platform/wide_text_win32.h"
#include "window_menu/window_menu.h"

namespace zarvo::window_menu {
namespace {

using platform::Application;
using platform::wide;

constexpr unsigned kCommandsToTry = 16;

LRESULT CALLBACK entry_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The one window that carries the entry. Its procedure has no context of its
// own, and the library must put the window's procedure back before it goes.
class EntryWindow {
 public:
  EntryWindow() = default;
  EntryWindow(const EntryWindow&) = delete;
  EntryWindow& operator=(const EntryWindow&) = delete;
  ~EntryWindow() { Remove(); }

  bool Installed() const { return installed_.has_value(); }

  // False, with nothing changed, when the window cannot be subclassed.
  bool Install(HWND window, HMENU drop_down, UINT command, std::function<void()> on_command) {
    // Subclassed through the same character set, so the window stays what it was.
    const bool unicode = IsWindowUnicode(window) != FALSE;
    const auto procedure = reinterpret_cast<LONG_PTR>(&entry_window_procedure);
    const LONG_PTR original = unicode ? SetWindowLongPtrW(window, GWLP_WNDPROC, procedure)
                                      : SetWindowLongPtrA(window, GWLP_WNDPROC, procedure);
    if (original == 0) return false;
    installed_ = Subclass{window,  drop_down,
                          command, reinterpret_cast<WNDPROC>(original),
                          unicode, std::move(on_command)};
    return true;
  }

  LRESULT Dispatch(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // Nothing comes after WM_NCDESTROY; this only keeps a stray call defined.
    if (!installed_) return DefWindowProcW(window, message, wparam, lparam);
    const Subclass& subclass = *installed_;
    const WNDPROC original = subclass.original;
    const bool unicode = subclass.unicode;
    // From the menu: no control, notification code 0.
    if (message == WM_COMMAND && lparam == 0 && HIWORD(wparam) == 0 &&
        LOWORD(wparam) == subclass.command) {
      // A copy: the dialog's message loop may destroy the window meanwhile.
      const std::function<void()> on_command = subclass.on_command;
      on_command();
      return 0;
    }
    if (message == WM_NCDESTROY) Remove();
    return unicode ? CallWindowProcW(original, window, message, wparam, lparam)
                   : CallWindowProcA(original, window, message, wparam, lparam);
  }

 private:
  struct Subclass {
    HWND window;
    HMENU drop_down;
    UINT command;
    WNDPROC original;
    bool unicode;
    std::function<void()> on_command;
  };

  // Only while the window's procedure is still ours: one subclassed later on
  // top of it would lose its own.
  void Remove() {
    if (!installed_) return;
    const Subclass subclass = std::move(*installed_);
    installed_.reset();
    if (IsWindow(subclass.window) == FALSE) return;
    const auto ours = reinterpret_cast<LONG_PTR>(&entry_window_procedure);
    const auto original = reinterpret_cast<LONG_PTR>(subclass.original);
    if (subclass.unicode && GetWindowLongPtrW(subclass.window, GWLP_WNDPROC) == ours) {
      SetWindowLongPtrW(subclass.window, GWLP_WNDPROC, original);
    } else if (!subclass.unicode && GetWindowLongPtrA(subclass.window, GWLP_WNDPROC) == ours) {
      SetWindowLongPtrA(subclass.window, GWLP_WNDPROC, original);
    }
    if (IsMenu(subclass.drop_down) != FALSE) {
      DeleteMenu(subclass.drop_down, subclass.command, MF_BYCOMMAND);
    }
  }

  std::optional<Subclass> installed_;
};

EntryWindow& TheEntryWindow() {
  static EntryWindow entry_window;
  return entry_window;
}

LRESULT CALLBACK entry_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return TheEntryWindow().Dispatch(window, message, wparam, lparam);
}

BOOL CALLBACK collect_window(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

// This thread's top-level windows: the application window first, then the
// windows it owns (where a toolkit puts its main form), then the others.
std::vector<HWND> windows_in_search_order() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), &collect_window, reinterpret_cast<LPARAM>(&windows));
  const auto application = static_cast<HWND>(Application().Handle());
  const auto rank = [application](HWND window) {
    if (application == nullptr) return 2;
    if (window == application) return 0;
    return GetWindow(window, GW_OWNER) == application ? 1 : 2;
  };
  std::stable_sort(windows.begin(), windows.end(),
                   [&rank](HWND a, HWND b) { return rank(a) < rank(b); });
  return windows;
}

// How an item's text matched: an ANSI host stores code page 1251 bytes through
// the system's ANSI code page, a Unicode host the letters.
enum class Encoding { kNone, kBytes, kLetters };

Encoding item_text_is(HMENU menu, int position, std::string_view cp1251,
                      std::wstring_view letters) {
  std::array<char, 256> narrow{};
  const int narrow_length = GetMenuStringA(menu, static_cast<UINT>(position), narrow.data(),
                                           static_cast<int>(narrow.size()), MF_BYPOSITION);
  if (narrow_length > 0 &&
      std::string_view(narrow.data(), static_cast<std::size_t>(narrow_length)) == cp1251) {
    return Encoding::kBytes;
  }
  std::array<wchar_t, 256> text{};
  const int length = GetMenuStringW(menu, static_cast<UINT>(position), text.data(),
                                    static_cast<int>(text.size()), MF_BYPOSITION);
  const bool same =
      length > 0 && std::wstring_view(text.data(), static_cast<std::size_t>(length)) == letters;
  return same ? Encoding::kLetters : Encoding::kNone;
}

struct Found {
  HWND window;
  HMENU bar;
  HMENU drop_down;
  Encoding encoding;
};

std::optional<Found> find_drop_down(std::string_view caption) {
  const std::wstring letters = wide(caption);
  for (const HWND window : windows_in_search_order()) {
    const HMENU bar = GetMenu(window);
    if (bar == nullptr || IsMenu(bar) == FALSE) continue;
    const int count = GetMenuItemCount(bar);
    for (int position = 0; position < count; ++position) {
      const HMENU drop_down = GetSubMenu(bar, position);
      if (drop_down == nullptr) continue;
      const Encoding encoding = item_text_is(bar, position, caption, letters);
      if (encoding != Encoding::kNone) return Found{window, bar, drop_down, encoding};
    }
  }
  return std::nullopt;
}

std::optional<UINT> free_command(HMENU bar, unsigned first) {
  for (unsigned command = first; command < first + kCommandsToTry && command <= 0xFFFF; ++command) {
    // By command, the search covers every drop-down of the bar.
    if (GetMenuState(bar, command, MF_BYCOMMAND) == static_cast<UINT>(-1)) return command;
  }
  return std::nullopt;
}

}  // namespace

bool AppendEntry(std::string_view parent_caption, std::string_view caption, unsigned first_command,
                 std::function<void()> on_command) {
  EntryWindow& entry_window = TheEntryWindow();
  if (entry_window.Installed()) return false;
  const std::optional<Found> found = find_drop_down(parent_caption);
  if (!found) return false;
  const std::optional<UINT> command = free_command(found->bar, first_command);
  if (!command) return false;
  // In the host's own encoding, so that its menu reads back as it wrote it.
  const std::string bytes(caption);
  const BOOL appended =
      found->encoding == Encoding::kBytes
          ? AppendMenuA(found->drop_down, MF_STRING, *command, bytes.c_str())
          : AppendMenuW(found->drop_down, MF_STRING, *command, wide(caption).c_str());
  if (appended == FALSE) return false;
  if (!entry_window.Install(found->window, found->drop_down, *command, std::move(on_command))) {
    DeleteMenu(found->drop_down, *command, MF_BYCOMMAND);
    return false;
  }
  return true;
}

}  // namespace zarvo::window_menu
