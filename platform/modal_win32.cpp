// The native runner on Windows: a modal dialog built in memory and owned by
// the host's application window. Controls are created at their exact pixel
// positions rather than from the template's dialog units, and every click
// goes through the form's model, which then decides what the controls show.
#include <windows.h>

#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/application.h"
#include "platform/modal_runner.h"

namespace zarvo::platform {
namespace {

constexpr int kFirstControlId = 1000;
constexpr WORD kTemplateFontPoints = 8;  // Tahoma 8 pt is 11 pixels at 96 dpi

std::wstring wide(std::string_view cp1251) {
  if (cp1251.empty()) return {};
  const int size = static_cast<int>(cp1251.size());
  const int length = MultiByteToWideChar(1251, 0, cp1251.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(1251, 0, cp1251.data(), size, text.data(), length);
  return text;
}

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

struct Showing {
  TForm& form;
  Fonts fonts;
  std::exception_ptr failure;
};

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
               WS_GROUP | WS_TABSTOP;
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
  // Checking a radio button moves the group's tab stop to it, and unchecking
  // takes it away: a group with nothing checked keeps its first button reachable.
  for (const TControl* control : form.Controls()) {
    if (control->Kind() != ControlKind::kGroupBox) continue;
    const TControl* first = nullptr;
    const TControl* checked = nullptr;
    for (const TControl* child : ChildrenInTabOrder(form, control)) {
      if (child->Kind() != ControlKind::kRadioButton) continue;
      if (first == nullptr) first = child;
      if (checked == nullptr && static_cast<const TRadioButton*>(child)->Checked()) checked = child;
    }
    const TControl* stop = checked != nullptr ? checked : first;
    for (const TControl* child : ChildrenInTabOrder(form, control)) {
      if (child->Kind() != ControlKind::kRadioButton) continue;
      const HWND window = GetDlgItem(dialog, id_of(form, child));
      const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
      const LONG_PTR wanted = child == stop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP);
      if (wanted != style) SetWindowLongPtrW(window, GWL_STYLE, wanted);
    }
  }
}

void build(HWND dialog, Showing& showing) {
  const TForm& form = showing.form;
  SetWindowTextW(dialog, wide(form.Caption).c_str());
  SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(showing.fonts.Get(form.Font)), FALSE);

  std::vector<TControl*> order;
  creation_order(form, nullptr, order);
  HWND previous = HWND_TOP;
  const TControl* previous_control = nullptr;
  HWND first_focus = nullptr;
  for (const TControl* control : order) {
    const bool starts_group = previous_control == nullptr ||
                              previous_control->Kind() != control->Kind() ||
                              previous_control->Parent() != control->Parent();
    const HWND window = create_control(dialog, showing, *control, starts_group);
    if (window == nullptr) continue;
    SetWindowPos(window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = window;
    previous_control = control;
    const bool focusable = control->Kind() == ControlKind::kRadioButton ||
                           control->Kind() == ControlKind::kCheckBox ||
                           control->Kind() == ControlKind::kButton;
    if (focusable && first_focus == nullptr) first_focus = window;
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
  if (first_focus != nullptr) SetFocus(first_focus);
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

class Win32Runner final : public ModalRunner {
 public:
  ModalResult ShowModal(TForm& form) const override {
    Showing showing{form, {}, nullptr};
    const std::vector<WORD> words = dialog_template(wide(form.Font.Name));
    const auto owner = static_cast<HWND>(Application().Handle());
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

}  // namespace zarvo::platform
