// What the listener's notification-area icon says: its tip and its menu, from
// the buttons it took and whether it is paused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "keylistener/key_listener.h"
#include "platform/ui.h"

// The menu's commands (plat::WindowEvent::kTrayCommand).
inline constexpr uintptr_t kIconOpenTapdeck = 1;
inline constexpr uintptr_t kIconPause = 2;   // also Resume, while paused
inline constexpr uintptr_t kIconQuit = 3;

inline constexpr char16_t kOpenTapdeckText[] = u"Open Quadrakey";
inline constexpr char16_t kPauseText[] = u"Pause";
inline constexpr char16_t kResumeText[] = u"Resume";
inline constexpr char16_t kQuitText[] = u"Quit";

struct ListenerIcon {
  std::u16string tip;
  std::vector<plat::TrayMenuItem> menu;
  bool operator==(const ListenerIcon&) const = default;
};

// "Quadrakey: listening to 2 keys" (", 1 held by another program"), or
// "Quadrakey: paused". The menu: a line for each key listened to ("Notes
// (F13)"), each held by another program ("Media (F14): held by another
// program, tried again"), then Open Quadrakey, Pause or Resume, and Quit.
ListenerIcon DescribeListener(const std::vector<ListenedButton>& buttons, bool paused);
