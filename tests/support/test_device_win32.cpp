// A fresh device on the win32 build, run under Wine: the registry keys the
// system and its tests use are removed (the user's settings among them),
// drive Q: (which the Wine runner maps to a folder of the build's own
// prefix) is emptied and made current, so that device paths such as
// "\Velbrook.log" land in it, and what the programs write in the folders of
// their own (the logs, and the takeover shortcuts beside the programs) goes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_device.h"

namespace testing_device {
namespace {

const wchar_t kDeviceRoot[] = L"Q:\\";

std::vector<std::wstring> Subkeys(HKEY root, const wchar_t* path) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  wchar_t name[512];
  for (DWORD index = 0;; ++index) {
    DWORD length = 512;
    LONG result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

std::wstring Fold(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// Keys a test may make anywhere. What the prefix held before the first test
// of this process stays; anything newer goes.
struct Area {
  HKEY root;
  const wchar_t* path;
  std::set<std::wstring> baseline;
};

std::vector<Area>& Areas() {
  static std::vector<Area> areas = [] {
    std::vector<Area> made = {{HKEY_LOCAL_MACHINE, L"Software", {}},
                              {HKEY_LOCAL_MACHINE, L"Software\\Microsoft", {}},
                              {HKEY_CLASSES_ROOT, L"", {}}};
    for (Area& area : made)
      for (const std::wstring& name : Subkeys(area.root, area.path)) area.baseline.insert(Fold(name));
    // The system's own keys never count as the prefix's.
    made[0].baseline.erase(L"quadrakey");
    made[1].baseline.erase(L"shell");
    return made;
  }();
  return areas;
}

void ClearRegistry() {
  for (const Area& area : Areas()) {
    for (const std::wstring& name : Subkeys(area.root, area.path)) {
      if (area.baseline.count(Fold(name)) != 0) continue;
      std::wstring full = area.path[0] != L'\0' ? std::wstring(area.path) + L"\\" + name : name;
      LONG result = RegDeleteTreeW(area.root, full.c_str());
      if (result != ERROR_SUCCESS) ADD_FAILURE() << "cannot remove a test key, error " << result;
    }
  }
  // The user's settings (the desktop's stand-in input panel state among
  // them), and a copy of the machine's that was under way.
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Quadrakey");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Quadrakey (copy under way)");
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// Empties the folder; names what it could not remove in *stuck.
void EmptyFolder(const std::wstring& folder, std::string* stuck) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + name;
    bool removed;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EmptyFolder(path + L"\\", stuck);
      removed = RemoveDirectoryW(path.c_str());
    } else {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      removed = DeleteFileW(path.c_str());
    }
    // Windows keeps a file that is still open, where Linux would unlink it.
    if (!removed) *stuck += " " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")";
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// The programs' own folders, as the platform names them, with a separator.
std::wstring ProductFolder(plat::ProductFolder which) {
  std::u16string folder;
  if (!plat::GetProductFolder(which, &folder)) return {};
  return std::wstring(folder.begin(), folder.end()) + L"\\";
}

void RemoveMatching(const std::wstring& folder, const wchar_t* pattern, std::string* stuck) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring path = folder + found.cFileName;
    if (!DeleteFileW(path.c_str())) *stuck += " " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")";
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

void EmptyProductFolders(std::string* stuck) {
  const std::wstring logs = ProductFolder(plat::ProductFolder::Logs);
  if (!logs.empty()) EmptyFolder(logs, stuck);
  const std::wstring programs = ProductFolder(plat::ProductFolder::Programs);
  if (!programs.empty()) RemoveMatching(programs, L"Tapdeck?.lnk", stuck);
}

bool made = false;

}  // namespace

std::string MakeFreshDevice() {
  ClearRegistry();
  DWORD attributes = GetFileAttributesW(kDeviceRoot);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ADD_FAILURE() << "drive Q: (the test device's files) is missing: run the tests through "
                     "tests/wine/run-under-wine.sh, which maps it";
    return {};
  }
  std::string stuck;
  EmptyFolder(kDeviceRoot, &stuck);
  if (!stuck.empty()) ADD_FAILURE() << "a fresh device needs an empty Q:, but these stay:" << stuck;
  stuck.clear();
  EmptyProductFolders(&stuck);
  if (!stuck.empty()) ADD_FAILURE() << "a fresh device has no logs or takeover shortcuts, but these stay:" << stuck;
  if (!SetCurrentDirectoryW(kDeviceRoot)) ADD_FAILURE() << "cannot make Q:\\ the current folder";
  made = true;
  return "the Wine registry and drive Q:";
}

void RemoveDevice() {
  if (!made) return;
  made = false;
  if (std::getenv("QK_KEEP_TEST_DEVICES") != nullptr) return;
  ClearRegistry();
  std::string ignored;  // the next MakeFreshDevice reports what stays
  EmptyFolder(kDeviceRoot, &ignored);
  EmptyProductFolders(&ignored);
}

int RunDeviceProgram(const std::string& program, const std::string& arguments,
                     const std::string& faults) {
  // The build hands over Linux paths; Wine shows the root as drive Z:.
  std::wstring path;
  if (!program.empty() && program[0] == '/') path = L"Z:";
  for (char c : program) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  std::wstring line = L"\"" + path + L"\"";
  if (!arguments.empty()) {
    line += L" ";
    for (char c : arguments) line += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  std::wstring setting(faults.begin(), faults.end());
  // The child inherits this process's environment block.
  SetEnvironmentVariableW(L"QUADRAKEY_FAULTS", setting.c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      kDeviceRoot, &startup, &process);
  SetEnvironmentVariableW(L"QUADRAKEY_FAULTS", nullptr);
  if (!started) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace testing_device
