#include "platform/win32/hook_thread.h"

namespace win32 {
namespace {

struct HookStart {
  HOOKPROC proc;
  HANDLE ready;
  DWORD error;
};

DWORD WINAPI RunHook(void* param) {
  auto* start = static_cast<HookStart*>(param);
  MSG message;
  // Its message queue first, for the quit message.
  ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  HHOOK hook = ::SetWindowsHookExW(WH_KEYBOARD_LL, start->proc, ::GetModuleHandleW(nullptr), 0);
  const DWORD error = ::GetLastError();
  start->error = hook != nullptr ? ERROR_SUCCESS : error == ERROR_SUCCESS ? ERROR_NOT_SUPPORTED : error;
  ::SetEvent(start->ready);  // *start is the starter's, and gone after this
  if (hook == nullptr) return 1;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
  }
  ::UnhookWindowsHookEx(hook);
  return 0;
}

}  // namespace

DWORD StartHookThread(HOOKPROC proc, HookThread* hook) {
  if (hook->Running()) return ERROR_SUCCESS;
  HookStart start{proc, ::CreateEventW(nullptr, TRUE, FALSE, nullptr), ERROR_SUCCESS};
  if (start.ready == nullptr) return ::GetLastError();
  DWORD error = ERROR_SUCCESS;
  hook->thread = ::CreateThread(nullptr, 0, RunHook, &start, 0, &hook->id);
  if (hook->thread == nullptr) {
    error = ::GetLastError();
  } else {
    ::WaitForSingleObject(start.ready, INFINITE);
    error = start.error;
  }
  ::CloseHandle(start.ready);
  if (error != ERROR_SUCCESS && hook->thread != nullptr) {
    ::WaitForSingleObject(hook->thread, INFINITE);
    ::CloseHandle(hook->thread);
    *hook = HookThread{};
  }
  return error;
}

void StopHookThread(HookThread* hook) {
  if (!hook->Running()) return;
  ::PostThreadMessageW(hook->id, WM_QUIT, 0, 0);
  ::WaitForSingleObject(hook->thread, INFINITE);
  ::CloseHandle(hook->thread);
  *hook = HookThread{};
}

}  // namespace win32
