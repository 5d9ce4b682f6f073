// A hardware button press through the device's shell: key down, the button
// table entry's command run as the shell runs it, key up. devicesim press,
// series and serve all press buttons this way.
#pragma once

#include <string>

namespace devicesim {

struct HardwareButton {
  std::u16string entry;    // the table entry's name, as the table spells it ("40C1")
  int virtual_key = 0;     // the entry name's last two hex digits
  std::u16string command;  // what the shell runs: the entry's default value, or "ResetCmd"
};

enum class FindButtonResult {
  kFound,
  kNoEntry,      // the button table has no entry of that name
  kNotAButton,   // the entry's name is not hexadecimal, so it names no key
  kUnreadable,   // the device's registry could not be read
};

// The virtual key a table entry's name encodes: its last two hex digits
// ("40C1" is modifier 0x40 with key 0xC1). -1 when the name is not 1 to 8
// hex digits.
int EntryVirtualKey(const std::u16string& entry);

// Looks the entry `name` up in HKLM\SOFTWARE\Microsoft\Shell\Keys in any
// letter case and reads its command now. A message in *error unless found.
FindButtonResult FindHardwareButton(const std::string& name, HardwareButton* button, std::string* error);

// A press is these three steps; a caller times them itself. Each is false
// with the reason in *problem when it could not be done.
// The key goes down and is journalled ("button", down).
bool KeyGoesDown(const HardwareButton& button, std::string* problem);
// The shell runs the command; there may be none.
bool RunButtonCommand(const HardwareButton& button, std::string* problem);
// The key goes up and is journalled ("button", up); false with the reason
// when either could not be done.
bool ButtonUp(const HardwareButton& button, std::string* problem);

}  // namespace devicesim
