// A program that reads one product setting as every program does, for the
// tests of where a PC keeps the settings: its exit code is the length of
// "ButtonA" as it reads it, or 100 when it cannot read it.
#include <string>

#include "platform/platform.h"
#include "shared/settings.h"

int DeviceMain(const std::u16string&) {
  std::u16string text;
  if (!ReadRegString(plat::RegRoot::Product, kSettingsKey, u"ButtonA", text)) return 100;
  return static_cast<int>(text.size());
}
