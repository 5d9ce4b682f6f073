// The host's process entry: the command line is the text after the program.
#include <string>

#include "platform/host/device.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // One argument is the usual case (the shell passes the command line as one);
  // a person typing several gets them joined as the device would see them.
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line += ' ';
    command_line += argv[i];
  }
  plat::ExitProcess(DeviceMain(device::FromUtf8(command_line)));
}
