// TapdeckH: the resident key listener; started by tapdeck, at sign-in, or by
// hand, with no arguments.
#include <string>

#include "keylistener/key_listener.h"

int DeviceMain(const std::u16string&) { return RunKeyListener(); }
