// Page scenarios of tapdeck, written as data: a device to set up, what a
// person does and sees step by step, and what the registry, the files and
// tapdeck.log hold afterwards.
//
// Nothing here is particular to one backend: the steps are plat::person
// actions and control queries of platform/ui.h, the setup and the checks go
// through the settings store and platform.h. The runner (scenario_runner.h)
// needs from its backend only what platform.h cannot do (make a folder, read
// a shortcut's target, read the log as text). The host test drives them
// in-process; the win32 build can drive the same table against real controls.
//
// Texts may hold "{start}", the Start Menu folder (the parent of the
// platform's programs folder), and "{app}", the folder tapdeck's programs
// are in: the platform's own where it knows it (a PC), else
// kScenarioAppFolder, which the scenarios store as "AppFolder" (the
// device); the runner puts the real path in.
//
// Failure paths are reached through the platform's fault table, which both
// backends honour: a scenario arms a fault as the program starts or at a
// step, and can check afterwards how often an operation was called.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/faults.h"
#include "platform/person.h"

namespace tapdeck_scenario {

// The build an expectation holds on. The table is one for both builds; an
// item marked for one build states what differs there because its platform
// does (each such item says why).
enum class On { kBoth, kHost, kWin32 };

// The application folder the scenarios give a device.
inline constexpr char16_t kScenarioAppFolder[] = u"\\Program Files\\Quadrakey";

// ---- Setup -------------------------------------------------------------------------
// An entry of the shell's button table. nullptr: the value is not written.
struct ButtonEntry {
  std::u16string key = {};  // below SOFTWARE\Microsoft\Shell\Keys
  const char16_t* name = nullptr;
  const char16_t* reset_command = nullptr;
  const char16_t* command = nullptr;
};

enum class ValueType { kText, kDword, kMissing };

// A value below HKEY_LOCAL_MACHINE.
struct RegValue {
  std::u16string key = {};
  std::u16string name = {};
  ValueType type = ValueType::kText;
  std::u16string text = {};
  uint32_t number = 0;
  On on = On::kBoth;  // as a check only
};

struct DeviceFile {
  std::u16string path = {};
  bool shortcut = false;  // a shortcut to `content`, else a file holding `content`
  std::u16string content = {};
};

// Call `call` of the operation, counted from when the fault is armed, fails
// with `error` (plat::faults::FailCall).
struct Fault {
  plat::faults::Op op = plat::faults::Op::MessageBox;
  uint32_t call = 1;
  uint32_t error = 0;
};

struct Setup {
  std::vector<std::u16string> folders = {};  // made first, with the folders above them
  std::vector<ButtonEntry> buttons = {};
  std::vector<RegValue> values = {};
  std::vector<DeviceFile> files = {};
  std::vector<Fault> faults = {};  // armed once the device is set up, as the program starts
};

// ---- Steps ------------------------------------------------------------------------
enum class StepKind {
  kAct,         // do `action`
  kScreen,      // what is in front: `screen`, and for a page set or dialog `number` the template
  kShown,       // `control` is shown
  kHidden,      // `control` is hidden
  kEnabled,     // `control` can be acted on
  kDisabled,
  kChecked,     // check box `control` is checked
  kUnchecked,
  kSelected,    // the selected line of `control` shows `text`; empty text: no line selected
  kLineCount,   // `control` has `number` lines
  kLine,        // line `number` of `control` (-1: the last) shows `text`
  kNoLine,      // no line of `control` shows `text`
  kSlider,      // trackbar `control` stands at `number`
  kTextStarts,  // the text of `control` begins with `text`
  kMessageBox,  // a message box in front with `text`, caption `caption`, flags `number`
  kFileDialog,  // the file-open dialog in front, titled `text`
  kRegistry,    // `value` is stored now (kMissing: is not)
  kStartAgain,  // the program is started a second time: it must end at once with 0,
                // leave the log alone and bring the first copy to the front
  kHotKey,      // the main window receives hot key `number`
  kFail,        // arm `fault`
  kKey,         // key `number` goes down and up for the window in front
};

struct Step {
  StepKind kind = StepKind::kAct;
  plat::person::Action action = NoAction();
  plat::person::ScreenKind screen = plat::person::ScreenKind::kNothing;
  int control = 0;
  int number = 0;
  std::u16string text = {};
  std::u16string caption = {};
  RegValue value = {};
  Fault fault = {};
  On on = On::kBoth;

  static plat::person::Action NoAction() {
    plat::person::Action action;
    action.kind = plat::person::ActionKind::kDone;
    return action;
  }
};

// ---- Results ------------------------------------------------------------------------
struct FileCheck {
  std::u16string path = {};
  bool exists = true;
  std::u16string shortcut_target = {};  // when not empty: the file is a shortcut to this
  On on = On::kBoth;
};

// Lines of tapdeck.log, without their line ends. A block must appear as
// consecutive lines; an absent line must appear nowhere.
struct LogCheck {
  std::vector<std::u16string> lines = {};
  bool absent = false;
  On on = On::kBoth;
};

// How many calls of an operation were made in the whole run. The runner's
// own checks read the registry and use no other operation of the table.
struct CallCount {
  plat::faults::Op op = plat::faults::Op::MessageBox;
  uint32_t calls = 0;
};

struct Scenario {
  std::string name = {};
  Setup setup = {};
  std::vector<Step> steps = {};
  std::vector<RegValue> registry = {};
  std::vector<FileCheck> files = {};
  std::vector<LogCheck> log = {};
  std::vector<CallCount> calls = {};
  int exit_code = 0;  // what the program ends with
};

// Every scenario of the pages.
const std::vector<Scenario>& PageScenarios();

}  // namespace tapdeck_scenario
