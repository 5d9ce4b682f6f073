// What a person does with the running program's screen, for the page
// scenarios and the emulated device's window system. Programs never call
// this; tests, devicesim and the scenario runner do.
//
// Each action sends what the person's action sends on the device: selecting
// a line gives the dialog its selection-changed command, a click toggles an
// automatic check box and then notifies, sliding moves a trackbar as a drag
// does, Done and cancel close the page set or the dialog in front, answer
// presses the message box's OK, a file choice ends the file-open dialog.
// Hidden or disabled controls cannot be acted on, as a person cannot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat::person {

enum class ActionKind {
  kSelect,      // control, line (or text: the first line with that text)
  kClick,       // control
  kSlide,       // control, position
  kTab,         // text: the tab's title
  kDone,        // the page set's or the dialog's Done
  kCancel,      // leave the page set or the dialog without Done
  kAnswer,      // the message box's OK
  kChooseFile,  // text: the path the file-open dialog returns
  kCancelFile,  // cancel the file-open dialog
};

struct Action {
  ActionKind kind;
  int control = 0;
  int line = -1;          // kSelect by number when >= 0
  std::u16string text;    // kSelect by text, kTab, kChooseFile
  int position = 0;       // kSlide
};

// What is in front now.
enum class ScreenKind { kNothing, kPageSet, kDialog, kMessageBox, kFileDialog };

struct Screen {
  ScreenKind kind = ScreenKind::kNothing;
  // The current page of the page set, or the dialog: what control
  // operations address.
  Window dialog = 0;
  int template_id = 0;
  std::vector<std::u16string> tabs;  // page set only
  int current_tab = -1;
  // Message box: its text, caption and flags; file dialog: its title.
  std::u16string text, caption;
  uint32_t flags = 0;
};

Screen CurrentScreen();

// Performs the action; false with a reason in *error when a person could not
// (nothing open, no such control, hidden or disabled, no such line ...).
bool Act(const Action& action, std::u16string* error);

// Called each time the program waits for input, before it waits. A hook
// that acts makes the program go on; one that returns without acting lets
// it wait as usual. Null removes the hook. Re-entered from dialogs that an
// action opens.
using IdleHook = void (*)(void* context);
void SetIdleHook(IdleHook hook, void* context);

}  // namespace plat::person
