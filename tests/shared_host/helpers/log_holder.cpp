// Holds the log mutex the way another running program would.
// Command line: "<milliseconds>" to hold it and let go, or "die" to end
// while holding it.
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "shared/text.h"

int DeviceMain(const std::u16string& command_line) {
  plat::Mutex mutex = plat::CreateNamedMutex(u"VelbrookSoftwareLogMutex");
  if (mutex == nullptr) return 2;
  const plat::WaitResult got = plat::WaitForMutex(mutex, 10000);
  if (got == plat::WaitResult::Timeout || got == plat::WaitResult::Failed) return 3;
  plat::TextFile marker = plat::OpenTextFile(u"\\holding", "wt");
  if (marker == nullptr) return 4;
  plat::CloseTextFile(marker);
  if (command_line == u"die") std::_Exit(0);  // as a crash would: no release
  plat::Sleep(static_cast<uint32_t>(TextToLong(command_line)));
  plat::ReleaseMutex(mutex);
  plat::CloseMutex(mutex);
  return 0;
}
