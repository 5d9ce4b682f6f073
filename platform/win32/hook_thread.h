// A low-level keyboard hook on a thread of its own that does nothing else:
// the keyboard waits for a hook's answer, so the hook must never wait for
// its program's busy thread.
#pragma once

#include "platform/win32/win32_api.h"

namespace win32 {

struct HookThread {
  HANDLE thread = nullptr;
  DWORD id = 0;
  bool Running() const { return thread != nullptr; }
};

// Installs `proc` as a WH_KEYBOARD_LL hook on a new thread and returns once
// it is in place: ERROR_SUCCESS, or why not (nothing is left running then).
DWORD StartHookThread(HOOKPROC proc, HookThread* hook);
// Removes the hook and ends its thread; nothing when none runs.
void StopHookThread(HookThread* hook);

}  // namespace win32
