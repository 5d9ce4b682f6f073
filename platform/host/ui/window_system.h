// The emulated device's window system, library qk_platform_ui: what host
// tests and devicesim may reach beyond platform/ui.h and platform/person.h.
//
// Windows, controls and modal loops live in the running program. While it
// waits for input, a program with a main window serves its channel
// (platform/host/ui/channel.h): another process sees its screen and acts on
// it there, as a person would. Without a channel, waiting for input calls the
// idle hook (person::SetIdleHook); a wait that nothing ends is reported on
// stderr and cancels what is in front, so a scenario that forgot a step
// ends instead of hanging. Message boxes wait for an answer while a main
// window exists or a modal loop runs, and are always journalled.
#pragma once

#include <string>

namespace device {

// The screen for people (combo box lines only when `combo_lines`), and as
// one JSON object (combo box lines left out unless `combo_lines`).
std::string ScreenText(bool combo_lines);
std::string ScreenJson(bool combo_lines);

// Forgets every window, closes the channel and removes the idle hook, for
// tests that run many programs' worth of windows in one process. Not while
// a modal loop runs.
void ResetWindowSystem();

}  // namespace device
