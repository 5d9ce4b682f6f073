// tapdeck's "Tune Button Timing" dialog on its own, for the Xvfb test: for
// button 0, whose key is F6. It runs in a Wine desktop, where the test
// cannot see its windows: it leaves "tuner-ready" in its own folder once
// the dialog shows (and holds the key), and "tuner-result"
// with "accepted" or "left" when it ends; 0 after Accept, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <string>

#include "config/pages/pages.h"
#include "platform/ui.h"

void DeviceStartUp() {}
void DeviceShutDown() {}

namespace {

void Leave(const wchar_t* name, const char* text) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::wstring file_path(path, length);
  file_path = file_path.substr(0, file_path.find_last_of(L'\\') + 1) + name;
  FILE* file = _wfopen(file_path.c_str(), L"w");
  if (file == nullptr) return;
  std::fputs(text, file);
  std::fclose(file);
}

DWORD WINAPI AwaitDialog(void*) {
  for (int i = 0; i < 600; ++i) {
    HWND dialog = ::FindWindowW(L"#32770", L"Tune Button Timing");
    if (dialog != nullptr && ::IsWindowVisible(dialog)) {
      Leave(L"tuner-ready", "ready\n");
      return 0;
    }
    ::Sleep(50);
  }
  return 1;
}

}  // namespace

int DeviceMain(const std::u16string&) {
  plat::InitControls(0x404);  // as tapdeck does: the templates hold "SIPPREF"
  HANDLE watcher = ::CreateThread(nullptr, 0, AwaitDialog, nullptr, 0, nullptr);
  const bool accepted = RunTunerDialog(0, 0, 0x75, u"F6 key");
  if (watcher != nullptr) ::CloseHandle(watcher);
  Leave(L"tuner-result", accepted ? "accepted\n" : "left\n");
  return accepted ? 0 : 1;
}
