// The Windows entry point of a device program.
#include <cstdlib>

#include "platform/faults.h"
#include "platform/win32/win32_api.h"

namespace {

// The text after the program's path, as the runtime gives a WinMain: a
// quoted path ends at its closing quote, an unquoted one at the first blank.
std::u16string ArgumentsOf(const wchar_t* line) {
  if (line == nullptr) return {};
  const wchar_t* p = line;
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return win32::U(p);
}

}  // namespace

// A plain main in both subsystems: the wide command line comes from the
// system rather than from a -municode runtime.
int main() {
  win32::TakeHandedPress();
  if (const uint32_t late = plat::faults::StartDelayMs()) plat::Sleep(late);
  DeviceStartUp();
  // Registered after start-up: runs before the objects made earlier are gone.
  std::atexit(DeviceShutDown);
  int code = DeviceMain(ArgumentsOf(::GetCommandLineW()));
  // What a program did on a damaged registry may not have been kept.
  if (code == 0 && plat::RegistryDamage() != 0) code = 1;
  plat::ExitProcess(code);
}
