// The native runner on Windows: a modal dialog built in memory and owned by
// the host's application window. Controls are created at their exact pixel
// positions rather than from the template's dialog units, and every click
// goes through the form's model, which then decides what the controls show.
#include <windows.h>

#include <array>
#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "forms/modal_runner.h"
#include "platform/application.h"
#include "platform/wide_text_win32.h"

namespace zarvo::forms {

using platform::Application;
using platform::wide;
namespace {

constexpr int kFirstControlId = 1000;
constexpr WORD kTemplateFontPoints = 8;  // Tahoma 8 pt is 11 pixels at 96 dpi

// The fonts one showing uses, released with it.
class Fonts {
 public:
  Fonts() = default;
  Fonts(const Fonts&) = delete;
  Fonts& operator=(const Fonts&) = delete;
  ~Fonts() {
    for (const auto& entry : fonts_) DeleteObject(entry.second);
  }

  HFONT Get(const TFont& font) {
    const auto key = std::make_pair(std::wstring(wide(font.Name)), font.Height);
    if (const auto found = fonts_.find(key); found != fonts_.end()) return found->second;
    // A negative height asks for the character height, as the toolkit's fonts do.
    const HFONT handle = CreateFontW(
        -font.Height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, key.first.c_str());
    fonts_.emplace(key, handle);
    return handle;
  }

 private:
  std::map<std::pair<std::wstring, int>, HFONT> fonts_;
};

// The buttons' faces, released with the showing once the dialog is gone.
class Bitmaps {
 public:
  Bitmaps() = default;
  Bitmaps(const Bitmaps&) = delete;
  Bitmaps& operator=(const Bitmaps&) = delete;
  ~Bitmaps() {
    for (const HBITMAP bitmap : bitmaps_) DeleteObject(bitmap);
  }
  HBITMAP Keep(HBITMAP bitmap) {
    if (bitmap != nullptr) bitmaps_.push_back(bitmap);
    return bitmap;
  }

 private:
  std::vector<HBITMAP> bitmaps_;
};

struct Showing {
  TForm& form;
  Fonts fonts{};
  Bitmaps bitmaps{};
  std::exception_ptr failure{};
};

// The toolkit's standard glyphs, a character a pixel: a green check for OK,
// a red cross for cancelling.
using Glyph = std::array<std::string_view, 12>;
constexpr Glyph kOkGlyph = {
    "..............##", ".............###", "............###.", "...........###..",
    "..##......###...", ".####....###....", "..####..###.....", "...######.......",
    "....#####.......", ".....###........", "......#.........", "................",
};
constexpr Glyph kCancelGlyph = {
    ".##........##.", "####......####", ".####....####.", "..####..####..",
    "...########...", "....######....", "....######....", "...########...",
    "..####..####..", ".####....####.", "####......####", ".##........##.",
};
constexpr COLORREF kOkColour = RGB(0, 128, 0);
constexpr COLORREF kCancelColour = RGB(204, 0, 0);
constexpr int kGlyphGap = 5;
constexpr int kFaceInset = 4;  // the button's frame and its pressed offset

// A button's face: glyph and caption side by side, centred, on the button
// colour. Given as the button's image, so that it stays a native push button
// (default frame, focus, pressed look) and keeps its text for whoever reads it.
HBITMAP button_face(const TBitBtn& button, HFONT font) {
  const int width = button.Width - 2 * kFaceInset;
  const int height = button.Height - 2 * kFaceInset;
  if (width <= 0 || height <= 0) return nullptr;
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  if (dc == nullptr || bitmap == nullptr) {
    if (dc != nullptr) DeleteDC(dc);
    if (bitmap != nullptr) DeleteObject(bitmap);
    return nullptr;
  }
  const HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
  const HGDIOBJ old_font = SelectObject(dc, font);
  RECT face{0, 0, width, height};
  FillRect(dc, &face, GetSysColorBrush(COLOR_BTNFACE));

  const std::wstring caption = wide(button.Caption);
  SIZE text{};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  const bool ok = button.Kind == TBitBtn::Glyph::kOk;
  const Glyph& glyph = ok ? kOkGlyph : kCancelGlyph;
  const int glyph_width = static_cast<int>(glyph[0].size());
  const int glyph_height = static_cast<int>(glyph.size());
  const int left = (width - glyph_width - kGlyphGap - text.cx) / 2;
  const int top = (height - glyph_height) / 2;
  for (int y = 0; y < glyph_height; ++y) {
    const std::string_view row = glyph[static_cast<std::size_t>(y)];
    for (int x = 0; x < static_cast<int>(row.size()); ++x) {
      if (row[static_cast<std::size_t>(x)] == '#') {
        SetPixelV(dc, left + x, top + y, ok ? kOkColour : kCancelColour);
      }
    }
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  TextOutW(dc, left + glyph_width + kGlyphGap, (height - text.cy) / 2, caption.c_str(),
           static_cast<int>(caption.size()));
  SelectObject(dc, old_font);
  SelectObject(dc, old_bitmap);
  DeleteDC(dc);
  return bitmap;
}

int id_of(const TForm& form, const TControl* control) {
  const auto controls = form.Controls();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i] == control) return kFirstControlId + static_cast<int>(i);
  }
  return 0;
}

TControl* control_of(const TForm& form, int id) {
  const auto controls = form.Controls();
  const int index = id - kFirstControlId;
  if (index < 0 || static_cast<std::size_t>(index) >= controls.size()) return nullptr;
  return controls[static_cast<std::size_t>(index)];
}

// Windows take the tab order from the order of creation, and paint earlier
// siblings over later ones: a group's buttons come first, then its label,
// then the group box itself.
void creation_order(const TForm& form, const TControl* container, std::vector<TControl*>& out) {
  for (TControl* control : ChildrenInTabOrder(form, container)) {
    if (control->Kind() == ControlKind::kGroupBox) creation_order(form, control, out);
    out.push_back(control);
  }
}

HWND create_control(HWND dialog, Showing& showing, const TControl& control, bool starts_group) {
  const wchar_t* window_class = L"BUTTON";
  DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  switch (control.Kind()) {
    case ControlKind::kGroupBox:
      style |= BS_GROUPBOX | WS_GROUP;
      break;
    case ControlKind::kLabel:
      window_class = L"STATIC";
      style |= SS_LEFT | SS_NOPREFIX | WS_GROUP;
      break;
    case ControlKind::kRadioButton:
      style |= BS_AUTORADIOBUTTON | (starts_group ? WS_GROUP : 0);  // tab stops: show_states
      break;
    case ControlKind::kCheckBox:
      style |= BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP;
      break;
    case ControlKind::kButton:
      style |= (static_cast<const TBitBtn&>(control).Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) |
               BS_BITMAP | WS_GROUP | WS_TABSTOP;
      break;
  }
  const std::wstring caption = wide(control.Caption);
  const HWND window =
      CreateWindowExW(0, window_class, caption.c_str(), style, control.FormLeft(),
                      control.FormTop(), control.Width, control.Height, dialog,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_of(showing.form, &control))),
                      GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) {
    const HFONT font = showing.fonts.Get(control.Font ? *control.Font : showing.form.Font);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (control.Kind() == ControlKind::kButton) {
      const HBITMAP face =
          showing.bitmaps.Keep(button_face(static_cast<const TBitBtn&>(control), font));
      SendMessageW(window, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(face));
    }
  }
  return window;
}

// The model decides: after any click every button shows its model's state.
void show_states(HWND dialog, const TForm& form) {
  for (const TControl* control : form.Controls()) {
    bool checked = false;
    if (control->Kind() == ControlKind::kRadioButton) {
      checked = static_cast<const TRadioButton*>(control)->Checked();
    } else if (control->Kind() == ControlKind::kCheckBox) {
      checked = static_cast<const TCheckBox*>(control)->Checked;
    } else {
      continue;
    }
    CheckDlgButton(dialog, id_of(form, control), checked ? BST_CHECKED : BST_UNCHECKED);
  }
  // Windows clicks an automatic radio button that takes the focus unchecked,
  // so the keyboard may only ever land on a checked one: a group's tab stop is
  // its checked button, and a group with nothing checked is passed over (the
  // mouse still reaches it). The arrow keys choose within a group, as usual.
  for (const TControl* control : form.Controls()) {
    if (control->Kind() != ControlKind::kRadioButton) continue;
    const HWND window = GetDlgItem(dialog, id_of(form, control));
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    const bool stop = static_cast<const TRadioButton*>(control)->Checked();
    const LONG_PTR wanted = stop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP);
    if (wanted != style) SetWindowLongPtrW(window, GWL_STYLE, wanted);
  }
}

// The first tab stop: the first group's checked button, else the next
// group's, else OK. Never a button that the focus itself would click.
HWND first_tab_stop(const std::vector<HWND>& windows) {
  for (const HWND window : windows) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    if ((style & WS_TABSTOP) != 0 && (style & WS_DISABLED) == 0) return window;
  }
  return nullptr;
}

void build(HWND dialog, Showing& showing) {
  const TForm& form = showing.form;
  SetWindowTextW(dialog, wide(form.Caption).c_str());
  SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(showing.fonts.Get(form.Font)), FALSE);

  std::vector<TControl*> order;
  creation_order(form, nullptr, order);
  HWND previous = HWND_TOP;
  const TControl* previous_control = nullptr;
  std::vector<HWND> windows;
  for (const TControl* control : order) {
    const bool starts_group = previous_control == nullptr ||
                              previous_control->Kind() != control->Kind() ||
                              previous_control->Parent() != control->Parent();
    const HWND window = create_control(dialog, showing, *control, starts_group);
    if (window == nullptr) continue;
    SetWindowPos(window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = window;
    previous_control = control;
    windows.push_back(window);
  }
  show_states(dialog, form);
  if (const TBitBtn* button = DefaultButton(form)) {
    SendMessageW(dialog, DM_SETDEFID, static_cast<WPARAM>(id_of(form, button)), 0);
  }

  RECT frame{0, 0, form.ClientWidth, form.ClientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, nullptr, form.Left, form.Top, frame.right - frame.left,
               frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
  if (const HWND focus = first_tab_stop(windows)) SetFocus(focus);
}

ModalResult result_of(const TBitBtn* button, ModalResult otherwise) {
  return button != nullptr && button->Result != ModalResult::kNone ? button->Result : otherwise;
}

void command(HWND dialog, Showing& showing, int id, int code) {
  TForm& form = showing.form;
  if (id == IDCANCEL) {  // Esc and the close box
    EndDialog(dialog, static_cast<INT_PTR>(result_of(CancelButton(form), ModalResult::kCancel)));
    return;
  }
  if (id == IDOK) {  // Enter with no default button of ours
    if (const TBitBtn* button = DefaultButton(form)) {
      EndDialog(dialog, static_cast<INT_PTR>(result_of(button, ModalResult::kOk)));
    }
    return;
  }
  TControl* control = control_of(form, id);
  if (control == nullptr || code != BN_CLICKED) return;
  if (control->Kind() == ControlKind::kCheckBox) {
    static_cast<TCheckBox*>(control)->Checked = IsDlgButtonChecked(dialog, id) == BST_CHECKED;
  } else if (const ModalResult result = Activate(*control); result != ModalResult::kNone) {
    EndDialog(dialog, static_cast<INT_PTR>(result));
    return;
  }
  show_states(dialog, form);
}

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  auto* showing = reinterpret_cast<Showing*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (showing == nullptr) return FALSE;
  // Nothing may unwind through the system's frames: a failure ends the
  // showing and is raised again once the dialog is gone.
  try {
    switch (message) {
      case WM_INITDIALOG:
        build(dialog, *showing);
        return FALSE;  // the focus is set
      case WM_COMMAND:
        command(dialog, *showing, LOWORD(wparam), HIWORD(wparam));
        return TRUE;
      default:
        return FALSE;
    }
  } catch (...) {
    showing->failure = std::current_exception();
    EndDialog(dialog, static_cast<INT_PTR>(ModalResult::kCancel));
    return TRUE;
  }
}

// A template with no items: the controls are made at WM_INITDIALOG.
std::vector<WORD> dialog_template(std::wstring_view font_name) {
  std::vector<WORD> words;
  const auto dword = [&words](DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  };
  dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
  dword(0);                                        // extended style
  words.push_back(0);                              // no items
  for (int i = 0; i < 4; ++i) words.push_back(0);  // position and size, set later
  words.push_back(0);                              // no menu
  words.push_back(0);                              // the standard dialog class
  words.push_back(0);                              // the title, set later
  words.push_back(kTemplateFontPoints);
  for (const wchar_t c : font_name) words.push_back(static_cast<WORD>(c));
  words.push_back(0);
  return words;
}

struct EnabledWindows {
  HWND owner;
  std::vector<HWND> windows;
};

BOOL CALLBACK collect_enabled_window(HWND window, LPARAM found) {
  auto& enabled = *reinterpret_cast<EnabledWindows*>(found);
  if (window != enabled.owner && IsWindowVisible(window) != FALSE &&
      IsWindowEnabled(window) != FALSE) {
    enabled.windows.push_back(window);
  }
  return TRUE;
}

// The dialog disables only its owner, and a toolkit's owner is often a hidden
// application window: the host's forms, and their menus, would stay usable
// and could open the dialog again. Modal means the thread's other windows
// wait, as the toolkit's own modal forms make them. The owner is the
// dialog's to disable and enable, so that it is active again afterwards.
class OtherWindowsDisabled {
 public:
  explicit OtherWindowsDisabled(HWND owner) {
    EnabledWindows enabled{owner, {}};
    EnumThreadWindows(GetCurrentThreadId(), &collect_enabled_window,
                      reinterpret_cast<LPARAM>(&enabled));
    windows_ = std::move(enabled.windows);
    for (const HWND window : windows_) EnableWindow(window, FALSE);
  }
  OtherWindowsDisabled(const OtherWindowsDisabled&) = delete;
  OtherWindowsDisabled& operator=(const OtherWindowsDisabled&) = delete;
  ~OtherWindowsDisabled() {
    for (const HWND window : windows_) {
      if (IsWindow(window) != FALSE) EnableWindow(window, TRUE);
    }
  }

 private:
  std::vector<HWND> windows_;
};

class Win32Runner final : public ModalRunner {
 public:
  ModalResult ShowModal(TForm& form) const override {
    Showing showing{form};
    const std::vector<WORD> words = dialog_template(wide(form.Font.Name));
    const auto owner = static_cast<HWND>(Application().Handle());
    const OtherWindowsDisabled others(owner);
    const INT_PTR result = DialogBoxIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), owner,
        &dialog_procedure, reinterpret_cast<LPARAM>(&showing));
    if (showing.failure) std::rethrow_exception(showing.failure);
    switch (result) {
      case static_cast<INT_PTR>(ModalResult::kOk):
        return ModalResult::kOk;
      case static_cast<INT_PTR>(ModalResult::kCancel):
        return ModalResult::kCancel;
      default:  // -1 when the dialog could not be made
        return ModalResult::kNone;
    }
  }
};

}  // namespace

const ModalRunner& NativeModalRunner() {
  static const Win32Runner runner;
  return runner;
}

}  // namespace zarvo::forms
