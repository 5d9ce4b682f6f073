// The control operations on real controls: a control is its dialog's
// child with that id, as GetDlgItem finds it.
#include <vector>

#include "platform/win32/ui_internal.h"

namespace {

HWND Control(plat::Window dialog, int id) {
  // Controls without an id of their own (-1) cannot be addressed.
  if (id == -1) {
    ::SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
  }
  return ::GetDlgItem(reinterpret_cast<HWND>(dialog), id);
}

enum class ListKind { kNone, kListBox, kComboBox };

ListKind KindOf(HWND control) {
  wchar_t name[32] = {};
  if (control == nullptr || ::GetClassNameW(control, name, 32) == 0) return ListKind::kNone;
  if (lstrcmpiW(name, L"ComboBox") == 0) return ListKind::kComboBox;
  if (lstrcmpiW(name, L"ListBox") == 0) return ListKind::kListBox;
  return ListKind::kNone;
}

// The list control and its message numbers; null when the control has no lines.
struct List {
  HWND window = nullptr;
  bool combo = false;
  UINT Msg(UINT list_message, UINT combo_message) const { return combo ? combo_message : list_message; }
};

List ListControl(plat::Window dialog, int id) {
  HWND control = Control(dialog, id);
  if (control == nullptr) return {};
  switch (KindOf(control)) {
    case ListKind::kListBox: return {control, false};
    case ListKind::kComboBox: return {control, true};
    case ListKind::kNone: break;
  }
  ::SetLastError(ERROR_INVALID_PARAMETER);
  return {};
}

std::u16string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), got > 0 ? static_cast<size_t>(got) : 0);
}

}  // namespace

namespace plat {

void SetDialogData(Window dialog, intptr_t data) {
  ::SetPropW(reinterpret_cast<HWND>(dialog), win32::ui::kDialogDataProp, reinterpret_cast<HANDLE>(data));
}

intptr_t GetDialogData(Window dialog) {
  return reinterpret_cast<intptr_t>(::GetPropW(reinterpret_cast<HWND>(dialog), win32::ui::kDialogDataProp));
}

void ShowControl(Window dialog, int id, bool shown) {
  if (HWND control = Control(dialog, id)) ::ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

// The control's own state: a control on a page behind another still counts
// as shown.
bool IsControlShown(Window dialog, int id) {
  HWND control = Control(dialog, id);
  return control != nullptr && (::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

void FocusControl(Window dialog, int id) {
  HWND control = Control(dialog, id);
  if (control != nullptr) ::SendMessageW(reinterpret_cast<HWND>(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

bool IsControlEnabled(Window dialog, int id) {
  HWND control = Control(dialog, id);
  return control != nullptr && ::IsWindowEnabled(control);
}

void EnableControl(Window dialog, int id, bool enabled) {
  if (HWND control = Control(dialog, id)) ::EnableWindow(control, enabled);
}

void SetControlText(Window dialog, int id, const std::u16string& text) {
  if (HWND control = Control(dialog, id)) ::SetWindowTextW(control, win32::W(text));
}

std::u16string GetControlText(Window dialog, int id) {
  HWND control = Control(dialog, id);
  return control != nullptr ? WindowText(control) : std::u16string();
}

void ClearLines(Window dialog, int id) {
  const List list = ListControl(dialog, id);
  if (list.window != nullptr) ::SendMessageW(list.window, list.Msg(LB_RESETCONTENT, CB_RESETCONTENT), 0, 0);
}

int AddLine(Window dialog, int id, const std::u16string& text, intptr_t code) {
  const List list = ListControl(dialog, id);
  if (list.window == nullptr) return -1;
  const LRESULT line = ::SendMessageW(list.window, list.Msg(LB_ADDSTRING, CB_ADDSTRING), 0,
                                      reinterpret_cast<LPARAM>(win32::W(text)));
  if (line < 0) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  ::SendMessageW(list.window, list.Msg(LB_SETITEMDATA, CB_SETITEMDATA), static_cast<WPARAM>(line),
                 static_cast<LPARAM>(code));
  return static_cast<int>(line);
}

int GetLineCount(Window dialog, int id) {
  const List list = ListControl(dialog, id);
  if (list.window == nullptr) return -1;
  return static_cast<int>(::SendMessageW(list.window, list.Msg(LB_GETCOUNT, CB_GETCOUNT), 0, 0));
}

std::u16string GetLineText(Window dialog, int id, int line) {
  const List list = ListControl(dialog, id);
  if (list.window == nullptr) return {};
  const LRESULT length = ::SendMessageW(list.window, list.Msg(LB_GETTEXTLEN, CB_GETLBTEXTLEN), line, 0);
  if (line < 0 || length < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT got = ::SendMessageW(list.window, list.Msg(LB_GETTEXT, CB_GETLBTEXT), line,
                                     reinterpret_cast<LPARAM>(text.data()));
  if (got < 0) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), static_cast<size_t>(got));
}

intptr_t GetLineCode(Window dialog, int id, int line) {
  const List list = ListControl(dialog, id);
  if (list.window == nullptr) return -1;
  if (line < 0 || line >= GetLineCount(dialog, id)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  return static_cast<intptr_t>(::SendMessageW(list.window, list.Msg(LB_GETITEMDATA, CB_GETITEMDATA), line, 0));
}

int GetSelectedLine(Window dialog, int id) {
  const List list = ListControl(dialog, id);
  if (list.window == nullptr) return -1;
  const LRESULT line = ::SendMessageW(list.window, list.Msg(LB_GETCURSEL, CB_GETCURSEL), 0, 0);
  return line < 0 ? -1 : static_cast<int>(line);
}

void SelectLine(Window dialog, int id, int line) {
  const List list = ListControl(dialog, id);
  if (list.window != nullptr) ::SendMessageW(list.window, list.Msg(LB_SETCURSEL, CB_SETCURSEL), line, 0);
}

int FindLine(Window dialog, int id, int start, const std::u16string& text) {
  const List list = ListControl(dialog, id);
  if (list.window == nullptr) return -1;
  const LRESULT line = ::SendMessageW(list.window, list.Msg(LB_FINDSTRINGEXACT, CB_FINDSTRINGEXACT),
                                      static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(win32::W(text)));
  return line < 0 ? -1 : static_cast<int>(line);
}

bool IsChecked(Window dialog, int id) {
  return ::IsDlgButtonChecked(reinterpret_cast<HWND>(dialog), id) == BST_CHECKED;
}

void SetChecked(Window dialog, int id, bool checked) {
  ::CheckDlgButton(reinterpret_cast<HWND>(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void SetSliderRange(Window dialog, int id, int minimum, int maximum) {
  HWND control = Control(dialog, id);
  if (control == nullptr) return;
  ::SendMessageW(control, TBM_SETRANGEMIN, FALSE, minimum);
  ::SendMessageW(control, TBM_SETRANGEMAX, TRUE, maximum < minimum ? minimum : maximum);
}

void SetSliderPosition(Window dialog, int id, int position) {
  if (HWND control = Control(dialog, id)) ::SendMessageW(control, TBM_SETPOS, TRUE, position);
}

int GetSliderPosition(Window dialog, int id) {
  HWND control = Control(dialog, id);
  return control != nullptr ? static_cast<int>(::SendMessageW(control, TBM_GETPOS, 0, 0)) : 0;
}

}  // namespace plat
