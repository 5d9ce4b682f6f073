// The modal windows in front and the dialog procedure thunk.
#include <algorithm>

#include "platform/win32/ui_internal.h"

namespace win32::ui {
namespace {

std::vector<Frame*> frames;
uint64_t next_serial = 1;

// ---- Catching the system's dialog windows ----
HHOOK catcher_hook = nullptr;
Frame* catching = nullptr;
void (*on_caught)(HWND) = nullptr;

bool IsDialogClass(HWND window) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, 16);
  return lstrcmpW(name, L"#32770") == 0;
}

LRESULT CALLBACK CatchCreated(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND && catching != nullptr && catching->window == nullptr) {
    HWND window = reinterpret_cast<HWND>(wparam);
    const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lparam)->lpcs;
    if (!(create->style & WS_CHILD) && IsDialogClass(window)) {
      catching->window = window;
      if (on_caught != nullptr) on_caught(window);
    }
  }
  return ::CallNextHookEx(catcher_hook, code, wparam, lparam);
}

// ---- The thunk ----
intptr_t Send(HWND window, const plat::DialogMessage& message) {
  auto proc = reinterpret_cast<plat::DialogProc>(::GetWindowLongPtrW(window, DWLP_USER));
  if (proc == nullptr) return 0;
  return proc(reinterpret_cast<plat::Window>(window), message);
}

INT_PTR Dispatch(HWND window, UINT message, WPARAM wparam, LPARAM lparam, const DialogStart* start) {
  switch (message) {
    case WM_INITDIALOG:
      if (start == nullptr) return TRUE;
      ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(start->proc));
      if (start->frame != nullptr) start->frame->window = window;
      return Send(window, {plat::DialogEvent::kInit, 0, 0, start->param});
    case WM_COMMAND:
      return Send(window, {plat::DialogEvent::kCommand, LOWORD(wparam), HIWORD(wparam), 0});
    case WM_HSCROLL:
      // Only trackbars: a dialog's own scroll bar comes with no control.
      if (lparam == 0) return FALSE;
      Send(window, {plat::DialogEvent::kCommand, ::GetDlgCtrlID(reinterpret_cast<HWND>(lparam)),
                    plat::kNotifySliderMoved, 0});
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header == nullptr || header->code != static_cast<UINT>(PSN_APPLY)) return FALSE;
      // A page that objects keeps the sheet open with itself in front.
      const intptr_t answer = Send(window, {plat::DialogEvent::kApply, 0, 0, 0});
      ::SetWindowLongPtrW(window, DWLP_MSGRESULT, answer == 0 ? PSNRET_NOERROR : PSNRET_INVALID);
      return TRUE;
    }
    case win32::kWmCapturedKey:
      return DeliverCapturedKey(window, wparam, lparam) ? TRUE : FALSE;
    case WM_NCDESTROY:
      DialogGone(window);
      ::RemovePropW(window, kDialogDataProp);
      return FALSE;
    default:
      return FALSE;
  }
}

// ---- Keys for dialogs ----
HHOOK key_hook = nullptr;
int key_filters = 0;

LRESULT CALLBACK FilterKeys(int code, WPARAM wparam, LPARAM lparam) {
  const MSG* message = reinterpret_cast<const MSG*>(lparam);
  if (code >= 0 && message != nullptr && (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN)) {
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
      const Frame* frame = *it;
      if (frame->kind != FrameKind::kDialog || frame->window == nullptr) continue;
      if (message->hwnd != frame->window && !::IsChild(frame->window, message->hwnd)) continue;
      const int repeat = (message->lParam & 0x40000000) != 0 ? 1 : 0;
      const plat::DialogMessage key = {plat::DialogEvent::kKeyDown, 0, static_cast<int>(message->wParam), repeat};
      if (Send(frame->window, key) != 0) return 1;  // the dialog took it
      break;
    }
  }
  return ::CallNextHookEx(key_hook, code, wparam, lparam);
}

}  // namespace

KeyFilter::KeyFilter() {
  if (key_filters++ == 0) key_hook = ::SetWindowsHookExW(WH_MSGFILTER, FilterKeys, nullptr, ::GetCurrentThreadId());
}

KeyFilter::~KeyFilter() {
  if (--key_filters == 0 && key_hook != nullptr) {
    ::UnhookWindowsHookEx(key_hook);
    key_hook = nullptr;
  }
}

Frame::Frame(FrameKind frame_kind) : kind(frame_kind), serial(next_serial++) { frames.push_back(this); }

Frame::~Frame() { frames.erase(std::remove(frames.begin(), frames.end(), this), frames.end()); }

const std::vector<Frame*>& Frames() { return frames; }

Frame* Front() { return frames.empty() ? nullptr : frames.back(); }

DialogCatcher::DialogCatcher(Frame* frame, void (*caught)(HWND)) : previous_(catching), previous_caught_(on_caught) {
  catching = frame;
  on_caught = caught;
  if (catcher_hook == nullptr)
    catcher_hook = ::SetWindowsHookExW(WH_CBT, CatchCreated, nullptr, ::GetCurrentThreadId());
}

DialogCatcher::~DialogCatcher() {
  catching = previous_;
  on_caught = previous_caught_;
  if (catching == nullptr && catcher_hook != nullptr) {
    ::UnhookWindowsHookEx(catcher_hook);
    catcher_hook = nullptr;
  }
}

INT_PTR CALLBACK DialogThunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return Dispatch(window, message, wparam, lparam, reinterpret_cast<const DialogStart*>(lparam));
}

INT_PTR CALLBACK PageThunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const DialogStart* start = nullptr;
  if (message == WM_INITDIALOG) {
    // A page's creation parameter is its page record, which carries ours.
    const auto* record = reinterpret_cast<const PROPSHEETPAGEW*>(lparam);
    if (record != nullptr) start = reinterpret_cast<const DialogStart*>(record->lParam);
  }
  return Dispatch(window, message, wparam, lparam, start);
}

HINSTANCE ProgramInstance() { return ::GetModuleHandleW(nullptr); }

HICON ProgramIcon(bool small) {
  const HINSTANCE instance = ProgramInstance();
  LPWSTR first = nullptr;
  ::EnumResourceNamesW(
      instance, RT_GROUP_ICON,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
        *reinterpret_cast<LPWSTR*>(found) = name;
        return FALSE;
      },
      reinterpret_cast<LONG_PTR>(&first));
  // A named (not numbered) icon's name lives only during the enumeration.
  if (first == nullptr || !IS_INTRESOURCE(first)) return nullptr;
  const int size = ::GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
  return static_cast<HICON>(::LoadImageW(instance, first, IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED));
}

}  // namespace win32::ui
