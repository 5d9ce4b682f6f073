// TapdeckX: started by the shell once for every press of a taken-over
// button, with the button index as its command line.
#include <string>

#include "launcher/dispatch.h"
#include "launcher/press_classifier.h"
#include "platform/platform.h"

int DeviceMain(const std::u16string& command_line) {
  ClassifyPress(ButtonFromCommandLine(command_line));
  if (const uint32_t damage = plat::RegistryDamage()) {
    ReportRegistryDamage(damage);
    return 1;
  }
  return 0;
}
