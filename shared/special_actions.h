// The special actions: what an assignment may name instead of a file. The
// name is what the settings store keeps; the number is the action's place in
// the table, which the pages list in order. Each row also says what the
// action visibly does: the launcher carries that out, and whatever shows a
// press (the device in a browser) reads it back from the same row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class SpecialAction : int {
  kRecord,
  kToday,
  kInputPanel,
  kStartMenu,
  kRotateScreen,
  kScrollUp,
  kScrollDown,
  kPageUp,
  kPageDown,
  kOkEnter,
  kEscCancel,
  kOpenFile,
  kPowerOff,
  kDoNothing,
  kCount
};

// What a press assigned the action visibly does.
enum class ActionEffect {
  kOpenAssignment,  // the assignment is opened as a file, as any path is
  kShowToday,       // the Today screen (the desktop window) comes to the front
  kToggleInputPanel,
  kKeyPress,        // `key` goes down and up, silently
  kKeyDownOnly,     // `key` goes down only: the device is off before a key-up matters
  kStartRotation,   // kRotationProgram starts with the press's rotation parameters
  kNothing,
};

// What the action does on a Windows PC (plat::OnPc()), where some of the
// device's meanings have no place.
enum class PcUse : uint8_t {
  kAsOnDevice,  // the row's effect, which a PC has too
  kKeyChord,    // `pc_key` goes down and up while `pc_with` is held
  kLeftOut,     // nothing a PC has: its lists do not offer it; a stored one
                // keeps, shows, and its press only says so
};

struct SpecialActionRow {
  SpecialAction action;
  const char16_t* name;
  ActionEffect effect;
  uint8_t key;  // the virtual key of kKeyPress and kKeyDownOnly
  PcUse pc = PcUse::kAsOnDevice;
  uint8_t pc_key = 0;
  uint8_t pc_with = 0;
};

// The program "<Rotate Screen>" starts from the application folder.
inline constexpr char16_t kRotationProgram[] = u"Turnscreen.exe";

// The one table, in index order.
inline constexpr SpecialActionRow kSpecialActions[] = {
    // Offered only where the button table has a Record command, which a PC
    // has not: the table decides, on a PC as on the device.
    {SpecialAction::kRecord, u"<Record>", ActionEffect::kOpenAssignment, 0},
    // The PC's Today is its desktop: Windows+D shows it (and, again, hides it).
    {SpecialAction::kToday, u"<Today>", ActionEffect::kShowToday, 0, PcUse::kKeyChord, 'D', 91},
    // A PC has a keyboard; Windows' own touch keyboard has no key of its own.
    {SpecialAction::kInputPanel, u"<Input Panel>", ActionEffect::kToggleInputPanel, 0, PcUse::kLeftOut},
    {SpecialAction::kStartMenu, u"<Start Menu>", ActionEffect::kKeyPress, 91},  // left Windows key
    {SpecialAction::kRotateScreen, u"<Rotate Screen>", ActionEffect::kStartRotation, 0},
    {SpecialAction::kScrollUp, u"<Scroll Up>", ActionEffect::kKeyPress, 38},
    {SpecialAction::kScrollDown, u"<Scroll Down>", ActionEffect::kKeyPress, 40},
    {SpecialAction::kPageUp, u"<Page Up>", ActionEffect::kKeyPress, 33},
    {SpecialAction::kPageDown, u"<Page Down>", ActionEffect::kKeyPress, 34},
    {SpecialAction::kOkEnter, u"<OK/Enter>", ActionEffect::kKeyPress, 13},
    {SpecialAction::kEscCancel, u"<ESC/Cancel>", ActionEffect::kKeyPress, 27},
    {SpecialAction::kOpenFile, u"<Open File>", ActionEffect::kOpenAssignment, 0},
    // The off key; a PC turned off at a key press would lose its open work,
    // and it has a power button and a Start Menu of its own for it.
    {SpecialAction::kPowerOff, u"<Power Off>", ActionEffect::kKeyDownOnly, 223, PcUse::kLeftOut},
    {SpecialAction::kDoNothing, u"<Do Nothing>", ActionEffect::kNothing, 0},
};

inline constexpr int kSpecialActionCount = static_cast<int>(SpecialAction::kCount);

namespace special_actions_detail {
constexpr bool RowsInEnumOrder() {
  for (int i = 0; i < kSpecialActionCount; ++i)
    if (static_cast<int>(kSpecialActions[i].action) != i) return false;
  return true;
}
}  // namespace special_actions_detail
static_assert(sizeof(kSpecialActions) / sizeof(kSpecialActions[0]) == kSpecialActionCount,
              "one row per special action");
static_assert(special_actions_detail::RowsInEnumOrder(), "rows in the order of their numbers");

// The name for 0..13, else the empty text.
const std::u16string& GetSpecialActionName(int index);
inline const std::u16string& GetSpecialActionName(SpecialAction action) {
  return GetSpecialActionName(static_cast<int>(action));
}
// Index of the name equal to `text` ignoring letter case, else -1.
int FindSpecialAction(const std::u16string& text);
// The action whose effect is a key event of `key`; nullptr when none is.
const SpecialActionRow* FindKeyAction(int key);

// Whether the assignment lists offer action `index` (`on_pc`: on a Windows
// PC, which leaves some out); false for no action.
bool IsActionOffered(int index, bool on_pc);
// What a press of an action a PC leaves out shows there.
std::u16string LeftOutOnPcText(const std::u16string& name);

// What the launcher shows when a press's assignment cannot be opened: a
// file no longer there, a path longer than it can hold.
inline constexpr char16_t kMissingAssignmentText[] =
    u"Cannot find the shortcut or program assigned to this key press. It may have been moved or "
    u"deleted since you last assigned it. Please run Quadrakey and make an assignment for this key "
    u"press again.";
inline constexpr char16_t kTooLongAssignmentText[] =
    u"The shortcut or program assigned to this key press has too long a path to be opened. Please "
    u"run Quadrakey and make an assignment for this key press again.";
