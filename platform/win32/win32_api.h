// The Windows headers for the win32 backend's modules; not for callers
// outside platform/win32.
//
// windows.h maps names such as RegOpenKey, DeleteFile or MessageBox to their
// W variants with macros, which would rename the platform's own operations;
// they are undefined here so that platform.h means the same in every file.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#undef CreateProcess
#undef DeleteFile
#undef GetFileAttributes
#undef MessageBox
#undef RegCreateKey
#undef RegDeleteKey
#undef RegDeleteValue
#undef RegEnumKey
#undef RegOpenKey
#undef RegQueryValue
#undef RegSetValue

#include <string>

#include "platform/common/fault_gate.h"
#include "platform/platform.h"

namespace win32 {

// UTF-16 is wchar_t on Windows: the same code units, no conversion.
inline const wchar_t* W(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string U(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// Sets the last error and returns false, so failure paths stay one line.
inline bool Fail(DWORD code) {
  ::SetLastError(code);
  return false;
}

// The system's code behind a failed C runtime stream call (a full disk is
// ERROR_DISK_FULL), else `fallback`. Clear errno and _doserrno before the
// call.
DWORD FromCrtError(DWORD fallback);

// Registry calls return their error instead of setting the last error.
inline bool FromRegResult(LONG result) {
  if (result == ERROR_SUCCESS) return true;
  if (result == ERROR_REGISTRY_CORRUPT || result == ERROR_BADDB)
    plat::common::NoteRegistryDamage(ERROR_REGISTRY_CORRUPT);
  return Fail(static_cast<DWORD>(result));
}

// The message that carries a watched key's event (plat::WindowEvent::kKeyEvent).
constexpr UINT kWmKeyEvent = WM_APP + 1;
// A key event's time (GetTickCount's, as hooks and messages carry it) in
// this process's TickCount(), `now` being TickCount() now; a time from the
// future is now.
uint64_t TicksOfEventTime(DWORD time, uint64_t now);
// The message that carries a move of a key a dialog took (plat::CaptureKey).
constexpr UINT kWmCapturedKey = WM_APP + 2;
// What the icon's own window hands to the window that showed the icon:
// a menu item chosen (wparam: its command), the session ending.
constexpr UINT kWmTrayCommand = WM_APP + 3;
constexpr UINT kWmSessionEnd = WM_APP + 4;
// Takes the press a launcher was started for out of its environment, so that
// the programs it starts in turn get none; once, before the program runs.
void TakeHandedPress();

// Whether this build runs on a Windows PC: plat::OnPc(), known when compiled.
#ifdef _WIN32_WCE
inline constexpr bool kOnPc = false;
#else
inline constexpr bool kOnPc = true;
#endif

// The root key behind `root`; on a PC the first use of RegRoot::Product
// takes over settings an earlier version left under HKEY_LOCAL_MACHINE.
HKEY RootKey(plat::RegRoot root);

}  // namespace win32
