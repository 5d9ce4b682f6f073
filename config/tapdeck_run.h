// What the pages and dialogs of one run of tapdeck share. The run owns it;
// the pages reach it through ActiveRun() while the run lasts.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "config/model/launch_buttons.h"
#include "platform/ui.h"

struct AssignmentPageState {
  // Position of the selected line of the button list: hardware buttons first,
  // then user-defined ones.
  int32_t current_button = 0;
  uint32_t record_mask_at_opening = 0;
  // The assignment each press combo box's "Open: " line stands for, by the
  // combo box's id. Set whenever such a line is added; never removed.
  std::map<int, std::u16string> open_entry_paths;
};

struct TapdeckRun {
  plat::Window main_window = 0;
  std::unique_ptr<LaunchButtons> buttons;
  AssignmentPageState assignment;
};

// The run in progress; nullptr outside RunTapdeck.
TapdeckRun* ActiveRun();

// A number as the device writes it: decimal, '-' when negative.
std::u16string DecimalText(int64_t value);

// ---- Pages and dialogs ---------------------------------------------------------
intptr_t AssignmentPageProc(plat::Window page, const plat::DialogMessage& message);
intptr_t OptionsPageProc(plat::Window page, const plat::DialogMessage& message);
intptr_t HelpPageProc(plat::Window page, const plat::DialogMessage& message);
intptr_t AboutPageProc(plat::Window page, const plat::DialogMessage& message);

// Lets the person choose the orientations "<Rotate Screen>" steps through for
// one press slot, in a dialog owned by `owner`; stores the choice at Done.
void RunRotationChoice(plat::Window owner, int32_t button, int32_t press_count, bool hold);

// Writes the four assignments of every hardware button to the debug log.
void DumpAssignments(size_t button_count);
