// tapdeck's "Add Button Intercept" dialog on its own, for the Xvfb test:
// it waits for a real key, offers its name, and on Accept prints
//   key CODE name NAME
// and ends with 0; 1 when it was cancelled.
#include <cstdio>
#include <string>

#include "shared/user_buttons.h"
#include "config/pages/pages.h"
#include "platform/ui.h"

void DeviceStartUp() {}
void DeviceShutDown() {}

int DeviceMain(const std::u16string&) {
  plat::InitControls(0x404);  // as tapdeck does: the templates hold "SIPPREF"
  const UserButtonList listed;
  uint32_t key_code = 0;
  std::u16string name;
  if (!RunInterceptDialog(0, listed, &key_code, &name)) return 1;
  std::string shown;
  for (char16_t c : name) shown += c < 0x80 ? static_cast<char>(c) : '?';
  std::printf("key %u name %s\n", static_cast<unsigned>(key_code), shown.c_str());
  std::fflush(stdout);  // the platform's exit does not flush the runtime's streams
  return 0;
}
