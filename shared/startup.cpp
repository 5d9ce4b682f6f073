// The process-wide objects of a program built on the shared foundation, made
// after main has begun (by the platform's entry, or by devicesim and the
// tests once they have chosen a device) rather than by static initialisers.
#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/text.h"

void DeviceStartUp() {
  // First, so that running out of memory in what follows is reported.
  InstallOutOfMemoryHandler();
  CreateLogState();
}

void DeviceShutDown() { ReleaseLogState(); }
