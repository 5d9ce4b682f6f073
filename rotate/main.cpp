// Turnscreen: turns the display one step; the command line is the mask.
#include <string>

#include "rotate/rotation.h"

// The tool keeps no process-wide objects: it reads no settings and writes no log.
void DeviceStartUp() {}
void DeviceShutDown() {}

int DeviceMain(const std::u16string& command_line) {
  RotateDisplay(command_line);
  return 0;
}
