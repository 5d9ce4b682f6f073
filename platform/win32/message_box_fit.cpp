// Message boxes that fit the screen. The system sizes a box by its text on a
// line of its own choosing, which on a screen of the device's size (240
// pixels wide) is wider than the screen: the caption and every line are
// cut at both edges. A box that the system makes wider than the work area
// is laid out again before it shows: its text wraps within the screen, its
// buttons stay under it, and it is centred.
#include <algorithm>
#include <vector>

#include "platform/win32/ui_internal.h"

namespace {

const wchar_t kOriginalProc[] = L"Quadrakey.MessageBoxProc";
// A narrower text would wrap into a column of single words.
constexpr int kNarrowestText = 80;

struct Catching {
  HHOOK hook = nullptr;
  bool caught = false;
};
Catching* catching = nullptr;  // the innermost box being opened on this thread

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t found[16] = {};
  ::GetClassNameW(window, found, 16);
  return lstrcmpiW(found, name) == 0;
}

// The box's text: its static control that is no icon and holds text.
HWND TextControl(HWND box) {
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!IsClass(child, L"Static") || (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    if (::GetWindowTextLengthW(child) > 0) return child;
  }
  return nullptr;
}

// The height the control's text takes, wrapped at `width`.
int WrappedHeight(HWND control, int width) {
  const int length = ::GetWindowTextLengthW(control);
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  ::GetWindowTextW(control, text.data(), length + 1);
  HDC dc = ::GetDC(control);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT need = {0, 0, width, 0};
  UINT format = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
  if (::GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) format |= DT_NOPREFIX;
  ::DrawTextW(dc, text.data(), -1, &need, format);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  return need.bottom;
}

void FitToWorkArea(HWND box) {
  RECT work;
  if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;
  RECT outer;
  ::GetWindowRect(box, &outer);
  const int room = work.right - work.left;
  const int excess = (outer.right - outer.left) - room;
  HWND text = TextControl(box);
  if (excess <= 0 || text == nullptr) return;
  const RECT text_box = win32::ui::PlaceIn(text, box);
  const int text_width = (text_box.right - text_box.left) - excess;
  if (text_width < kNarrowestText) return;

  const int grow = WrappedHeight(text, text_width) - (text_box.bottom - text_box.top);
  ::SetWindowPos(text, nullptr, text_box.left, text_box.top, text_width, text_box.bottom - text_box.top + grow,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  // The buttons: below the text as before, centred in the narrower box.
  RECT client;
  ::GetClientRect(box, &client);
  const int client_width = client.right - excess;
  std::vector<HWND> buttons;
  RECT row = {};
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!IsClass(child, L"Button")) continue;
    const RECT place = win32::ui::PlaceIn(child, box);
    if (buttons.empty()) row = place;
    ::UnionRect(&row, &row, &place);
    buttons.push_back(child);
  }
  const int shift = (client_width - (row.right - row.left)) / 2 - row.left;
  for (HWND button : buttons) {
    const RECT place = win32::ui::PlaceIn(button, box);
    const int down = place.top >= text_box.bottom ? std::max(grow, 0) : 0;
    ::SetWindowPos(button, nullptr, place.left + shift, place.top + down, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const int width = room;
  const int height = (outer.bottom - outer.top) + std::max(grow, 0);
  const int top = static_cast<int>(work.top) + std::max(0, static_cast<int>(work.bottom - work.top - height) / 2);
  ::SetWindowPos(box, nullptr, work.left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The box's own procedure first: it lays the box out at WM_INITDIALOG.
LRESULT CALLBACK FittingProc(HWND box, UINT message, WPARAM wparam, LPARAM lparam) {
  auto original = reinterpret_cast<WNDPROC>(::GetPropW(box, kOriginalProc));
  if (original == nullptr) return ::DefWindowProcW(box, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    ::RemovePropW(box, kOriginalProc);
    return ::CallWindowProcW(original, box, message, wparam, lparam);
  }
  const LRESULT result = ::CallWindowProcW(original, box, message, wparam, lparam);
  if (message == WM_INITDIALOG) FitToWorkArea(box);
  return result;
}

LRESULT CALLBACK CatchBox(int code, WPARAM wparam, LPARAM lparam) {
  Catching* current = catching;
  if (code == HCBT_CREATEWND && current != nullptr && !current->caught) {
    HWND window = reinterpret_cast<HWND>(wparam);
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs;
    if (!(create->style & WS_CHILD) && IsClass(window, L"#32770")) {
      current->caught = true;
      ::SetPropW(window, kOriginalProc, reinterpret_cast<HANDLE>(::GetWindowLongPtrW(window, GWLP_WNDPROC)));
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FittingProc));
    }
  }
  return ::CallNextHookEx(current != nullptr ? current->hook : nullptr, code, wparam, lparam);
}

}  // namespace

namespace win32::ui {

RECT PlaceIn(HWND window, HWND parent) {
  RECT box;
  ::GetWindowRect(window, &box);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&box), 2);
  return box;
}

int FittedMessageBox(HWND owner, const std::u16string& text, const std::u16string* caption, UINT flags) {
  Catching here;
  Catching* outer = catching;
  here.hook = ::SetWindowsHookExW(WH_CBT, CatchBox, nullptr, ::GetCurrentThreadId());
  catching = &here;
  const int answer =
      ::MessageBoxW(owner, W(text), caption != nullptr ? W(*caption) : nullptr, flags);
  const DWORD error = ::GetLastError();
  catching = outer;
  if (here.hook != nullptr) ::UnhookWindowsHookEx(here.hook);
  ::SetLastError(error);
  return answer;
}

}  // namespace win32::ui
