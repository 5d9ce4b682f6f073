// The Pocket PC shell's input panel and application-key queries. A Windows
// CE SDK build calls the shell library itself; the desktop has neither an
// input panel nor a button table, so it gets the equivalents below.
#include "platform/win32/win32_api.h"

#ifdef _WIN32_WCE
#include <aygshell.h>

namespace plat {

bool ShSipInfo(uint32_t action, uint32_t param, SipInfo* info, uint32_t win_ini) {
  return ::SHSipInfo(action, param, info, win_ini) != FALSE;
}

bool ShSipPreference(Window window, int request) {
  return ::SHSipPreference(reinterpret_cast<HWND>(window), static_cast<SIPSTATE>(request)) != FALSE;
}

uint8_t GetAppKey(const std::u16string& program_file_name) {
  return ::SHGetAppKeyAssoc(win32::W(program_file_name));
}

}  // namespace plat

#else

namespace {

// The desktop's stand-in panel state lives in the registry, not in the
// process: each press is a new launcher process, and a toggle must see
// what the previous one did.
const wchar_t kPanelKey[] = L"Software\\Quadrakey\\Desktop";
const wchar_t kPanelValue[] = L"InputPanelShown";

bool PanelShown() {
  DWORD shown = 0;
  DWORD size = sizeof shown;
  DWORD type = 0;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPanelKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  LONG result = ::RegQueryValueExW(key, kPanelValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&shown), &size);
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS && type == REG_DWORD && shown != 0;
}

bool SetPanelShown(bool shown) {
  HKEY key = nullptr;
  LONG result = ::RegCreateKeyExW(HKEY_CURRENT_USER, kPanelKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return win32::Fail(static_cast<DWORD>(result));
  DWORD value = shown ? 1 : 0;
  result = ::RegSetValueExW(key, kPanelValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value);
  ::RegCloseKey(key);
  return win32::FromRegResult(result);
}

}  // namespace

namespace plat {

bool ShSipInfo(uint32_t action, uint32_t /*param*/, SipInfo* info, uint32_t /*win_ini*/) {
  if (action != kSpiGetSipInfo || info == nullptr || info->size != sizeof(SipInfo))
    return win32::Fail(ERROR_INVALID_PARAMETER);
  if (PanelShown())
    info->flags |= kSipfOn;
  else
    info->flags &= ~kSipfOn;
  return true;
}

bool ShSipPreference(Window /*window*/, int request) {
  if (request == kSipUp) return SetPanelShown(true);
  if (request == kSipForceDown) return SetPanelShown(false);
  return true;  // the other requests leave the panel as it is
}

// The desktop has no button table, so no program has an application key.
uint8_t GetAppKey(const std::u16string& /*program_file_name*/) { return 0; }

}  // namespace plat

#endif
