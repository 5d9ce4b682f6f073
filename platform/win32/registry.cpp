// Registry operations on the real registry. A RegKey is the HKEY itself.
#include <vector>

#include "platform/common/fault_gate.h"
#include "platform/win32/win32_api.h"

using win32::Fail;
using win32::FromRegResult;
using win32::W;

namespace {

HKEY Handle(plat::RegKey key) { return reinterpret_cast<HKEY>(key); }
plat::RegKey Wrap(HKEY key) { return reinterpret_cast<plat::RegKey>(key); }

// Windows CE has no RegDeleteTree, so subkeys go first, one by one.
LONG DeleteTree(HKEY parent, const std::wstring& path) {
  HKEY key = nullptr;
  LONG result = ::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | KEY_WRITE, &key);
  if (result != ERROR_SUCCESS) return result;
  std::vector<wchar_t> name(256);
  for (;;) {
    DWORD length = static_cast<DWORD>(name.size());
    // Always index 0: the list shrinks as children go.
    result = ::RegEnumKeyExW(key, 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result == ERROR_MORE_DATA) {
      name.resize(name.size() * 2);
      continue;
    }
    if (result == ERROR_SUCCESS) result = DeleteTree(key, std::wstring(name.data(), length));
    if (result != ERROR_SUCCESS) {
      ::RegCloseKey(key);
      return result;
    }
  }
  ::RegCloseKey(key);
  return ::RegDeleteKeyW(parent, path.c_str());
}

#ifndef _WIN32_WCE
// There while settings from HKEY_LOCAL_MACHINE are being copied, made before
// the user's key and removed once it is whole: a copy cut short by a kill is
// made again, never taken for the person's settings.
const wchar_t kCopyingMarker[] = L"Software\\Quadrakey (copy under way)";
const wchar_t kCopyMutex[] = L"Local\\QuadrakeySettingsCopy";

bool KeyExists(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

bool UserSettingsSettled() {
  return KeyExists(HKEY_CURRENT_USER, W(plat::kProductKey)) && !KeyExists(HKEY_CURRENT_USER, kCopyingMarker);
}

// Settings an earlier version kept for the whole PC become the user's own
// the first time, so that nothing is lost; the machine's key stays as it
// was (a standard user could not remove it anyway).
void TakeOverMachineSettings() {
  if (UserSettingsSettled()) return;
  HKEY machine = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(plat::kProductKey), 0, KEY_READ, &machine) != ERROR_SUCCESS) return;
  // Two programs starting at once copy once.
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kCopyMutex);
  const DWORD waited = mutex != nullptr ? ::WaitForSingleObject(mutex, 10000) : WAIT_FAILED;
  const bool held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  if (held && !UserSettingsSettled()) {
    HKEY marker = nullptr;
    HKEY user = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kCopyingMarker, 0, nullptr, 0, KEY_WRITE, nullptr, &marker, nullptr) ==
            ERROR_SUCCESS &&
        ::RegCreateKeyExW(HKEY_CURRENT_USER, W(plat::kProductKey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user,
                          nullptr) == ERROR_SUCCESS &&
        ::RegCopyTreeW(machine, nullptr, user) == ERROR_SUCCESS) {
      ::RegCloseKey(marker);
      marker = nullptr;
      ::RegDeleteKeyW(HKEY_CURRENT_USER, kCopyingMarker);
    }
    if (user != nullptr) ::RegCloseKey(user);
    if (marker != nullptr) ::RegCloseKey(marker);
  }
  if (held) ::ReleaseMutex(mutex);
  if (mutex != nullptr) ::CloseHandle(mutex);
  ::RegCloseKey(machine);
}
#else
void TakeOverMachineSettings() {}  // the device's settings stay where they are
#endif

}  // namespace

namespace win32 {

HKEY RootKey(plat::RegRoot root) {
  switch (root) {
    case plat::RegRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case plat::RegRoot::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case plat::RegRoot::Product:
      break;
  }
  if (!kOnPc) return HKEY_LOCAL_MACHINE;
  static const bool settled = (TakeOverMachineSettings(), true);
  (void)settled;
  return HKEY_CURRENT_USER;
}

}  // namespace win32

namespace plat {

bool OnPc() { return win32::kOnPc; }

RegKey RegOpenKey(RegRoot root, const std::u16string& path, uint32_t access) {
  common::FaultGate gate(faults::Op::RegistryOpen);
  if (gate.failed()) return nullptr;
  HKEY key = nullptr;
  if (!FromRegResult(::RegOpenKeyExW(win32::RootKey(root), W(path), 0, access, &key))) return nullptr;
  return Wrap(key);
}

RegKey RegCreateKey(RegRoot root, const std::u16string& path, uint32_t access) {
  common::FaultGate gate(faults::Op::RegistryOpen);
  if (gate.failed()) return nullptr;
  HKEY key = nullptr;
  LONG result = ::RegCreateKeyExW(win32::RootKey(root), W(path), 0, nullptr, 0, access, nullptr,
                                  &key, nullptr);
  if (!FromRegResult(result)) return nullptr;
  return Wrap(key);
}

void RegCloseKey(RegKey key) {
  if (key != nullptr) ::RegCloseKey(Handle(key));
}

bool RegQueryValue(RegKey key, const std::u16string& name, uint32_t* type, void* data,
                   uint32_t* size) {
  common::FaultGate gate(faults::Op::RegistryRead);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (size == nullptr && data != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  DWORD got_type = 0;
  DWORD got_size = size != nullptr ? *size : 0;
  LONG result = ::RegQueryValueExW(Handle(key), W(name), nullptr, &got_type,
                                   static_cast<BYTE*>(data), size != nullptr ? &got_size : nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    if (size != nullptr) *size = got_size;
    if (type != nullptr) *type = got_type;
  }
  return FromRegResult(result);
}

bool RegSetValue(RegKey key, const std::u16string& name, uint32_t type, const void* data,
                 uint32_t size) {
  common::FaultGate gate(faults::Op::RegistryWrite);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (data == nullptr && size != 0) return Fail(ERROR_INVALID_PARAMETER);
  return FromRegResult(::RegSetValueExW(Handle(key), W(name), 0, type,
                                        static_cast<const BYTE*>(data), size));
}

bool RegDeleteValue(RegKey key, const std::u16string& name) {
  common::FaultGate gate(faults::Op::RegistryDelete);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(ERROR_INVALID_HANDLE);
  return FromRegResult(::RegDeleteValueW(Handle(key), W(name)));
}

bool RegEnumKey(RegKey key, uint32_t index, char16_t* name, uint32_t capacity) {
  common::FaultGate gate(faults::Op::RegistryEnum);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (capacity == 0) {
    // No room is too little room, as on the host; a key name never exceeds
    // 255 characters, so a scratch buffer tells an existing subkey from the end.
    wchar_t scratch[256];
    DWORD length = 256;
    LONG result = ::RegEnumKeyExW(Handle(key), index, scratch, &length, nullptr, nullptr, nullptr, nullptr);
    return Fail(result == ERROR_SUCCESS ? ERROR_MORE_DATA : static_cast<DWORD>(result));
  }
  DWORD length = capacity;
  return FromRegResult(::RegEnumKeyExW(Handle(key), index, reinterpret_cast<wchar_t*>(name),
                                       &length, nullptr, nullptr, nullptr, nullptr));
}

bool RegDeleteKey(RegRoot root, const std::u16string& path) {
  common::FaultGate gate(faults::Op::RegistryDelete);
  if (gate.failed()) return false;
  // An empty path would name the root itself.
  if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);
  return FromRegResult(DeleteTree(win32::RootKey(root), std::wstring(W(path))));
}

}  // namespace plat
