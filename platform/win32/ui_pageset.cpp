// The page set: a property sheet with the device's header and page records,
// its callback, and a layout that shows every control of every page whole
// (scrolling a page where the screen is smaller than it).
#include <algorithm>
#include <vector>

#include "platform/common/fault_gate.h"
#include "platform/win32/ui_internal.h"

namespace {

using win32::ui::DialogStart;
using win32::ui::Frame;
using win32::ui::FrameKind;

// The device's header flags: the pages as records (0x8), no Apply button
// (0x80), the callback (0x100), 0x200, and the maximised full-screen sheet
// (0x2000).
constexpr DWORD kDeviceSheetFlags = 0x2388;
constexpr DWORD kDeviceRecords = 0x8, kDeviceNoApply = 0x80, kDeviceCallback = 0x100;
// The page records' flags: the title (0x8) and creation with the sheet
// (0x400), which the desktop numbers alike.
constexpr DWORD kPageFlags = PSP_USETITLE | PSP_PREMATURE;
// The callback's notifications on the device: 2 answers 1, 3 (the version
// query) answers the version the pages are written for.
constexpr UINT kSheetCallbackTwo = 2, kSheetVersionQuery = 3;
constexpr int kSheetVersion = 0x020C;

// What the device's flags mean on the desktop. 0x200 and 0x2000 there ask
// for a Help button and a wizard; the full-screen sheet is made by the
// callback instead, and no context-help button joins the caption.
DWORD DesktopSheetFlags(DWORD device_flags) {
  DWORD flags = PSH_NOCONTEXTHELP;
  if (device_flags & kDeviceRecords) flags |= PSH_PROPSHEETPAGE;
  if (device_flags & kDeviceNoApply) flags |= PSH_NOAPPLYNOW;
  if (device_flags & kDeviceCallback) flags |= PSH_USECALLBACK;
  return flags;
}

// The sheet being opened: the callback has no parameter of its own.
struct Opening {
  Frame* frame;
  int count;
};
Opening* opening = nullptr;

bool IsSipPref(HWND window) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  return lstrcmpiW(name, L"SIPPREF") == 0;
}

// The room a page needs to show each of its controls whole, in its own
// font: the controls' extent and the template's margin of 4 dialog units.
// The input panel control never shows.
SIZE PageExtent(HWND page) {
  RECT margin = {0, 0, 4, 4};
  ::MapDialogRect(page, &margin);
  SIZE extent = {0, 0};
  for (HWND child = ::GetWindow(page, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (IsSipPref(child)) continue;
    const RECT box = win32::ui::PlaceIn(child, page);
    extent.cx = std::max<LONG>(extent.cx, box.right);
    extent.cy = std::max<LONG>(extent.cy, box.bottom);
  }
  extent.cx += margin.right;
  extent.cy += margin.bottom;
  return extent;
}

// The sheet sizes its pages by its own font, which is smaller than the
// pages' fonts: its tab control and buttons are placed here instead, the
// tab control taking all the sheet leaves (the device's full screen, or a
// PC's window sized to the pages), and a page larger
// than that (on a screen of the device's size) scrolls.
void LayOut(HWND sheet, int count) {
  HWND tab = PropSheet_GetTabControl(sheet);
  HWND ok = ::GetDlgItem(sheet, IDOK);
  HWND cancel = ::GetDlgItem(sheet, IDCANCEL);
  if (tab == nullptr || ok == nullptr || cancel == nullptr) return;

  // The sheet's own margins: where its template put the tab control.
  const RECT tab_box = win32::ui::PlaceIn(tab, sheet);
  int pad_x = tab_box.left;
  const int pad_y = tab_box.top;
  const RECT button_box = win32::ui::PlaceIn(ok, sheet);
  const int button_width = button_box.right - button_box.left;
  const int button_height = button_box.bottom - button_box.top;

  RECT client;
  ::GetClientRect(sheet, &client);
  const int button_y = client.bottom - pad_y - button_height;
  ::SetWindowPos(tab, nullptr, pad_x, pad_y, client.right - 2 * pad_x, button_y - 2 * pad_y,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  // A narrow screen: the tabs keep one row, as the device's full-width
  // sheet has them, by giving up the side margins.
  if (TabCtrl_GetRowCount(tab) > 1) {
    pad_x = 0;
    ::SetWindowPos(tab, nullptr, pad_x, pad_y, client.right, button_y - 2 * pad_y, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const int cancel_x = client.right - pad_x - button_width;
  ::SetWindowPos(cancel, nullptr, cancel_x, button_y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowPos(ok, nullptr, cancel_x - pad_x - button_width, button_y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  // Where the sheet puts a page when it shows it.
  RECT page_box;
  ::GetClientRect(tab, &page_box);
  TabCtrl_AdjustRect(tab, FALSE, &page_box);
  ::MapWindowPoints(tab, sheet, reinterpret_cast<POINT*>(&page_box), 2);
  for (int i = 0; i < count; ++i) {
    HWND page = PropSheet_IndexToHwnd(sheet, i);
    if (page == nullptr) continue;
    const SIZE extent = PageExtent(page);
    ::SetWindowPos(page, nullptr, page_box.left, page_box.top, page_box.right - page_box.left,
                   page_box.bottom - page_box.top, SWP_NOZORDER | SWP_NOACTIVATE);
    win32::ui::FitContent(page, extent);
  }
}

// On a PC the sheet is an ordinary window: minimisable, with its icon and
// a button of its own on the taskbar (its owner, the main window, is hidden).
void MakeOrdinaryWindow(HWND sheet) {
  ::SetWindowLongW(sheet, GWL_STYLE, ::GetWindowLongW(sheet, GWL_STYLE) | WS_SYSMENU | WS_MINIMIZEBOX);
  ::SetWindowLongW(sheet, GWL_EXSTYLE, ::GetWindowLongW(sheet, GWL_EXSTYLE) | WS_EX_APPWINDOW);
  if (HICON large = win32::ui::ProgramIcon(false)) ::SendMessageW(sheet, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
  if (HICON small = win32::ui::ProgramIcon(true)) ::SendMessageW(sheet, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  ::SetWindowPos(sheet, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// Sizes a PC's sheet to its largest page, its tabs in one row, and puts it
// in the middle of the work area; a screen smaller than that gets the
// whole work area, and LayOut scrolls the pages.
void SizeToPages(HWND sheet, int count) {
  HWND tab = PropSheet_GetTabControl(sheet);
  HWND ok = ::GetDlgItem(sheet, IDOK);
  if (tab == nullptr || ok == nullptr) return;
  SIZE pages = {0, 0};
  for (int i = 0; i < count; ++i) {
    HWND page = PropSheet_IndexToHwnd(sheet, i);
    if (page == nullptr) continue;
    const SIZE extent = PageExtent(page);
    pages.cx = std::max(pages.cx, extent.cx);
    pages.cy = std::max(pages.cy, extent.cy);
  }
  RECT area;
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int area_width = area.right - area.left, area_height = area.bottom - area.top;

  const RECT tab_box = win32::ui::PlaceIn(tab, sheet);
  const RECT button_box = win32::ui::PlaceIn(ok, sheet);
  RECT needed = {0, 0, pages.cx, pages.cy};
  TabCtrl_AdjustRect(tab, TRUE, &needed);
  int tab_width = needed.right - needed.left;
  const int tab_height = needed.bottom - needed.top;
  // Wide enough for OK and Cancel, and for every tab in one row.
  const int button_width = button_box.right - button_box.left;
  tab_width = std::max<int>(tab_width, 2 * button_width + tab_box.left);
  ::SetWindowPos(tab, nullptr, 0, 0, tab_width, tab_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  while (TabCtrl_GetRowCount(tab) > 1 && tab_width < area_width) {
    tab_width += 8;
    ::SetWindowPos(tab, nullptr, 0, 0, tab_width, tab_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT frame = {0, 0, tab_width + 2 * tab_box.left,
                tab_height + 3 * tab_box.top + (button_box.bottom - button_box.top)};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(sheet, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongW(sheet, GWL_EXSTYLE)));
  const int width = std::min<int>(frame.right - frame.left, area_width);
  const int height = std::min<int>(frame.bottom - frame.top, area_height);
  ::SetWindowPos(sheet, nullptr, area.left + (area_width - width) / 2, area.top + (area_height - height) / 2, width,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnInitialized(HWND sheet) {
  HWND tab = PropSheet_GetTabControl(sheet);
  if (tab != nullptr) ::SetWindowLongW(tab, GWL_STYLE, ::GetWindowLongW(tab, GWL_STYLE) | TCS_BOTTOM);
  if (win32::kOnPc) {
    MakeOrdinaryWindow(sheet);
    win32::ui::shell::InitDialog(sheet, win32::ui::shell::kDoneButton);
  } else {
    win32::ui::shell::InitDialog(sheet, win32::ui::shell::kDoneButton | win32::ui::shell::kFullScreen);
  }
  if (!win32::ui::shell::CreateEmptyMenuBar(sheet, win32::ui::ProgramInstance())) {
    (void)::GetLastError();  // the sheet works without its menu bar
  }
  if (opening == nullptr) return;
  opening->frame->window = sheet;
  // Every page is made with the sheet, so that each is initialised now and
  // applies at Done. Where the system leaves a page to its first showing,
  // it is shown once, in page order, before the sheet appears; the first
  // page is in front again afterwards.
  for (int i = 0; i < opening->count; ++i) {
    if (PropSheet_IndexToHwnd(sheet, i) == nullptr) PropSheet_SetCurSel(sheet, nullptr, i);
  }
  PropSheet_SetCurSel(sheet, nullptr, 0);
  if (win32::kOnPc) SizeToPages(sheet, opening->count);
  LayOut(sheet, opening->count);
  opening->frame->ready = true;
}

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM /*param*/) {
  switch (message) {
    case PSCB_INITIALIZED:
      OnInitialized(sheet);
      return 0;
    case kSheetCallbackTwo:
      return 1;
    case kSheetVersionQuery:
      return kSheetVersion;
    default:
      return 0;
  }
}

}  // namespace

namespace plat {

bool RunPageSet(Window owner, const std::u16string& caption, const PageSpec* pages, int count) {
  if (common::FailsAtGate(faults::Op::PageSet)) return false;
  if (pages == nullptr || count <= 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const HINSTANCE instance = win32::ui::ProgramInstance();
  for (int i = 0; i < count; ++i) {
    if (::FindResourceW(instance, MAKEINTRESOURCEW(pages[i].template_id), MAKEINTRESOURCEW(5)) == nullptr) {
      ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return false;
    }
  }

  Frame frame(FrameKind::kPageSet);
  std::vector<DialogStart> starts(static_cast<size_t>(count));
  std::vector<PROPSHEETPAGEW> records(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const char16_t* title = pages[i].title != nullptr ? pages[i].title : u"";
    frame.pages.push_back({title, pages[i].template_id});
    starts[i] = {pages[i].proc, pages[i].param, nullptr};
    PROPSHEETPAGEW& record = records[i];
    record = {};
    record.dwSize = sizeof record;
    record.dwFlags = kPageFlags;
    record.hInstance = instance;
    record.pszTemplate = MAKEINTRESOURCEW(pages[i].template_id);
    record.pszTitle = reinterpret_cast<const wchar_t*>(title);
    record.pfnDlgProc = win32::ui::PageThunk;
    record.lParam = reinterpret_cast<LPARAM>(&starts[i]);
  }

  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof header;
  header.dwFlags = DesktopSheetFlags(kDeviceSheetFlags);
  header.hwndParent = reinterpret_cast<HWND>(owner);
  header.hInstance = instance;
  header.pszCaption = win32::W(caption);
  header.nPages = static_cast<UINT>(count);
  header.nStartPage = 0;
  header.ppsp = records.data();
  header.pfnCallback = SheetCallback;
  if (win32::kOnPc) {
    header.hIcon = win32::ui::ProgramIcon(false);
    if (header.hIcon != nullptr) header.dwFlags |= PSH_USEHICON;
  }

  Opening this_sheet = {&frame, count};
  Opening* previous = opening;
  opening = &this_sheet;
  ::SetLastError(ERROR_SUCCESS);
  const INT_PTR result = ::PropertySheetW(&header);
  opening = previous;
  if (result < 0) {
    // Failed: say so even where the system left no error.
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  if (result == 0) ::SetLastError(ERROR_SUCCESS);  // left, not failed
  return result > 0;
}

}  // namespace plat
