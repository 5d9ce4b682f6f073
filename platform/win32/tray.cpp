// The notification-area icon, the press notice and texts handed between
// programs.
//
// The icon belongs to a hidden top-level window of its own: a message-only
// window hears neither "TaskbarCreated" (a restarted taskbar has lost every
// icon) nor the end of the session, which reach top-level windows only. It
// hands what it hears to the window that showed the icon.
#include "platform/win32/win32_api.h"

#include <algorithm>
#include <vector>

#include "platform/common/shell_text.h"
#include "platform/ui.h"

namespace {

constexpr wchar_t kTrayClass[] = L"Velbrook_QuadrakeyTrayIcon";
constexpr wchar_t kNoticeClass[] = L"Velbrook_QuadrakeyNotice";
constexpr UINT kWmIconCallback = WM_APP + 20;
constexpr UINT kIconId = 1;
constexpr UINT_PTR kNoticeTimer = 1;
constexpr UINT kTakeLimitMs = 1000;
constexpr int kNoticeMargin = 12;
constexpr int kNoticePadding = 12;

struct Icon {
  HWND owner = nullptr;
  HWND tray = nullptr;
  std::u16string tip;
  std::vector<plat::TrayMenuItem> menu;
  bool added = false;
};

Icon& TheIcon() {
  static Icon icon;
  return icon;
}

HWND notice_window = nullptr;
std::u16string notice_text;  // as it is drawn

UINT TaskbarCreatedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

HICON ProgramIcon() {
  HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  return icon != nullptr ? icon : ::LoadIconW(nullptr, IDI_APPLICATION);
}

bool Notify(Icon& icon, DWORD action) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = icon.tray;
  data.uID = kIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kWmIconCallback;
  data.hIcon = ProgramIcon();
  const size_t chars = std::min(icon.tip.size(), static_cast<size_t>(ARRAYSIZE(data.szTip) - 1));
  std::copy_n(icon.tip.c_str(), chars, reinterpret_cast<char16_t*>(data.szTip));
  data.szTip[chars] = L'\0';
  if (::Shell_NotifyIconW(action, &data)) return true;
  if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

// Adds the icon, or changes the one there; true when it shows.
bool Place(Icon& icon) {
  if (icon.added && Notify(icon, NIM_MODIFY)) return true;
  icon.added = Notify(icon, NIM_ADD);
  return icon.added;
}

void OpenMenu(Icon& icon) {
  HMENU menu = ::CreatePopupMenu();
  if (menu == nullptr) return;
  for (const plat::TrayMenuItem& item : icon.menu) {
    if (item.command == 0 && item.text.empty()) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      // A single '&' would mark the next letter as the item's access key.
      std::u16string text;
      for (char16_t c : item.text) text += c == u'&' ? u"&&" : std::u16string(1, c);
      ::AppendMenuW(menu, item.command == 0 ? MF_STRING | MF_GRAYED : MF_STRING, item.command, win32::W(text));
    }
  }
  POINT at = {};
  ::GetCursorPos(&at);
  // Without the foreground the menu would not close when a person clicks elsewhere.
  ::SetForegroundWindow(icon.tray);
  const UINT chosen = static_cast<UINT>(
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0,
                       icon.tray, nullptr));
  ::PostMessageW(icon.tray, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
  if (chosen != 0) ::SendMessageW(icon.owner, win32::kWmTrayCommand, chosen, 0);
}

LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Icon& icon = TheIcon();
  if (window == icon.tray) {
    if (message == TaskbarCreatedMessage() && message != 0) {
      icon.added = false;
      Place(icon);
      return 0;
    }
    switch (message) {
      case kWmIconCallback:
        if (lparam == WM_RBUTTONUP || lparam == WM_LBUTTONUP || lparam == WM_CONTEXTMENU) OpenMenu(icon);
        return 0;
      case WM_QUERYENDSESSION:
        return TRUE;
      case WM_ENDSESSION:
        if (wparam != 0 && icon.owner != nullptr) ::SendMessageW(icon.owner, win32::kWmSessionEnd, 0, 0);
        return 0;
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool MakeTrayWindow(Icon& icon) {
  if (icon.tray != nullptr) return true;
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = TrayProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = kTrayClass;
  if (!::RegisterClassW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  icon.tray = ::CreateWindowExW(WS_EX_TOOLWINDOW, kTrayClass, L"Quadrakey", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  return icon.tray != nullptr;
}

HFONT NoticeFont() {
  static HFONT font = [] {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      return ::CreateFontIndirectW(&metrics.lfMessageFont);
    return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }();
  return font;
}

LRESULT CALLBACK NoticeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_LBUTTONDOWN:
    case WM_TIMER:
      ::KillTimer(window, kNoticeTimer);
      ::ShowWindow(window, SW_HIDE);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      RECT area;
      ::GetClientRect(window, &area);
      ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_INFOBK));
      HGDIOBJ old_font = ::SelectObject(dc, NoticeFont());
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, ::GetSysColor(COLOR_INFOTEXT));
      ::DrawTextW(dc, win32::W(notice_text), static_cast<int>(notice_text.size()), &area,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(dc, old_font);
      ::EndPaint(window, &paint);
      return 0;
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool MakeNoticeWindow() {
  if (notice_window != nullptr) return true;
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = NoticeProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kNoticeClass;
  if (!::RegisterClassW(&window_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  // Topmost and never active: a notice must not take a key from the program
  // the person works in. Owned by the icon's window, it gets no taskbar
  // button of its own either.
  notice_window = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kNoticeClass, L"",
                                    WS_POPUP | WS_BORDER, 0, 0, 0, 0, TheIcon().tray, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
  return notice_window != nullptr;
}

// A character the notice's font cannot draw would show as an empty box: the
// arrow becomes "->" then (the window's title keeps the text as it is).
std::u16string Drawable(HDC dc, const std::u16string& text) {
  std::u16string drawn;
  for (char16_t c : text) {
    WORD glyph = 0;
    if (c == u'\u2192' && (::GetGlyphIndicesW(dc, reinterpret_cast<const wchar_t*>(&c), 1, &glyph,
                                               GGI_MARK_NONEXISTING_GLYPHS) != 1 ||
                           glyph == 0xFFFF)) {
      drawn += u"->";
    } else {
      drawn += c;
    }
  }
  return drawn;
}

}  // namespace

namespace plat {

bool ShowTrayIcon(Window window, const std::u16string& tip, const std::vector<TrayMenuItem>& menu) {
  common::FaultGate gate(faults::Op::TrayIcon);
  Icon& icon = TheIcon();
  HWND owner = reinterpret_cast<HWND>(window);
  DWORD process = 0;
  if (owner == nullptr || ::GetWindowThreadProcessId(owner, &process) == 0 || process != ::GetCurrentProcessId())
    return win32::Fail(ERROR_INVALID_WINDOW_HANDLE);
  for (const TrayMenuItem& item : menu)
    if (item.command > 0xFFFF) return win32::Fail(ERROR_INVALID_PARAMETER);
  icon.owner = owner;
  icon.tip = plat::common::OneLine(tip, plat::kTrayTipChars);
  icon.menu = menu;
  // The window that hears the session end is made even when no icon can show.
  if (!MakeTrayWindow(icon)) {
    // Wine without a display fails to make any window and says nothing.
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  if (gate.failed()) return false;
  return Place(icon);
}

void RemoveTrayIcon(Window window) {
  Icon& icon = TheIcon();
  if (icon.owner != reinterpret_cast<HWND>(window)) return;
  const DWORD saved = ::GetLastError();
  if (icon.added) Notify(icon, NIM_DELETE);
  icon.added = false;
  if (icon.tray != nullptr) ::DestroyWindow(icon.tray);
  icon.tray = nullptr;
  icon.owner = nullptr;
  ::SetLastError(saved);
}

bool ShowNotice(Window window, const std::u16string& text, uint32_t ms) {
  DWORD process = 0;
  if (window == 0 || ::GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &process) == 0 ||
      process != ::GetCurrentProcessId())
    return win32::Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (!MakeNoticeWindow()) return false;
  const std::u16string line = plat::common::OneLine(text, plat::kNoticeChars);
  // The title is the text: what a person's screen reader, and a test, find it by.
  ::SetWindowTextW(notice_window, win32::W(line));
  notice_text = line;
  HDC dc = ::GetDC(notice_window);
  SIZE size = {200, 16};
  if (dc != nullptr) {
    HGDIOBJ old_font = ::SelectObject(dc, NoticeFont());
    notice_text = Drawable(dc, line);
    ::GetTextExtentPoint32W(dc, win32::W(notice_text), static_cast<int>(notice_text.size()), &size);
    ::SelectObject(dc, old_font);
    ::ReleaseDC(notice_window, dc);
  }
  const WorkArea area = GetWorkArea();
  const int width = std::min(static_cast<int>(size.cx) + 2 * kNoticePadding, area.width - 2 * kNoticeMargin);
  const int height = static_cast<int>(size.cy) + 2 * kNoticePadding;
  // Above the notification area, in the work area's far corner.
  const int left = area.left + area.width - width - kNoticeMargin;
  const int top = area.top + area.height - height - kNoticeMargin;
  ::SetWindowPos(notice_window, HWND_TOPMOST, left, top, width, height, SWP_NOACTIVATE | SWP_SHOWWINDOW);
  ::InvalidateRect(notice_window, nullptr, TRUE);
  ::SetTimer(notice_window, kNoticeTimer, std::max<uint32_t>(ms, 100), nullptr);
  return true;
}

bool SendWindowText(Window window, uintptr_t code, const std::u16string& text) {
  if (text.size() > plat::kSentTextChars) return win32::Fail(ERROR_INVALID_PARAMETER);
  HWND target = reinterpret_cast<HWND>(window);
  if (target == nullptr || !::IsWindow(target)) return win32::Fail(ERROR_INVALID_WINDOW_HANDLE);
  COPYDATASTRUCT data = {};
  data.dwData = code;
  data.cbData = static_cast<DWORD>(text.size() * sizeof(char16_t));
  data.lpData = const_cast<char16_t*>(text.data());
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                            kTakeLimitMs, &result) != 0)
    return true;
  const DWORD error = ::GetLastError();
  return win32::Fail(error == ERROR_SUCCESS || error == ERROR_TIMEOUT ? ERROR_TIMEOUT
                                                                       : (::IsWindow(target) ? error : ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace plat
