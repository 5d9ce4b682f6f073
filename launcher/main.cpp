// TapdeckX: started by the shell once for every press of a taken-over
// button, with the button index as its command line.
#include <string>

#include "launcher/press_classifier.h"

int DeviceMain(const std::u16string& command_line) {
  ClassifyPress(ButtonFromCommandLine(command_line));
  return 0;
}
