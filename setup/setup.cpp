// setup: hands the device package's installation description to the
// desktop's CE application manager and waits until it has finished.
// Desktop Windows, 8-bit text throughout.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace {

const char kManagerKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAppMgr.exe";
const char kDescription[] = "Quadrakey.ini";
constexpr DWORD kManagerPathBytes = 261;
constexpr DWORD kFullPathBytes = 1040;

// The manager's program path from its registry entry; false when the key or
// its default value is missing, is not a text, or is empty.
bool FindManager(std::string* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  // One spare byte stays zero: a value stored without its terminating zero
  // still ends inside the buffer.
  char buffer[kManagerPathBytes + 1] = {};
  DWORD size = kManagerPathBytes;
  DWORD type = 0;
  LONG result = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  *path = buffer;
  if (type == REG_EXPAND_SZ) {
    char expanded[kFullPathBytes] = {};
    DWORD needed = ExpandEnvironmentStringsA(buffer, expanded, kFullPathBytes);
    if (needed == 0 || needed > kFullPathBytes) return false;
    *path = expanded;
  }
  return !path->empty();
}

// The full path of the description in the current folder; false when it
// cannot be made or does not fit.
bool DescriptionPath(std::string* path) {
  char buffer[kFullPathBytes] = {};
  DWORD length = GetFullPathNameA(kDescription, kFullPathBytes, buffer, nullptr);
  // A result of the buffer's size or more is the size it would need.
  if (length == 0 || length >= kFullPathBytes) return false;
  *path = std::string(buffer, length);
  return true;
}

void RunManager(const std::string& manager, const std::string& description) {
  // Held in a growable string: two long paths can never run past its end.
  std::string command_line = "\"" + manager + "\" \"" + description + "\"";
  // The start-up record is the platform's own size (68 bytes on 32-bit x86),
  // all zero but its size field.
  static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return;  // the manager is not there to report anything: end quietly
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  std::string manager;
  if (!FindManager(&manager)) {
    MessageBoxA(nullptr, "Unable to find the CE App Manager", "Quadrakey Setup", MB_OK | MB_TOPMOST);
    return 0;
  }
  std::string description;
  if (!DescriptionPath(&description)) return 0;
  RunManager(manager, description);
  return 0;
}
