// The "Settings" page without its window: which rows and notices show for
// the selected button, what each press combo box lists and selects, what a
// choice stores, and what Done does to the button table. The page's binding
// (config/pages/assignment_page.cpp) shows what this answers and reports
// what the person did, in the order the person did it; the debug log lines
// are written here, in that order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/model/launch_buttons.h"

// The four press combo boxes, top to bottom.
enum class PressRow : uint8_t { kSingle, kHold, kDouble, kDoubleHold };
constexpr int kPressRowCount = 4;

struct PressSlot {
  int32_t press_count;
  bool hold;
};
PressSlot SlotOf(PressRow row);

// One line of a press combo box. The text lives as long as the model, the
// catalogue and the special-action table; an "Open: " line's text until the
// same combo box is filled again.
struct ComboLine {
  const std::u16string* text;
  intptr_t code;  // its item code (config/model/item_codes.h)
};

struct ComboContent {
  std::vector<ComboLine> lines;
  int selected = -1;  // -1: no line
};

// What the page shows below the button list for the current button.
struct PageShows {
  bool user_button_label = false;  // "(User defined button via Add Buttons)"
  bool override_box = false;       // "Do override original button setting"
  bool override_checked = false;
  bool rows[kPressRowCount] = {};  // a press row: its label and its combo box
  bool record_notice = false;      // in place of the three lower rows
  bool no_settings_notice = false;  // in place of every row: the button has no settings of its own
  // "Tune Timing...", shown with the lower rows (a "<Record>" button's
  // presses are the device's own); enabled when the button's key is known.
  bool tune = false;
  bool tune_enabled = false;
  // The combo boxes this refresh filled anew, and what they hold now.
  bool filled[kPressRowCount] = {};
  ComboContent combos[kPressRowCount];
};

// What picking a line of a press combo box did.
struct Choice {
  enum class Outcome {
    kStored,     // `text` is the slot's assignment now (empty: no line was picked)
    kNeedsFile,  // "<Open File>": the person chooses a file, then FileChosen
    kTooLong,    // `text` is too long for the launcher: the slot keeps what it had
    kIgnored,    // the line stands for nothing: nothing is stored
  };
  Outcome outcome = Outcome::kIgnored;
  intptr_t code = -1;  // the line's item code; -1 for no line
  std::u16string text;
  bool refill = false;  // the combo box must show the slot again: FillCombo
};

// What Done does to one hardware button.
struct ButtonDone {
  enum class Kind {
    kTakeOver,  // the takeover shortcut `command` made anew with `shortcut_target`, then the command
    kRecord,    // the Record command (empty when the device has none)
    kGiveBack,  // the reset command: taken over, but no longer enabled
    kLeave,     // left alone: not enabled and not taken over, or its takeover cannot be made (logged)
  };
  Kind kind = Kind::kLeave;
  uint32_t button = 0;
  std::u16string command;          // the new command; kLeave: none
  std::u16string shortcut_target;  // kTakeOver: the launcher's command line
  // kLeave for a button that was to change but cannot: why (a Win32 error).
  uint32_t kept_error = 0;
};

class AssignmentModel {
 public:
  static const char16_t kCaption[];
  static const char16_t kRebootNotice[];

  explicit AssignmentModel(LaunchButtons& buttons);
  AssignmentModel(const AssignmentModel&) = delete;
  AssignmentModel& operator=(const AssignmentModel&) = delete;

  // ---- Opening --------------------------------------------------------------
  // The button list's lines: each hardware button as "Name (originally
  // Title)", then the user-defined buttons' names as stored.
  std::vector<std::u16string> ButtonListLines() const;
  // The lines again after the user-defined buttons changed: the current
  // button stays the same button (found by its key code), or the first
  // when it was removed.
  std::vector<std::u16string> ReloadButtonList();
  // The page that shows this model, for a page that changes its list.
  uintptr_t view = 0;
  // Notes which buttons hold the Record command; the page does so once the
  // first refresh has filled it.
  void NoteRecordButtons();

  // ---- The current button -----------------------------------------------------
  // The selected line of the button list; 0 when the page opens, -1 when
  // nothing is selected. From the hardware button count on, user-defined.
  int32_t CurrentButton() const { return current_; }
  void SelectButton(int32_t position) { current_ = position; }
  bool IsUserDefined(int32_t position) const;
  // The key of the button at `position`: a hardware button's stored
  // "VirtualKey" value, a user-defined button's listed key; 0 when unknown.
  uint32_t KeyCodeOf(int32_t position) const;
  // Everything below the list for the current button; the three lower combo
  // boxes are filled whenever they show, the single press only when asked.
  PageShows Refresh(bool fill_single);
  // One press combo box for the current button: the special actions it
  // offers, the catalogue, and the line of the slot's assignment (an
  // "Open: " line when no other line shows it).
  ComboContent FillCombo(PressRow row);
  // The override box was clicked and is now `checked`: stored at once.
  void SetOverride(bool checked);

  // ---- Choosing ---------------------------------------------------------------
  // The person picked line `line` (-1: none) with item code `code` in the
  // current button's combo box of `row`; stores what it stands for.
  Choice Choose(PressRow row, int line, intptr_t code);
  // The file chosen for "<Open File>", or null when the person cancelled or
  // the dialog failed ("<Do Nothing>" is stored then).
  Choice FileChosen(PressRow row, const std::u16string* path);
  // What the person is told about a choice of kTooLong.
  static std::u16string TooLongNotice();
  // Why a button from position 32 on shows no presses.
  static std::u16string NoSettingsNotice();

  // ---- Done --------------------------------------------------------------------
  // Bit i for every hardware button i below 32 whose command is the Record
  // command; 0 when the device has none.
  uint32_t RecordButtonMask();
  // What Done does to the hardware button; reads only.
  ButtonDone PlanDone(uint32_t button);
  // False, with the last error, when the button keeps its command because
  // the takeover shortcut could not be made.
  bool CarryOut(const ButtonDone& done);
  // Every hardware button planned and carried out in index order; true when
  // the Record command moved to or from a button since the page opened, so
  // that the reboot notice shows.
  bool Done();
  // What the person is told when Done left buttons with the command they
  // had though they were to be taken over or given back; empty when none.
  std::u16string KeptNotice() const;

 private:
  LaunchButtons& buttons_;
  int32_t current_ = 0;
  mutable std::vector<uint32_t> shown_codes_;  // the user-defined buttons listed
  uint32_t record_mask_at_opening_ = 0;
  // The buttons the last Done could not change, with why.
  std::vector<std::pair<uint32_t, uint32_t>> kept_;
  int single_selected_ = -1;  // the single press's line: "<Record>" is line 0
  // Per combo box: the assignment its "Open: " line stands for (never
  // removed), and that line's text.
  std::u16string open_entry_paths_[kPressRowCount];
  std::u16string open_entry_lines_[kPressRowCount];
};
