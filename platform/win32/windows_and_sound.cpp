// Windows, message boxes, sound and the platform version.
#include "platform/common/fault_gate.h"
#include "platform/win32/ui_internal.h"

namespace plat {

Window GetDesktopWindow() { return reinterpret_cast<Window>(::GetDesktopWindow()); }

Window GetForegroundWindow() { return reinterpret_cast<Window>(::GetForegroundWindow()); }

// A window's dialog in front of it is what the person wants (a program's
// sheet, not the window that owns it), whole: the device brings it so, and
// a PC's minimised window comes back.
bool SetForegroundWindow(Window window) {
  HWND target = reinterpret_cast<HWND>(window);
  if (target != nullptr && ::IsWindow(target)) {
    HWND popup = ::GetLastActivePopup(target);
    if (popup != nullptr && ::IsWindowVisible(popup)) target = popup;
    if (::IsIconic(target)) ::ShowWindow(target, SW_RESTORE);
  }
  return ::SetForegroundWindow(target) != 0;
}

int MessageBox(const std::u16string& text, const std::u16string* caption, uint32_t flags) {
  if (common::FailsAtGate(faults::Op::MessageBox)) return 0;
  return win32::ui::FittedMessageBox(nullptr, text, caption, flags);
}

void MessageBeep(uint32_t type) { ::MessageBeep(type); }

Version GetVersion() {
  // GetVersionEx answers what the program's manifest allows; the kernel's own
  // query tells the truth.
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  using Query = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto query = ntdll != nullptr
                   ? reinterpret_cast<Query>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                   : nullptr;
  if (query == nullptr || query(&info) != 0) {
    info.dwOSVersionInfoSize = sizeof info;
    ::GetVersionExW(&info);
  }
  return {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.dwPlatformId,
          std::u16string(reinterpret_cast<const char16_t*>(info.szCSDVersion))};
}

}  // namespace plat
