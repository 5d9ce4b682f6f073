// The host's process entry: the command line is the text after the program.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/device/device.h"
#include "platform/faults.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Without a device every registry read would fall back to its default and
  // every log call would complain about its mutex; say what is wrong instead.
  const char* program = argc > 0 ? argv[0] : "program";
  if (!device::Exists()) {
    std::fprintf(stderr, "%s: no emulated device in %s (make one with 'devicesim init', or set QUADRAKEY_DEVICE)\n",
                 program, device::Folder().c_str());
    plat::ExitProcess(1);
  }
  // A fold of the registry's log waits for the disk: a device program makes
  // it as it ends, after its work (see device.h).
  device::FoldLogAtEnd();
  // A device that cannot be read (a corrupt registry.db, a folder that
  // refuses its log) would read as an empty one, and a press would end in
  // "Success" having done nothing: refuse it the same way.
  if (!device::Open()) {
    std::fprintf(stderr, "%s: cannot use the emulated device in %s: %s\n", program, device::Folder().c_str(),
                 device::ErrorText(plat::GetLastError()).c_str());
    plat::ExitProcess(1);
  }
  // One argument is the usual case (the shell passes the command line as one);
  // a person typing several gets them joined as the device would see them.
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line += ' ';
    command_line += argv[i];
  }
  if (const uint32_t late = plat::faults::StartDelayMs()) plat::Sleep(late);
  DeviceStartUp();
  // Registered after start-up: runs before the objects made earlier are gone.
  std::atexit(DeviceShutDown);
  int code = DeviceMain(device::FromUtf8(command_line));
  // A device found damaged while the program ran is refused as one found so
  // at its start: what the program did may not have been kept.
  if (const uint32_t damage = plat::RegistryDamage()) {
    std::fprintf(stderr, "%s: the emulated device in %s is damaged: %s; what the program did may not have been kept\n",
                 program, device::Folder().c_str(), device::ErrorText(damage).c_str());
    if (code == 0) code = 1;
  }
  plat::ExitProcess(code);
}
