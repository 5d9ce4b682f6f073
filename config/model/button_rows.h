// The button table as people are shown it: whether Quadrakey has a button,
// and one row per hardware button. tapdeck's Done, devicesim buttons and the
// browser's device all take these rules from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/model/launch_buttons.h"

// A button's command points at a takeover shortcut: it holds
// "\quadrakey\tapdeck" in any letter case (the application folder keeps that
// name). Done gives back only such buttons.
bool IsTakenOverCommand(const std::u16string& command);

struct ButtonRow {
  size_t index = 0;        // the button index
  char16_t letter = u'A';  // 'A' + index: its settings' and its takeover shortcut's letter
  std::u16string entry;    // the table entry's name ("40C1")
  std::u16string name;     // its "Name"
  std::u16string title;    // the reset command's file name ("Calendar")
  std::u16string command;  // what the shell runs for it, as LaunchButtons reads it
  bool taken_over = false;
  uint32_t command_error = 0;  // why the command could not be read (it is then empty); 0: read
};

// Every hardware button, in button-index order; the commands are read now.
std::vector<ButtonRow> ReadButtonRows(LaunchButtons& buttons);
