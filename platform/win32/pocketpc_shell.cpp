// The Pocket PC shell's calls: the input panel, the application-key query,
// shell dialogs with their Done button, the empty menu bar and the extra
// dialog controls. A Windows CE SDK build calls the shell library itself;
// the desktop has none of it, so it gets the equivalents below.
#include "platform/win32/ui_internal.h"

#include <algorithm>
#include <vector>

#ifdef _WIN32_WCE
#include <aygshell.h>

namespace win32::ui::shell {

bool InitDialog(HWND dialog, DWORD flags) {
  SHINITDLGINFO info = {};
  info.dwMask = SHIDIM_FLAGS;
  info.hDlg = dialog;
  info.dwFlags = flags;
  return ::SHInitDialog(&info) != FALSE;
}

bool CreateEmptyMenuBar(HWND owner, HINSTANCE instance) {
  SHMENUBARINFO info = {};
  info.cbSize = sizeof info;
  info.hwndParent = owner;
  info.dwFlags = SHCMBF_EMPTYBAR;
  info.hInstRes = instance;
  return ::SHCreateMenuBar(&info) != FALSE;
}

bool InitExtraControls() { return ::SHInitExtraControls() != FALSE; }

}  // namespace win32::ui::shell

namespace plat {

bool ShSipInfo(uint32_t action, uint32_t param, SipInfo* info, uint32_t win_ini) {
  return ::SHSipInfo(action, param, info, win_ini) != FALSE;
}

bool ShSipPreference(Window window, int request) {
  return ::SHSipPreference(reinterpret_cast<HWND>(window), static_cast<SIPSTATE>(request)) != FALSE;
}

uint8_t GetAppKey(const std::u16string& program_file_name) {
  return ::SHGetAppKeyAssoc(win32::W(program_file_name));
}

}  // namespace plat

#else

namespace {

// The desktop's stand-in panel state lives in the registry, not in the
// process: each press is a new launcher process, and a toggle must see
// what the previous one did.
const wchar_t kPanelKey[] = L"Software\\Quadrakey\\Desktop";
const wchar_t kPanelValue[] = L"InputPanelShown";

bool PanelShown() {
  DWORD shown = 0;
  DWORD size = sizeof shown;
  DWORD type = 0;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPanelKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  LONG result = ::RegQueryValueExW(key, kPanelValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&shown), &size);
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD && shown != 0;
}

bool SetPanelShown(bool shown) {
  HKEY key = nullptr;
  LONG result = ::RegCreateKeyExW(HKEY_CURRENT_USER, kPanelKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return win32::Fail(static_cast<DWORD>(result));
  DWORD value = shown ? 1 : 0;
  result = ::RegSetValueExW(key, kPanelValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value);
  ::RegCloseKey(key);
  return win32::FromRegResult(result);
}

}  // namespace

namespace plat {

bool ShSipInfo(uint32_t action, uint32_t /*param*/, SipInfo* info, uint32_t /*win_ini*/) {
  if (action != kSpiGetSipInfo || info == nullptr || info->size != sizeof(SipInfo))
    return win32::Fail(ERROR_INVALID_PARAMETER);
  if (PanelShown())
    info->flags |= kSipfOn;
  else
    info->flags &= ~kSipfOn;
  return true;
}

bool ShSipPreference(Window /*window*/, int request) {
  if (request == kSipUp) return SetPanelShown(true);
  if (request == kSipForceDown) return SetPanelShown(false);
  return true;  // the other requests leave the panel as it is
}

// The desktop has no button table, so no program has an application key.
uint8_t GetAppKey(const std::u16string& /*program_file_name*/) { return 0; }

}  // namespace plat

namespace win32::ui::shell {
namespace {

const wchar_t kSipPrefClass[] = L"SIPPREF";

// The desktop's Done: OK (id 1) and Cancel (id 2), in the dialog's font.
constexpr int kButtonWidth = 50, kButtonHeight = 14, kButtonMargin = 4;  // dialog units

HWND AddButton(HWND dialog, int id, const wchar_t* text, DWORD style) {
  HWND button = ::CreateWindowExW(0, L"Button", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 0,
                                  0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
  if (button != nullptr) ::SendMessageW(button, WM_SETFONT, ::SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
  return button;
}

// Puts OK and Cancel at the bottom right; with `grow`, the dialog grows
// when they would cover what its template shows.
void PlaceDoneButtons(HWND dialog, HWND ok, HWND cancel, bool grow) {
  RECT units = {kButtonMargin, kButtonMargin, kButtonWidth, kButtonHeight};
  ::MapDialogRect(dialog, &units);
  const int margin_x = units.left, margin_y = units.top, width = units.right, height = units.bottom;
  // The lowest control the template shows.
  int content_bottom = 0;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (child == ok || child == cancel || !(::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) continue;
    RECT box;
    ::GetWindowRect(child, &box);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    if (box.bottom > content_bottom) content_bottom = box.bottom;
  }
  RECT client;
  ::GetClientRect(dialog, &client);
  const int needed = content_bottom + 2 * margin_y + height;
  if (grow && client.bottom < needed) {
    RECT frame;
    ::GetWindowRect(dialog, &frame);
    ::SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + needed - client.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::GetClientRect(dialog, &client);
  }
  const int y = client.bottom - margin_y - height;
  const int cancel_x = client.right - margin_x - width;
  ::SetWindowPos(cancel, nullptr, cancel_x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowPos(ok, nullptr, cancel_x - margin_x - width, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// What the template shows, with its margin, and room below for the
// buttons: the content a full-screen dialog may have to scroll.
SIZE ContentExtent(HWND dialog, const std::vector<HWND>& buttons) {
  RECT units = {kButtonMargin, kButtonMargin, 0, kButtonHeight};
  ::MapDialogRect(dialog, &units);
  SIZE extent = {0, 0};
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (std::find(buttons.begin(), buttons.end(), child) != buttons.end()) continue;
    if (!(::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) continue;
    RECT box;
    ::GetWindowRect(child, &box);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    extent.cx = std::max(extent.cx, box.right);
    extent.cy = std::max(extent.cy, box.bottom);
  }
  extent.cx += units.left;
  extent.cy += units.top;
  if (!buttons.empty()) extent.cy += units.bottom + 2 * units.top;
  return extent;
}

// A PC's dialog: as large as what it shows (within the work area; more
// scrolls), in the middle of its owner.
void FitOnPc(HWND dialog, const std::vector<HWND>& buttons) {
  RECT area;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const SIZE extent = ContentExtent(dialog, buttons);
  RECT frame, client;
  ::GetWindowRect(dialog, &frame);
  ::GetClientRect(dialog, &client);
  const LONG width = std::min(frame.right - frame.left + std::max<LONG>(0, extent.cx - client.right),
                              area.right - area.left);
  const LONG height = std::min(frame.bottom - frame.top + std::max<LONG>(0, extent.cy - client.bottom),
                               area.bottom - area.top);
  RECT around = area;
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &around);
  LONG left = around.left + (around.right - around.left - width) / 2;
  LONG top = around.top + (around.bottom - around.top - height) / 2;
  left = std::max(area.left, std::min(left, area.right - width));
  top = std::max(area.top, std::min(top, area.bottom - height));
  ::SetWindowPos(dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  win32::ui::FitContent(dialog, extent, buttons);
}

}  // namespace

bool InitDialog(HWND dialog, DWORD flags) {
  if (!::IsWindow(dialog)) return win32::Fail(ERROR_INVALID_WINDOW_HANDLE);
  // A page lives in its sheet, which is the full-screen shell dialog.
  if (::GetWindowLongW(dialog, GWL_STYLE) & WS_CHILD) return true;
  // A PC's dialogs are ordinary windows, not the device's full screen.
  const bool full_screen = !win32::kOnPc && (flags & (kFullScreen | kFullScreenNoMenuBar)) != 0;
  if (full_screen) {
    RECT area;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    ::SetWindowPos(dialog, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // A dialog with a button of id 1 (a property sheet's OK) has its Done,
  // and lays itself out (a PC's sheet sizes itself to its pages).
  if (::GetDlgItem(dialog, IDOK) != nullptr) {
    if (win32::kOnPc && ::FindWindowExW(dialog, nullptr, WC_TABCONTROLW, nullptr) == nullptr) FitOnPc(dialog, {});
    return true;
  }
  std::vector<HWND> buttons;
  if (flags & kDoneButton) {
    HWND ok = AddButton(dialog, IDOK, L"OK", BS_DEFPUSHBUTTON);
    HWND cancel = AddButton(dialog, IDCANCEL, L"Cancel", BS_PUSHBUTTON);
    if (ok == nullptr || cancel == nullptr) return false;
    buttons = {ok, cancel};
  }
  // The desktop's dialog units are wider than the device's: on a screen of
  // the device's size, what the template shows scrolls under the buttons.
  if (full_screen) win32::ui::FitContent(dialog, ContentExtent(dialog, buttons), buttons);
  if (win32::kOnPc) FitOnPc(dialog, buttons);
  if (!buttons.empty()) PlaceDoneButtons(dialog, buttons[0], buttons[1], !full_screen && !win32::kOnPc);
  return true;
}

bool CreateEmptyMenuBar(HWND owner, HINSTANCE /*instance*/) {
  if (!::IsWindow(owner)) return win32::Fail(ERROR_INVALID_WINDOW_HANDLE);
  return true;
}

bool InitExtraControls() {
  WNDCLASSW control = {};
  // Dialogs of any module name it: a global class.
  control.style = CS_GLOBALCLASS;
  control.lpfnWndProc = ::DefWindowProcW;
  control.hInstance = ::GetModuleHandleW(nullptr);
  control.lpszClassName = kSipPrefClass;
  if (::RegisterClassW(&control) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  return true;
}

}  // namespace win32::ui::shell

#endif

namespace plat {

void InitShellDialog(Window dialog, uint32_t flags) {
  // Failures change nothing the program relies on.
  win32::ui::shell::InitDialog(reinterpret_cast<HWND>(dialog), flags);
}

}  // namespace plat
