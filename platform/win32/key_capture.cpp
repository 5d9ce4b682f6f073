// A key a dialog takes for itself (plat::CaptureKey). A low-level keyboard
// hook sees every key event with its own time before hot keys and every
// other program; for the taken key it posts the move to the dialog and
// swallows the event, so that neither the key listener's hook, nor its hot
// key, nor any window sees it. The hook runs on a thread of its own, as the
// key listener's does: the keyboard waits for its answer, and the dialog's
// thread may be busy.
//
// Hooks are called newest first, so a capture made after the listener
// started sees the key before the listener's hook does.
#include "platform/common/fault_gate.h"
#include "platform/ui.h"
#include "platform/win32/hook_thread.h"
#include "platform/win32/ui_internal.h"

using win32::Fail;

namespace {

struct Captor {
  win32::HookThread hook;
  // Shared with the hook's thread, under captor_lock.
  HWND dialog = nullptr;
  DWORD key = 0;
  bool down = false;  // the hook saw the key go down since the capture
  // The dialog's thread only.
  plat::KeyMoveProc proc = nullptr;
  void* context = nullptr;
};
Captor captor;
SRWLOCK captor_lock = SRWLOCK_INIT;

LRESULT CALLBACK CaptureHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION) {
    const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam);
    const DWORD vk = event->vkCode & 0xFF;
    const bool up = (event->flags & LLKHF_UP) != 0 || wparam == WM_KEYUP || wparam == WM_SYSKEYUP;
    bool swallow = false;
    ::AcquireSRWLockExclusive(&captor_lock);
    if (captor.dialog != nullptr && vk == captor.key) {
      // An up whose down came before the capture goes on: whoever saw the
      // down must see it come up.
      if (up ? captor.down : true) {
        swallow = true;
        // Auto-repeat sends downs while the key stays down: a move is a
        // change only.
        const bool moved = up || !captor.down;
        captor.down = !up;
        if (moved)
          ::PostMessageW(captor.dialog, win32::kWmCapturedKey, vk | (up ? plat::kKeyEventUp : 0u),
                         static_cast<LPARAM>(event->time));
      }
    }
    ::ReleaseSRWLockExclusive(&captor_lock);
    if (swallow) return 1;
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

void StopHook() { win32::StopHookThread(&captor.hook); }

bool StartHook() {
  const DWORD error = win32::StartHookThread(CaptureHook, &captor.hook);
  return error == ERROR_SUCCESS || Fail(error);
}

bool IsRunningDialog(HWND window) {
  for (const win32::ui::Frame* frame : win32::ui::Frames())
    if (frame->kind == win32::ui::FrameKind::kDialog && frame->window == window) return true;
  return false;
}

}  // namespace

namespace win32::ui {

bool DeliverCapturedKey(HWND dialog, WPARAM wparam, LPARAM lparam) {
  if (dialog != captor.dialog || captor.proc == nullptr) return false;
  const plat::KeyMove move{static_cast<uint32_t>(wparam & 0xFF), (wparam & plat::kKeyEventUp) != 0,
                           win32::TicksOfEventTime(static_cast<DWORD>(lparam), plat::TickCount())};
  if (move.virtual_key != captor.key) return true;  // posted before another key was taken
  captor.proc(reinterpret_cast<plat::Window>(dialog), move, captor.context);
  return true;
}

void DialogGone(HWND dialog) {
  if (dialog == captor.dialog) plat::ReleaseKey(reinterpret_cast<plat::Window>(dialog));
}

}  // namespace win32::ui

namespace plat {

bool CaptureKey(Window dialog, uint32_t virtual_key, KeyMoveProc proc, void* context) {
  common::FaultGate gate(faults::Op::KeyCapture);
  if (gate.failed()) return false;
  HWND hwnd = reinterpret_cast<HWND>(dialog);
  if (dialog == 0 || !::IsWindow(hwnd) || !IsRunningDialog(hwnd)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (virtual_key < 1 || virtual_key > 0xFE || proc == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!StartHook()) return false;
  ::AcquireSRWLockExclusive(&captor_lock);
  if (captor.dialog != hwnd || captor.key != virtual_key) captor.down = false;
  captor.dialog = hwnd;
  captor.key = virtual_key;
  ::ReleaseSRWLockExclusive(&captor_lock);
  captor.proc = proc;
  captor.context = context;
  return true;
}

bool ReleaseKey(Window dialog) {
  if (reinterpret_cast<HWND>(dialog) != captor.dialog || captor.dialog == nullptr) return true;
  const DWORD saved = ::GetLastError();
  ::AcquireSRWLockExclusive(&captor_lock);
  captor.dialog = nullptr;
  captor.key = 0;
  captor.down = false;
  ::ReleaseSRWLockExclusive(&captor_lock);
  captor.proc = nullptr;
  captor.context = nullptr;
  StopHook();
  ::SetLastError(saved);
  return true;
}

}  // namespace plat
