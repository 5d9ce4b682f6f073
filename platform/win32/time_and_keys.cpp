// Time, key state and synthetic key events.
#include "platform/win32/win32_api.h"

namespace plat {

void Sleep(uint32_t ms) { ::Sleep(ms); }

uint64_t TickCount() {
#ifdef _WIN32_WCE
  return ::GetTickCount();
#else
  return ::GetTickCount64();
#endif
}

uint16_t GetAsyncKeyState(int virtual_key) {
  return static_cast<uint16_t>(::GetAsyncKeyState(virtual_key));
}

void KeybdEvent(uint8_t virtual_key, uint8_t scan_code, uint32_t flags, uintptr_t extra_info) {
#ifndef _WIN32_WCE
  // CE's "silent" bit (no key click) is KEYEVENTF_UNICODE on the desktop,
  // which would send the scan code as a character instead of the key.
  flags &= ~kKeyEventSilent;
#endif
  ::keybd_event(virtual_key, scan_code, flags, extra_info);
}

}  // namespace plat
