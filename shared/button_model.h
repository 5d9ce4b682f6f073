// What a button is, for every program that meets one: its page position
// (the hardware buttons of the shell's table first, sorted by name, then the
// user-defined list), the 32-position limit, and the values stored for it
// under the settings key, with their types, defaults and ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- Positions ----------------------------------------------------------------

// Page positions from 32 on have no settings of their own: the button letter
// of position 32 is 'a', and the registry compares value names without
// regard to letter case, so "ButtonAa" is "ButtonA" of position 0 (and so on
// up to 'z'). Nothing acts on them, and the page that adds buttons keeps
// hardware buttons plus user-defined ones at 32 or fewer.
inline constexpr uint32_t kButtonPositionLimit = 32;
// How many user-defined buttons fit beside `hardware_buttons`.
inline size_t MaxUserButtons(size_t hardware_buttons) {
  return hardware_buttons >= kButtonPositionLimit ? 0 : kButtonPositionLimit - hardware_buttons;
}

// ---- The shell's button table ---------------------------------------------------

// True when an entry's (default) command stands for its reset command: the
// shell runs "ResetCmd" for an empty command or a pair of double quotes.
bool CommandMeansReset(const std::u16string& command);

// The virtual key a table entry's name encodes: its last two hex digits
// ("40C1" is modifier 0x40 with key 0xC1). -1 when the name is not 1 to 8
// hex digits.
int EntryVirtualKey(const std::u16string& entry);

// One entry of the table (HKEY_LOCAL_MACHINE "SOFTWARE\Microsoft\Shell\Keys")
// as read. A value that is missing, or stored as something other than text,
// reads as empty.
struct ButtonTableEntry {
  std::u16string key_path;       // below HKEY_LOCAL_MACHINE: the table's key, '\', the entry
  std::u16string name;           // "Name": sets the button order
  std::u16string reset_command;  // "ResetCmd"
  std::u16string command;        // (default): the command the shell runs now
  // The first value whose read failed otherwise, with its error; 0 when none.
  const char16_t* failed_value = nullptr;
  uint32_t error = 0;

  // The entry's own name, the path's last part ("40C1").
  std::u16string Entry() const;
  // A button of its own: it has a reset command and is not one of the
  // shell's hold entries (its name contains "(Hold)").
  bool IsButton() const;
};

struct ButtonTable {
  std::vector<ButtonTableEntry> entries;  // every entry, in enumeration order
  // 0 when the whole table was read (a missing table reads as empty); else
  // the first failure. The positions of a table read with gaps may be
  // wrong: nothing may be stored or rewritten under them.
  uint32_t read_error = 0;

  // The hardware buttons in page order: by name, code unit by code unit
  // ("Button 2" < "Zed" < "button 1"); entries of one name keep the table's
  // order.
  std::vector<const ButtonTableEntry*> Buttons() const;
};

// Reads the table whole, every time: nothing is kept between calls.
ButtonTable ReadButtonTable();

// ---- Values stored for a button -------------------------------------------------

// What a stored value is: an assignment (text), the parameters
// "<Rotate Screen>" keeps for an assignment (text), or a number.
enum class ButtonValueKind { kAssignment, kRotation, kDword };

// One value the settings key holds for each position.
struct ButtonSetting {
  ButtonValueKind kind;
  // The value's name for position 0 ("ButtonA2h", "EnabledA"); the button
  // letter takes the place of its 'A'.
  const char16_t* position0_name;
  // Assignments and their parameters: the press they belong to.
  int32_t press_count;
  bool hold;
  // Numbers: read when the button has none of its own and no global value
  // stands in; the range a page offers.
  uint32_t default_value;
  uint32_t minimum, maximum;
  // A settings-key value that stands in when the button has none, or nullptr.
  const char16_t* global_name;
  // Moves with a user-defined button when the list changes.
  bool moves_with_button;
};

// Assignments: single press, press and hold, double press, double press
// and hold; each with the parameters "<Rotate Screen>" keeps for it.
extern const ButtonSetting kSingleAssignment, kHoldAssignment, kDoubleAssignment, kDoubleHoldAssignment;
extern const ButtonSetting kSingleRotation, kHoldRotation, kDoubleRotation, kDoubleHoldRotation;
extern const ButtonSetting kEnabledSetting;       // "EnabledA": 0 switches the button off
extern const ButtonSetting kStateSetting;         // "StateA": the press counter
extern const ButtonSetting kVirtualKeySetting;    // "VirtualKeyA": the key the shell named
extern const ButtonSetting kHoldIntervalSetting;  // "HoldIntervalA", else "HoldInterval"
extern const ButtonSetting kDoubleIntervalSetting;  // "DblClickIntervalA", else "DblClickInterval"

// Every value stored for a button, in one order.
const std::vector<const ButtonSetting*>& ButtonSettings();

// The assignment's or its rotation parameters' row for a press.
const ButtonSetting& AssignmentSetting(int32_t press_count, bool hold);
const ButtonSetting& RotationSetting(int32_t press_count, bool hold);

// The value's name for a position; empty when the letter would wrap to zero.
std::u16string ButtonSettingName(const ButtonSetting& setting, uint32_t position);
// The names of the values that move with the button at `position`, in the
// order of ButtonSettings.
std::vector<std::u16string> ButtonSettingNames(uint32_t position);

// A DWORD setting of a position: its own value, else the global one, else
// the default. A value of the wrong kind counts as missing.
uint32_t ReadButtonSetting(const ButtonSetting& setting, uint32_t position);
// The global value, else the default.
uint32_t ReadGlobalSetting(const ButtonSetting& setting);
// The nearest value within the setting's range.
uint32_t ClampToRange(const ButtonSetting& setting, uint32_t value);
