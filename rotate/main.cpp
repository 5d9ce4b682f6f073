// Turnscreen: turns the display one step; the command line is the mask.
#include <string>

#include "rotate/rotation.h"

int DeviceMain(const std::u16string& command_line) {
  RotateDisplay(command_line);
  return 0;
}
