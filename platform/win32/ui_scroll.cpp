// Content larger than its window: scroll bars that move the window's
// children over it. The desktop's dialog units are wider than the device's,
// so on a screen of the device's size a page does not fit its sheet.
#include <algorithm>
#include <vector>

#include "platform/win32/ui_internal.h"

namespace win32::ui {
namespace {

constexpr int kLine = 16;  // pixels per line step
// The window's scroll state and its own procedure, kept with the window.
const wchar_t kScrollProp[] = L"Quadrakey.Scroll";

struct Scroll {
  WNDPROC original;
  SIZE extent;
  POINT at;  // how far the content is scrolled
  std::vector<HWND> fixed;
};

// Moves the children (the fixed ones aside) by dx, dy.
void MoveChildren(HWND window, const Scroll& scroll, int dx, int dy) {
  if (dx == 0 && dy == 0) return;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (std::find(scroll.fixed.begin(), scroll.fixed.end(), child) != scroll.fixed.end()) continue;
    RECT box;
    ::GetWindowRect(child, &box);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
    ::SetWindowPos(child, nullptr, box.left + dx, box.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::InvalidateRect(window, nullptr, TRUE);
}

// Scrolls bar `bar` to `position` (kept within its range).
void ScrollTo(HWND window, Scroll& scroll, int bar, int position) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE;
  if (!::GetScrollInfo(window, bar, &info)) return;
  const int last = std::max(0, info.nMax - static_cast<int>(info.nPage) + 1);
  position = std::clamp(position, 0, last);
  LONG& at = bar == SB_HORZ ? scroll.at.x : scroll.at.y;
  const int delta = at - position;
  at = position;
  MoveChildren(window, scroll, bar == SB_HORZ ? delta : 0, bar == SB_VERT ? delta : 0);
  ::SetScrollPos(window, bar, position, TRUE);
}

int NewPosition(HWND window, int bar, int code, int current) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  ::GetScrollInfo(window, bar, &info);
  switch (code) {
    case SB_LINEUP: return current - kLine;
    case SB_LINEDOWN: return current + kLine;
    case SB_PAGEUP: return current - static_cast<int>(info.nPage);
    case SB_PAGEDOWN: return current + static_cast<int>(info.nPage);
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: return info.nTrackPos;
    case SB_TOP: return 0;
    case SB_BOTTOM: return info.nMax;
    default: return current;
  }
}

LRESULT CALLBACK ScrollProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* scroll = static_cast<Scroll*>(::GetPropW(window, kScrollProp));
  if (scroll == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  const WNDPROC original = scroll->original;
  switch (message) {
    case WM_HSCROLL:
    case WM_VSCROLL: {
      // A trackbar's report names the trackbar; the window's own bars do not.
      if (lparam != 0) break;
      const int bar = message == WM_HSCROLL ? SB_HORZ : SB_VERT;
      const int current = bar == SB_HORZ ? scroll->at.x : scroll->at.y;
      ScrollTo(window, *scroll, bar, NewPosition(window, bar, LOWORD(wparam), current));
      return 0;
    }
    case WM_MOUSEWHEEL:
      if (::GetWindowLongW(window, GWL_STYLE) & WS_VSCROLL) {
        ScrollTo(window, *scroll, SB_VERT, scroll->at.y - GET_WHEEL_DELTA_WPARAM(wparam) / WHEEL_DELTA * 3 * kLine);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      ::RemovePropW(window, kScrollProp);
      delete scroll;
      break;
    default:
      break;
  }
  return ::CallWindowProcW(original, window, message, wparam, lparam);
}

}  // namespace

void FitContent(HWND window, SIZE extent, const std::vector<HWND>& fixed) {
  auto* scroll = static_cast<Scroll*>(::GetPropW(window, kScrollProp));
  if (scroll != nullptr) {
    MoveChildren(window, *scroll, scroll->at.x, scroll->at.y);  // back to the start
  } else {
    scroll = new Scroll{};
    scroll->original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (!::SetPropW(window, kScrollProp, scroll)) {
      delete scroll;
      return;
    }
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ScrollProc));
  }
  scroll->extent = extent;
  scroll->at = {0, 0};
  scroll->fixed = fixed;

  ::ShowScrollBar(window, SB_BOTH, FALSE);
  RECT client;
  ::GetClientRect(window, &client);
  const int bar_width = ::GetSystemMetrics(SM_CXVSCROLL), bar_height = ::GetSystemMetrics(SM_CYHSCROLL);
  bool vertical = extent.cy > client.bottom;
  const bool horizontal = extent.cx > client.right - (vertical ? bar_width : 0);
  vertical = extent.cy > client.bottom - (horizontal ? bar_height : 0);
  ::ShowScrollBar(window, SB_HORZ, horizontal);
  ::ShowScrollBar(window, SB_VERT, vertical);
  ::GetClientRect(window, &client);
  for (int bar : {SB_HORZ, SB_VERT}) {
    const bool shown = bar == SB_HORZ ? horizontal : vertical;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    // An empty range keeps a bar that is not needed out of sight.
    info.nMax = shown ? (bar == SB_HORZ ? extent.cx : extent.cy) - 1 : 0;
    info.nPage = shown ? static_cast<UINT>(bar == SB_HORZ ? client.right : client.bottom) : 0;
    ::SetScrollInfo(window, bar, &info, TRUE);
  }
}

}  // namespace win32::ui
