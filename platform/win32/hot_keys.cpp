// Hot keys, key names and the programs that start at sign-in.
#include "platform/common/fault_gate.h"
#include "platform/common/key_names.h"
#include "platform/common/shell_text.h"
#include "platform/win32/win32_api.h"

using win32::Fail;
using win32::W;

namespace {

#ifndef _WIN32_WCE
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A drive-relative device path ("\Program Files\...") would be read against
// whatever drive is current at sign-in; the entry names the drive.
std::u16string FullPath(const std::u16string& path) {
  wchar_t full[MAX_PATH + 1] = {};
  const DWORD length = ::GetFullPathNameW(W(path), MAX_PATH + 1, full, nullptr);
  if (length == 0 || length > MAX_PATH) return path;
  return win32::U(full);
}
#else
std::u16string EntryPath(const std::u16string& name) { return u"\\Windows\\StartUp\\" + name + u".lnk"; }
#endif

}  // namespace

namespace plat {

bool RegisterHotKey(Window window, int id, uint32_t modifiers, uint32_t virtual_key) {
  common::FaultGate gate(faults::Op::HotKeyRegister);
  if (gate.failed()) return false;
  HWND hwnd = reinterpret_cast<HWND>(window);
  DWORD owner = 0;
  if (window == 0 || ::GetWindowThreadProcessId(hwnd, &owner) == 0) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (owner != ::GetCurrentProcessId()) return Fail(ERROR_WINDOW_OF_OTHER_THREAD);
  if (virtual_key < 1 || virtual_key > 0xFE || id < 0 || id > 0xBFFF) return Fail(ERROR_INVALID_PARAMETER);
  if (!::RegisterHotKey(hwnd, id, modifiers, virtual_key)) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_HOTKEY_ALREADY_REGISTERED);
    return false;
  }
  return true;
}

bool UnregisterHotKey(Window window, int id) {
  if (::UnregisterHotKey(reinterpret_cast<HWND>(window), id)) return true;
  if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_HOTKEY_NOT_REGISTERED);
  return false;
}

std::u16string GetKeyName(uint32_t virtual_key) { return common::StandardKeyName(virtual_key); }

bool SetSignInStart(const std::u16string& name, const std::u16string& program) {
  common::FaultGate gate(faults::Op::SignInEntry);
  if (gate.failed()) return false;
  if (!common::IsSignInName(name) || program.empty()) return Fail(ERROR_INVALID_PARAMETER);
#ifdef _WIN32_WCE
  return CreateShortcut(EntryPath(name), u"\"" + program + u"\"");
#else
  const std::u16string command = u"\"" + FullPath(program) + u"\"";
  HKEY key = nullptr;
  if (!win32::FromRegResult(::RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                              &key, nullptr)))
    return false;
  const LONG result = ::RegSetValueExW(key, W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                       static_cast<DWORD>((command.size() + 1) * sizeof(char16_t)));
  ::RegCloseKey(key);
  return win32::FromRegResult(result);
#endif
}

bool RemoveSignInStart(const std::u16string& name) {
  common::FaultGate gate(faults::Op::SignInEntry);
  if (gate.failed()) return false;
  if (!common::IsSignInName(name)) return Fail(ERROR_INVALID_PARAMETER);
#ifdef _WIN32_WCE
  if (DeleteFile(EntryPath(name))) return true;
  const DWORD error = ::GetLastError();
#else
  HKEY key = nullptr;
  LONG error = ::RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
  if (error == ERROR_SUCCESS) {
    error = ::RegDeleteValueW(key, W(name));
    ::RegCloseKey(key);
  }
  if (error == ERROR_SUCCESS) return true;
#endif
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    ::SetLastError(ERROR_SUCCESS);
    return true;
  }
  return Fail(static_cast<DWORD>(error));
}

bool GetSignInStart(const std::u16string& name, std::u16string* program) {
  if (!common::IsSignInName(name) || program == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string command;
#ifdef _WIN32_WCE
  TextFile file = OpenTextFile(EntryPath(name), "rt");
  if (file == nullptr) return false;
  std::string bytes;
  const bool read = ReadTextFile(file, &bytes);
  CloseTextFile(file);
  if (!read || !common::ParseShortcutText(bytes, &command)) return Fail(ERROR_BAD_FORMAT);
#else
  HKEY key = nullptr;
  if (!win32::FromRegResult(::RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key))) return false;
  DWORD type = 0, size = 0;
  LONG result = ::RegQueryValueExW(key, W(name), nullptr, &type, nullptr, &size);
  if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) result = ERROR_BAD_FORMAT;
  if (result == ERROR_SUCCESS) {
    std::u16string buffer(size / sizeof(char16_t) + 1, u'\0');
    DWORD capacity = static_cast<DWORD>(buffer.size() * sizeof(char16_t));
    result = ::RegQueryValueExW(key, W(name), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &capacity);
    command = buffer.substr(0, buffer.find(u'\0'));
  }
  ::RegCloseKey(key);
  if (!win32::FromRegResult(result)) return false;
#endif
  std::u16string args;
  common::SplitCommand(command, program, &args);
  return true;
}

}  // namespace plat
