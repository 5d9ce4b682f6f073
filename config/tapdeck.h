// tapdeck, the configuration program: one run from start-up to the end.
#pragma once

#include <cstdint>

#include "platform/ui.h"

// Runs the program once: single-instance check, start-up and its log, the
// page set, the assignment dump. Returns the exit code (0). Everything the run
// makes (catalogue, button table object, page state) is released before it
// returns, so a process may run it again on another device.
int RunTapdeck();

// The main window's procedure: ends the message loop when the window goes,
// swallows keys and answers a hot key with a message box.
intptr_t TapdeckMainWindowProc(plat::Window window, plat::WindowEvent event, uintptr_t first,
                               intptr_t second);
