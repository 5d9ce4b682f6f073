// tapdeck: the configuration program.
#include <string>

#include "config/tapdeck.h"

int DeviceMain(const std::u16string& /*command_line*/) { return RunTapdeck(); }
