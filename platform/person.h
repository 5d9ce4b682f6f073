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
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace plat::person {

// Every action a person can take, one row each: the verb every driver names
// it by (devicesim ui, the window system's channel, the browser's /api/ui),
// what the person gives, and what it does. A new action is a row here and
// its delivery in each backend's Act (platform/host/ui/person.cpp,
// platform/win32/ui_person.cpp); what stops a person doing it goes in
// platform/common/person_rules.cpp.
#define QK_PERSON_ACTIONS(X)                                                              \
  X(Select, "select", kControl, kLine,                                                    \
    "select a line of list box or combo box ID; LINE is a line number, or the line's "    \
    "whole text in any letter case")                                                      \
  X(Click, "click", kControl, kNone, "click check box or button ID")                      \
  X(Slide, "slide", kControl, kPosition, "move trackbar ID to POSITION (it stops at its ends)") \
  X(Type, "type", kControl, kText, "type TEXT into edit field ID, in place of what it holds") \
  X(Tab, "tab", kTitle, kNone, "bring the page set's page TITLE to the front")            \
  X(Done, "done", kNone, kNone, "the Done button of the page set or the dialog in front") \
  X(Cancel, "cancel", kNone, kNone,                                                       \
    "leave the page set or dialog in front without Done, or press No on a message box "   \
    "with Yes and No (with nothing open: close the program's main window)")               \
  X(Answer, "answer", kNone, kNone, "press OK (or Yes) on the message box in front")      \
  X(ChooseFile, "file", kPath, kNone, "choose the device file PATH in the file-open dialog") \
  X(CancelFile, "cancel-file", kNone, kNone, "cancel the file-open dialog")

enum class ActionKind : uint8_t {
#define QK_PERSON_ACTION_ENUM(id, verb, first, second, help) k##id,
  QK_PERSON_ACTIONS(QK_PERSON_ACTION_ENUM)
#undef QK_PERSON_ACTION_ENUM
};

// What a person gives with an action.
enum class ActionArg : uint8_t {
  kNone,
  kControl,   // a control id: Action::control
  kLine,      // a line number (Action::line), or a line's whole text (Action::text)
  kPosition,  // a trackbar position: Action::position
  kTitle,     // a tab's title: Action::text
  kPath,      // a device path: Action::text
  kText,      // what a person types: Action::text
};

struct ActionSpec {
  ActionKind kind;
  const char* verb;
  ActionArg args[2];  // in the order a command line gives them; kNone ends
  const char* help;
};

inline constexpr ActionSpec kActionSpecs[] = {
#define QK_PERSON_ACTION_SPEC(id, verb, first, second, help) \
  {ActionKind::k##id, verb, {ActionArg::first, ActionArg::second}, help},
    QK_PERSON_ACTIONS(QK_PERSON_ACTION_SPEC)
#undef QK_PERSON_ACTION_SPEC
};

const ActionSpec& SpecOf(ActionKind kind);
// The action with that verb (exact, lower case); null when none.
const ActionSpec* FindAction(const std::string& verb);
// How a command line writes the argument in a usage line: "ID", "LINE", ...
const char* ArgWord(ActionArg arg);
// Its member in a JSON request: "id", "line" (a line's text: "text"), "pos",
// "title", "path".
const char* ArgField(ActionArg arg);
// Every verb, separated by ", ", in table order: for messages that list them.
std::string AllVerbs();

struct Action {
  ActionKind kind;
  int control = 0;
  int line = -1;          // kSelect by number when >= 0
  std::u16string text;    // kSelect by text, kTab, kChooseFile, kType
  int position = 0;       // kSlide
};

// An action as drivers and tests write it.
inline Action MakeAction(ActionKind kind, int control = 0, int line = -1, std::u16string text = {},
                         int position = 0) {
  Action action;
  action.kind = kind;
  action.control = control;
  action.line = line;
  action.text = std::move(text);
  action.position = position;
  return action;
}

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
// (nothing open, no such control, hidden or disabled, no such line ...), in
// the same words on every backend.
bool Act(const Action& action, std::u16string* error);

// Called each time the program waits for input, before it waits. A hook
// that acts makes the program go on; one that returns without acting lets
// it wait as usual. Null removes the hook. Re-entered from dialogs that an
// action opens.
using IdleHook = void (*)(void* context);
void SetIdleHook(IdleHook hook, void* context);

}  // namespace plat::person
