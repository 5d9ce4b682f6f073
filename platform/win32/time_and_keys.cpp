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

uint32_t GetPressAge(int /*virtual_key*/) {
#ifdef _WIN32_WCE
  return 0;  // CE keeps no creation time for a process
#else
  FILETIME created, exited, kernel, user, now;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  if (ticks(now) < ticks(created)) return 0;
  const uint64_t ms = (ticks(now) - ticks(created)) / 10000;  // 100 ns units
  return ms <= 0x7FFFFFFF ? static_cast<uint32_t>(ms) : 0;
#endif
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
