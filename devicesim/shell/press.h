// A key press on the device: key down, the key down taken by whoever takes
// it (the owner of a hot key for it, else the shell, which runs the button
// table entry's command, else the program of the foreground window), key up.
// devicesim press, series and serve all press keys this way.
#pragma once

#include <cstdint>
#include <string>

#include "config/model/launch_buttons.h"

namespace devicesim {

struct HardwareButton {
  std::u16string entry;    // the table entry's name, as the table spells it ("40C1");
                           // empty for a key the table does not have
  int virtual_key = 0;     // the entry name's last two hex digits, or the key's code
  std::u16string command;  // what the shell runs: the entry's default value, or "ResetCmd"
  std::u16string key_name; // for a key without an entry: its name on the device
};

// Who took a key down.
struct KeyTaker {
  enum class Kind { kNobody, kHotKey, kShell, kForeground, kCaptor };
  Kind kind = Kind::kNobody;
  int64_t pid = 0;  // the hot key's owner, the foreground window's program, or the dialog's that took the key
};

enum class FindButtonResult {
  kFound,
  kNoEntry,      // the button table has no entry of that name
  kNotAButton,   // the entry's name is not hexadecimal, so it names no key
  kUnreadable,   // the device's registry could not be read
};

// EntryVirtualKey, the key a table entry's name encodes, is the button
// table's (config/model/launch_buttons.h).

// A key's code written as "0x75" or "117", or its name ("Volume Up",
// "side-key", "F6"); -1 when it names no key a device can have (1 to 0xFE).
int KeyCodeOf(const std::string& text);

// Looks the entry `name` up in HKLM\SOFTWARE\Microsoft\Shell\Keys in any
// letter case and reads its command now. A name that no entry has may name
// any key instead: its code ("0x75" or "117") or its name ("Volume Up",
// "side-key", "F6"); the key is then the table entry's whose name ends in
// its two hex digits (the "40" entry first) or, without one, a key of its
// own. A message in *error unless found.
FindButtonResult FindHardwareButton(const std::string& name, HardwareButton* button, std::string* error);

// A press is these three steps; a caller times them itself. Each is false
// with the reason in *problem when it could not be done.
// The key goes down and is journalled ("button", down).
bool KeyGoesDown(const HardwareButton& button, std::string* problem);
// The key down goes to whoever takes it: a dialog that took the key for
// itself (which had it with the move, from KeyGoesDown) takes it alone;
// else as a hot key to the program that registered one for the key, else
// to the shell, which runs the entry's command (there may be none), else to
// the program of the foreground window. *taker (when given) says who took it.
bool RunButtonCommand(const HardwareButton& button, std::string* problem, KeyTaker* taker = nullptr);
// The key goes up and is journalled ("button", up); a key that the
// foreground window's program had down goes up there too. False with the
// reason when it could not be done.
bool ButtonUp(const HardwareButton& button, std::string* problem);

}  // namespace devicesim
