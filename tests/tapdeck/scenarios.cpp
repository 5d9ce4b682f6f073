// The page scenarios. Each starts from a device set up as data, runs tapdeck
// once with a person's actions and checks what the pages show between them
// and what the registry, the files and tapdeck.log hold afterwards.
#include <string>
#include <vector>

#include "config/resource.h"
#include "tests/tapdeck/scenario.h"

namespace tapdeck_scenario {
namespace {

using plat::faults::Op;
using plat::person::Action;
using plat::person::ActionKind;
using plat::person::ScreenKind;

// ---- Words of the table ---------------------------------------------------------------

using plat::person::MakeAction;
Step ActStep(Action action) {
  Step step;
  step.kind = StepKind::kAct;
  step.action = std::move(action);
  return step;
}
Step Select(int control, std::u16string text) {
  return ActStep(MakeAction(ActionKind::kSelect, control, -1, std::move(text)));
}
Step SelectLine(int control, int line) { return ActStep(MakeAction(ActionKind::kSelect, control, line)); }
Step Click(int control) { return ActStep(MakeAction(ActionKind::kClick, control)); }
Step Slide(int control, int position) { return ActStep(MakeAction(ActionKind::kSlide, control, -1, {}, position)); }
Step Tab(std::u16string title) { return ActStep(MakeAction(ActionKind::kTab, 0, -1, std::move(title))); }
Step Done() { return ActStep(MakeAction(ActionKind::kDone)); }
Step Cancel() { return ActStep(MakeAction(ActionKind::kCancel)); }
Step Answer() { return ActStep(MakeAction(ActionKind::kAnswer)); }
Step ChooseFile(std::u16string path) { return ActStep(MakeAction(ActionKind::kChooseFile, 0, -1, std::move(path))); }
Step CancelFile() { return ActStep(MakeAction(ActionKind::kCancelFile)); }
Step Type(int control, std::u16string text) { return ActStep(MakeAction(ActionKind::kType, control, -1, std::move(text))); }
Step Key(int virtual_key) {
  Step step;
  step.kind = StepKind::kKey;
  step.number = virtual_key;
  return step;
}

Step Check(StepKind kind, int control, int number = 0, std::u16string text = {}) {
  Step step;
  step.kind = kind;
  step.control = control;
  step.number = number;
  step.text = std::move(text);
  return step;
}
Step InFront(ScreenKind kind, int template_id = 0) {
  Step step;
  step.kind = StepKind::kScreen;
  step.screen = kind;
  step.number = template_id;
  return step;
}
Step Shown(int control) { return Check(StepKind::kShown, control); }
Step Hidden(int control) { return Check(StepKind::kHidden, control); }
Step Enabled(int control) { return Check(StepKind::kEnabled, control); }
Step Disabled(int control) { return Check(StepKind::kDisabled, control); }
Step Checked(int control) { return Check(StepKind::kChecked, control); }
Step Unchecked(int control) { return Check(StepKind::kUnchecked, control); }
Step Selected(int control, std::u16string text) { return Check(StepKind::kSelected, control, 0, std::move(text)); }
Step NothingSelected(int control) { return Check(StepKind::kSelected, control); }
Step Lines(int control, int count) { return Check(StepKind::kLineCount, control, count); }
Step Line(int control, int line, std::u16string text) { return Check(StepKind::kLine, control, line, std::move(text)); }
Step NoLine(int control, std::u16string text) { return Check(StepKind::kNoLine, control, 0, std::move(text)); }
Step Slider(int control, int position) { return Check(StepKind::kSlider, control, position); }
Step TextStarts(int control, std::u16string text) { return Check(StepKind::kTextStarts, control, 0, std::move(text)); }
Step MessageBoxShown(std::u16string text, std::u16string caption, int flags) {
  Step step = Check(StepKind::kMessageBox, 0, flags, std::move(text));
  step.caption = std::move(caption);
  return step;
}
Step FileDialogShown(std::u16string title) { return Check(StepKind::kFileDialog, 0, 0, std::move(title)); }
Step Stored(RegValue value) {
  Step step;
  step.kind = StepKind::kRegistry;
  step.value = std::move(value);
  return step;
}
Step StartAgain() {
  Step step;
  step.kind = StepKind::kStartAgain;
  return step;
}
Step HotKey(int id) {
  Step step;
  step.kind = StepKind::kHotKey;
  step.number = id;
  return step;
}
// The next call of `op` fails with `error`.
Step FailNext(Op op, uint32_t error) {
  Step step;
  step.kind = StepKind::kFail;
  step.fault = {op, 1, error};
  return step;
}

// Values below the settings key (an empty key) or elsewhere.
RegValue Text(std::u16string name, std::u16string text, std::u16string key = {}) {
  return {std::move(key), std::move(name), ValueType::kText, std::move(text), 0};
}
RegValue Number(std::u16string name, uint32_t number, std::u16string key = {}) {
  return {std::move(key), std::move(name), ValueType::kDword, {}, number};
}
RegValue Missing(std::u16string name, std::u16string key = {}) {
  return {std::move(key), std::move(name), ValueType::kMissing, {}, 0};
}
std::u16string TableEntry(const std::u16string& key) { return u"SOFTWARE\\Microsoft\\Shell\\Keys\\" + key; }
// The command (default value) of a button table entry.
RegValue Command(const std::u16string& key, std::u16string text) { return Text(u"", std::move(text), TableEntry(key)); }

LogCheck LogHas(std::vector<std::u16string> lines) { return {std::move(lines), false}; }
LogCheck LogLacks(std::u16string line) { return {{std::move(line)}, true}; }

// An expectation of one build only; the item says why the builds differ.
template <typename Item>
Item HostOnly(Item item) {
  item.on = On::kHost;
  return item;
}
template <typename Item>
Item Win32Only(Item item) {
  item.on = On::kWin32;
  return item;
}

Setup With(Setup setup, std::vector<RegValue> values) {
  for (RegValue& value : values) setup.values.push_back(std::move(value));
  return setup;
}

// ---- The device ----------------------------------------------------------------------

constexpr char16_t kRecordCommand[] = u"\"\\Windows\\AppButtons\\Record.lnk\"";
const std::u16string kRebootNotice =
    u"You have either assigned the <Record> function to a new button, or removed it from an "
    u"existing button. On some devices, you may now have to reboot in order to have that change "
    u"take effect.";

std::u16string Takeover(char16_t letter) {
  return u"\"{app}\\Tapdeck" + std::u16string(1, letter) + u".lnk\"";
}
std::u16string TakeoverFile(char16_t letter) {
  return u"{app}\\Tapdeck" + std::u16string(1, letter) + u".lnk";
}
std::u16string LauncherCommand(int button) {
  return u"\"{app}\\TapdeckX.exe\" " + std::u16string(1, static_cast<char16_t>(u'0' + button));
}

// Four hardware buttons: Button 1 to 3 (button index 0 to 2) and the Record
// button (3), whose reset command is the device's Record command; a hold
// entry, which is no button. Their virtual keys are known, so start-up
// leaves their entries alone. A Start Menu of three shortcuts and a program,
// and a document to open.
Setup StockDevice() {
  Setup setup;
  setup.folders = {kScenarioAppFolder, u"\\My Documents"};
  setup.buttons = {
      {u"40C1", u"Button 1", u"\"\\Windows\\Start Menu\\Calendar.lnk\"", u"\"\\Windows\\Start Menu\\Calendar.lnk\""},
      {u"40C2", u"Button 2", u"\\Windows\\Start Menu\\Contacts.lnk", u"\\Windows\\Start Menu\\Contacts.lnk"},
      {u"40C3", u"Button 3", u"\"\\Windows\\Start Menu\\Tasks.lnk\"", nullptr},
      {u"40C5", u"Record", kRecordCommand, kRecordCommand},
      {u"80C1", u"Button 1 (Hold)", u"\\Windows\\Start Menu\\Programs\\Calculator.lnk", nullptr},
  };
  setup.values = {
      Text(u"AppFolder", kScenarioAppFolder),
      Number(u"VirtualKeyA", 0xC1),
      Number(u"VirtualKeyB", 0xC2),
      Number(u"VirtualKeyC", 0xC3),
      Number(u"VirtualKeyD", 0xC5),
  };
  setup.files = {
      {u"{start}\\Calendar.lnk", true, u"\\Windows\\calendar.exe"},
      {u"{start}\\Programs\\Word.lnk", true, u"\"\\Windows\\pword.exe\""},
      {u"{start}\\Programs\\Games\\Solitaire.lnk", true, u"\\Windows\\solitare.exe"},
      {u"{start}\\Programs\\setup.exe", false, u"a program"},
      {u"\\My Documents\\letter.psw", false, u"Dear reader"},
  };
  return setup;
}

// The Record button keeps the Record function at Done, so no reboot notice.
Setup StockDeviceRecordKept() { return With(StockDevice(), {Text(u"ButtonD", u"<Record>")}); }

// A Start Menu shortcut of 310 characters (312 under Wine, on drive Q:), the
// last of the catalogue by its name.
const std::u16string kTooLongName(126, u'z');
const std::u16string kTooLongShortcut =
    u"{start}\\Programs\\" + std::u16string(150, u'f') + u"\\" + kTooLongName + u".lnk";
const std::u16string kTooLongNotice =
    u"The path of this shortcut or program is too long for a button press to open (at most 299 characters). "
    u"The press keeps its assignment. To assign it, move or rename it so that its path is shorter.";

// Special actions offered in a press combo box, then the catalogue.
constexpr int kSingleLines = 14 + 4;  // with "<Record>"
constexpr int kOtherLines = 13 + 4;

// ---- Add Buttons and the Intercept dialog ---------------------------------------------

constexpr char16_t kHotkeys[] = u"Software\\Quadrakey\\Hotkeys";
constexpr int kAccept = 1;
constexpr int kCancelButton = 2;
constexpr int kF6 = 0x75, kF7 = 0x76, kSideKey = 0xC7;

RegValue ListName(int position, std::u16string name) {
  return Text(u"B" + std::u16string(1, static_cast<char16_t>(u'0' + position)), std::move(name), kHotkeys);
}
RegValue ListCode(int position, uint32_t code) {
  return Number(u"H" + std::u16string(1, static_cast<char16_t>(u'0' + position)), code, kHotkeys);
}
std::u16string Decimal(int value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// The stock device (hardware buttons A to D) with user-defined buttons E, F, G.
Setup ThreeAddedButtons() {
  return With(StockDeviceRecordKept(),
              {ListName(0, u"Up"), ListCode(0, kF6), ListName(1, u"Down"), ListCode(1, kF7), ListName(2, u"Side"),
               ListCode(2, kSideKey), Text(u"ButtonE", u"<Today>"), Text(u"ButtonF", u"<Page Up>"),
               Number(u"EnabledF", 0), Text(u"ButtonG", u"<Page Down>"), Text(u"ButtonG-RotateScreen2h", u"3")});
}

// The stock device with `count` added buttons "Key 0", "Key 1", ... on keys 0x30 on.
Setup WithAddedKeys(int count) {
  Setup setup = StockDeviceRecordKept();
  for (int k = 0; k < count; ++k) {
    setup.values.push_back(Text(u"B" + Decimal(k), u"Key " + Decimal(k), kHotkeys));
    setup.values.push_back(Number(u"H" + Decimal(k), static_cast<uint32_t>(0x30 + k), kHotkeys));
  }
  return setup;
}

const std::u16string kListenerSignIn = u"\\Windows\\StartUp\\Quadrakey Key Listener.lnk";

void AddButtonScenarios(std::vector<Scenario>& all) {
  all.push_back({
      .name = "AddButtonsAddsADetectedKeyUnderTheNameGivenAndStartsTheListenerAtOnce",
      .setup = With(StockDeviceRecordKept(), {ListName(0, u"Side"), ListCode(0, kSideKey)}),
      .steps =
          {
              Tab(u"Add Buttons"),
              InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS),
              Lines(IDC_BUTTON_LIST, 1),
              Line(IDC_BUTTON_LIST, 0, u"Side"),
              Disabled(IDC_REMOVE_BUTTON),
              Click(IDC_ADD_BUTTON),
              InFront(ScreenKind::kDialog, IDD_ADD_INTERCEPT),
              Disabled(IDC_INTERCEPT_NAME),
              Disabled(IDC_INTERCEPT_NAME_LABEL),
              Disabled(kAccept),
              // A modifier alone is no button; the dialog waits on.
              Key(0x10),
              Disabled(IDC_INTERCEPT_NAME),
              Key(kF6),
              Enabled(IDC_INTERCEPT_LINE),
              Enabled(IDC_INTERCEPT_NAME_LABEL),
              Enabled(IDC_INTERCEPT_NAME),
              Enabled(kAccept),
              TextStarts(IDC_INTERCEPT_NAME, u"F6"),
              // Later keys are typing, not another button.
              Key(kF7),
              TextStarts(IDC_INTERCEPT_NAME, u"F6"),
              Type(IDC_INTERCEPT_NAME, u"  Volume\tup\r\n"),
              Click(kAccept),
              InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS),
              Lines(IDC_BUTTON_LIST, 2),
              Line(IDC_BUTTON_LIST, 1, u"Volume up"),
              Stored(ListName(1, u"Volume up")),
              Stored(ListCode(1, kF6)),
              // The Settings page lists it at once, with its own settings.
              Tab(u"Settings"),
              Lines(IDC_BUTTON_LIST, 6),
              Line(IDC_BUTTON_LIST, 5, u"Volume up"),
              Select(IDC_BUTTON_LIST, u"Volume up"),
              Shown(IDC_USER_BUTTON_LABEL),
              Hidden(IDC_OVERRIDE),
              NothingSelected(IDC_SINGLE_PRESS),
              Select(IDC_SINGLE_PRESS, u"<Today>"),
              Done(),
          },
      .registry = {ListName(0, u"Side"), ListCode(0, kSideKey), ListName(1, u"Volume up"), ListCode(1, kF6),
                   Missing(u"B2", kHotkeys), Text(u"ButtonF", u"<Today>")},
      .files = {HostOnly(FileCheck{kListenerSignIn, true, {}})},
      .log = {LogHas({u"Adding key 117 as Volume up"})},
      // The listener's start once the key is added, and again at Done (no
      // listener runs here to be told), with its sign-in entry each time.
      .calls = {{Op::ProcessStart, 2}, {Op::SignInEntry, 2}},
  });

  all.push_back({
      .name = "InterceptCancelledChangesNothing",
      .setup = With(StockDeviceRecordKept(), {ListName(0, u"Side"), ListCode(0, kSideKey)}),
      .steps = {Tab(u"Add Buttons"), Click(IDC_ADD_BUTTON), Key(kF6), Enabled(kAccept), Click(kCancelButton),
                InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS), Lines(IDC_BUTTON_LIST, 1), Click(IDC_ADD_BUTTON),
                Cancel(), InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS), Cancel()},
      .registry = {ListName(0, u"Side"), ListCode(0, kSideKey), Missing(u"B1", kHotkeys)},
      .calls = {{Op::ProcessStart, 0}},
  });

  all.push_back({
      .name = "AKeyAlreadyListedIsRenamedInPlaceWithItsSettings",
      .setup = ThreeAddedButtons(),
      .steps = {Tab(u"Add Buttons"), Click(IDC_ADD_BUTTON), Key(kF7), TextStarts(IDC_INTERCEPT_NAME, u"Down"),
                Type(IDC_INTERCEPT_NAME, u"Camera"), Click(kAccept), Lines(IDC_BUTTON_LIST, 3),
                Line(IDC_BUTTON_LIST, 1, u"Camera"), Tab(u"Settings"), Line(IDC_BUTTON_LIST, 5, u"Camera"),
                Cancel()},
      .registry = {ListName(1, u"Camera"), ListCode(1, kF7), ListName(2, u"Side"), Text(u"ButtonF", u"<Page Up>"),
                   Number(u"EnabledF", 0), Text(u"ButtonG", u"<Page Down>")},
  });

  all.push_back({
      .name = "RemovingAButtonMovesTheLaterOnesWithTheirSettings",
      .setup = ThreeAddedButtons(),
      .steps =
          {
              Select(IDC_BUTTON_LIST, u"Side"),
              Selected(IDC_SINGLE_PRESS, u"<Page Down>"),
              Tab(u"Add Buttons"),
              Select(IDC_BUTTON_LIST, u"Down"),
              Enabled(IDC_REMOVE_BUTTON),
              // Asked first: No keeps it, Yes removes it.
              Click(IDC_REMOVE_BUTTON),
              MessageBoxShown(u"Remove the button \"Down\"? Its four presses are forgotten, and its key starts nothing. This "
                                u"happens at once: Cancel does not bring the button back.",
                                u"Quadrakey", 0x24),
              Cancel(),
              InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS),
              Lines(IDC_BUTTON_LIST, 3),
              Click(IDC_REMOVE_BUTTON),
              Answer(),
              Lines(IDC_BUTTON_LIST, 2),
              Line(IDC_BUTTON_LIST, 1, u"Side"),
              Disabled(IDC_REMOVE_BUTTON),
              // The Settings page still shows the same button, now one line up.
              Tab(u"Settings"),
              Lines(IDC_BUTTON_LIST, 6),
              Selected(IDC_BUTTON_LIST, u"Side"),
              Selected(IDC_SINGLE_PRESS, u"<Page Down>"),
              Cancel(),
          },
      .registry = {ListName(1, u"Side"), ListCode(1, kSideKey), Missing(u"B2", kHotkeys), Text(u"ButtonE", u"<Today>"),
                   Text(u"ButtonF", u"<Page Down>"), Text(u"ButtonF-RotateScreen2h", u"3"), Missing(u"EnabledF"),
                   Missing(u"ButtonG"), Missing(u"ButtonG-RotateScreen2h")},
  });

  {
    // Hardware buttons A to D and 28 added ones: 'A' + 31 is the last letter
    // that names values of its own.
    const Setup full = WithAddedKeys(28);
    all.push_back({
        .name = "AddIsRefusedOnceEveryButtonLetterIsInUse",
        .setup = full,
        .steps = {Tab(u"Add Buttons"), Lines(IDC_BUTTON_LIST, 28), Click(IDC_ADD_BUTTON), Key(kF6),
                  Type(IDC_INTERCEPT_NAME, u"One more"), Click(kAccept),
                  MessageBoxShown(u"No more buttons can be added: Quadrakey keeps settings for 32 buttons in all, and "
                                  u"the device's 4 buttons and the 28 added ones use them. Remove a button to add "
                                  u"another.",
                                  u"Quadrakey", 0x30),
                  Answer(), InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS), Lines(IDC_BUTTON_LIST, 28), Cancel()},
        .registry = {Missing(u"B28", kHotkeys)},
    });
    // Full or not, a listed key can still be given another name.
    all.push_back({
        .name = "AListedKeyIsRenamedWhenEveryButtonLetterIsInUse",
        .setup = full,
        .steps = {Tab(u"Add Buttons"), Click(IDC_ADD_BUTTON), Key(0x31), TextStarts(IDC_INTERCEPT_NAME, u"Key 1"),
                  Type(IDC_INTERCEPT_NAME, u"Camera"), Click(kAccept), InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS),
                  Lines(IDC_BUTTON_LIST, 28), Line(IDC_BUTTON_LIST, 1, u"Camera"), Done()},
        .registry = {ListName(1, u"Camera"), ListCode(1, 0x31), Missing(u"B28", kHotkeys)},
    });
  }

  {
    // A stored list longer than the button letters allow: the buttons from
    // position 32 on are listed, but their presses would be stored over a
    // lower position's ('a' is 'A' to the registry), so none is offered.
    const Setup long_list = WithAddedKeys(40);
    all.push_back({
        .name = "ButtonsPastTheLastLetterOfferNoPresses",
        .setup = long_list,
        .steps = {Lines(IDC_BUTTON_LIST, 44), Select(IDC_BUTTON_LIST, u"Key 27"), Shown(IDC_SINGLE_PRESS),
                  Hidden(IDC_NO_SETTINGS_NOTICE), Select(IDC_BUTTON_LIST, u"Key 28"), Shown(IDC_USER_BUTTON_LABEL),
                  Hidden(IDC_SINGLE_PRESS), Hidden(IDC_PRESS_HOLD),
                  TextStarts(IDC_NO_SETTINGS_NOTICE, u"Quadrakey keeps settings for 32 buttons only"),
                  Shown(IDC_NO_SETTINGS_NOTICE), Select(IDC_BUTTON_LIST, u"Key 0"), Hidden(IDC_NO_SETTINGS_NOTICE),
                  Cancel()},
        .registry = {Missing(u"ButtonA")},
    });
  }

  // Escape before a key is detected leaves the dialog as Cancel does: it is
  // no button, and nothing is added.
  all.push_back({
      .name = "EscapeInTheInterceptDialogCancelsIt",
      .setup = With(StockDeviceRecordKept(), {ListName(0, u"Side"), ListCode(0, kSideKey)}),
      .steps = {Tab(u"Add Buttons"), Click(IDC_ADD_BUTTON), InFront(ScreenKind::kDialog, IDD_ADD_INTERCEPT),
                Key(0x1B), InFront(ScreenKind::kPageSet, IDD_ADD_BUTTONS), Lines(IDC_BUTTON_LIST, 1), Done()},
      .registry = {ListName(0, u"Side"), ListCode(0, kSideKey), Missing(u"B1", kHotkeys)},
  });

  all.push_back({
      .name = "AKeyThatCannotBeTakenAsAHotKeyIsNotAdded",
      .setup = StockDeviceRecordKept(),
      .steps = {Tab(u"Add Buttons"), Click(IDC_ADD_BUTTON), Key(kF6), FailNext(Op::HotKeyRegister, 1409),
                Click(kAccept),
                MessageBoxShown(u"Another program holds this key, so it cannot be used as a launch button. Close "
                                u"that program and add the key again, or choose another key.",
                                u"Quadrakey", 0x30),
                Answer(), Lines(IDC_BUTTON_LIST, 0), Done()},
      .registry = {Missing(u"B0", kHotkeys)},
      .files = {HostOnly(FileCheck{kListenerSignIn, false, {}})},
      .calls = {{Op::ProcessStart, 0}},
  });

  // A stored list as a person may have left it: a code of 0, one above
  // 0xFF, a repeated one and a name of 1,000 characters. The page shows the
  // list as tapdeck reads it and a removal stores it in the same form.
  all.push_back({
      .name = "AStoredListWithBadEntriesIsShownAndRemovedFrom",
      .setup = With(StockDeviceRecordKept(), {ListName(0, u"Zero"), ListCode(0, 0), ListName(1, u"Wide"),
                                              ListCode(1, 0x1C7), ListName(2, u"Twice"), ListCode(2, kF6),
                                              ListName(3, std::u16string(1000, u'n')), ListCode(3, kF6)}),
      .steps = {Tab(u"Add Buttons"), Lines(IDC_BUTTON_LIST, 3), Line(IDC_BUTTON_LIST, 2, std::u16string(1000, u'n')),
                SelectLine(IDC_BUTTON_LIST, 0), Click(IDC_REMOVE_BUTTON), Answer(), Lines(IDC_BUTTON_LIST, 2), Cancel()},
      .registry = {ListName(0, u"Wide"), ListCode(0, 0x1C7), ListName(1, std::u16string(1000, u'n')),
                   ListCode(1, kF6), Missing(u"B2", kHotkeys)},
  });
}

std::vector<Scenario> MakeScenarios() {
  std::vector<Scenario> all;

  // ---- Start-up, first use, Done -------------------------------------------------------
  all.push_back({
      .name = "FirstUseTakesEveryHardwareButtonOver",
      .setup = StockDevice(),
      .steps =
          {
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              Lines(IDC_BUTTON_LIST, 4),
              Line(IDC_BUTTON_LIST, 0, u"Button 1 (originally Calendar)"),
              Line(IDC_BUTTON_LIST, 1, u"Button 2 (originally Contacts)"),
              Line(IDC_BUTTON_LIST, 3, u"Record (originally Record)"),
              Selected(IDC_BUTTON_LIST, u"Button 1 (originally Calendar)"),
              Shown(IDC_OVERRIDE),
              Checked(IDC_OVERRIDE),
              Hidden(IDC_USER_BUTTON_LABEL),
              Shown(IDC_SINGLE_PRESS),
              Lines(IDC_SINGLE_PRESS, kSingleLines),
              Line(IDC_SINGLE_PRESS, 0, u"<Record>"),
              Line(IDC_SINGLE_PRESS, 13, u"<Do Nothing>"),
              Line(IDC_SINGLE_PRESS, 14, u"Calendar"),
              Line(IDC_SINGLE_PRESS, -1, u"Word"),
              NothingSelected(IDC_SINGLE_PRESS),
              Shown(IDC_PRESS_HOLD),
              Lines(IDC_PRESS_HOLD, kOtherLines),
              Line(IDC_PRESS_HOLD, 0, u"<Today>"),
              Shown(IDC_DOUBLE_HOLD),
              Shown(IDC_DOUBLE_HOLD_LABEL),
              Hidden(IDC_RECORD_NOTICE),
              Hidden(IDC_SIPPREF),
              Done(),
              // The Record button's command was the Record command.
              MessageBoxShown(kRebootNotice, u"Quadrakey", 0x40),
              Answer(),
          },
      .registry =
          {
              Command(u"40C1", Takeover(u'A')),
              Command(u"40C2", Takeover(u'B')),
              Command(u"40C3", Takeover(u'C')),
              Command(u"40C5", Takeover(u'D')),
              Missing(u"", TableEntry(u"80C1")),  // the hold entry is no button
              Number(u"Flags", 0, TableEntry(u"40C5")),
              Text(u"WndCls", u"", TableEntry(u"40C5")),
              Number(u"BtnWnd", 0, TableEntry(u"40C5")),
              Missing(u"ButtonA"),
              Missing(u"EnabledA"),
              Number(u"HoldInterval", 400),
              Number(u"DblClickInterval", 400),
          },
      .files =
          {
              {TakeoverFile(u'A'), true, LauncherCommand(0)},
              {TakeoverFile(u'D'), true, LauncherCommand(3)},
              {TakeoverFile(u'E'), false, {}},
          },
      .log =
          {
              LogHas({u"{app}", u"Shortcut list:", u"  0: {start}\\Calendar.lnk",
                      u"  1: {start}\\Programs\\setup.exe", u"  2: {start}\\Programs\\Games\\Solitaire.lnk",
                      u"  3: {start}\\Programs\\Word.lnk", u"", u"LaunchButtons::LaunchButtons() subkeys:"}),
              LogHas({u"LaunchButtons::SetShortcut({app}\\TapdeckD.lnk, 3)"}),
              LogHas({u"Assignment 3-2-1:", u"Enabled"}),
              LogLacks(u"Assignment 4-1-0:"),
          },
  });

  all.push_back({
      .name = "NoRecordCommandOffersNoRecordAndShowsNoNotice",
      .setup =
          {
              .folders = {kScenarioAppFolder},
              .buttons =
                  {
                      {u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", nullptr},
                      {u"40C2", u"Button 2", u"\\Windows\\Start Menu\\Contacts.lnk", nullptr},
                  },
              .values = {Text(u"AppFolder", kScenarioAppFolder), Number(u"VirtualKeyA", 0xC1), Number(u"VirtualKeyB", 0xC2),
                         // Stored while the device had a Record command.
                         Text(u"ButtonB", u"<Record>")},
          },
      .steps =
          {
              Line(IDC_SINGLE_PRESS, 0, u"<Today>"),
              NoLine(IDC_SINGLE_PRESS, u"<Record>"),
              Lines(IDC_SINGLE_PRESS, 13),
              SelectLine(IDC_BUTTON_LIST, 1),
              Selected(IDC_SINGLE_PRESS, u"Open: <Record>"),
              Hidden(IDC_RECORD_NOTICE),
              Shown(IDC_DOUBLE_PRESS),
              Done(),
          },
      .registry =
          {
              Command(u"40C1", Takeover(u'A')),
              // No Record command to give it: the empty command, which reads as its reset command.
              Command(u"40C2", u"\"\""),
              Text(u"ButtonB", u"<Record>"),
          },
  });

  all.push_back({
      .name = "RecordHidesTheLowerRowsAndMovesTheRecordFunction",
      .setup = With(StockDevice(), {Text(u"ButtonAh", u"<Today>"), Text(u"ButtonA2", u"<Page Up>"),
                                    Text(u"ButtonA2h", u"{start}\\Programs\\Word.lnk")}),
      .steps =
          {
              Selected(IDC_PRESS_HOLD, u"<Today>"),
              Selected(IDC_DOUBLE_PRESS, u"<Page Up>"),
              Selected(IDC_DOUBLE_HOLD, u"Word"),
              Select(IDC_SINGLE_PRESS, u"<Record>"),
              Selected(IDC_SINGLE_PRESS, u"<Record>"),
              Stored(Text(u"ButtonA", u"<Record>")),
              Hidden(IDC_PRESS_HOLD),
              Hidden(IDC_PRESS_HOLD_LABEL),
              Hidden(IDC_DOUBLE_PRESS),
              Hidden(IDC_DOUBLE_PRESS_LABEL),
              Hidden(IDC_DOUBLE_HOLD),
              Hidden(IDC_DOUBLE_HOLD_LABEL),
              Shown(IDC_RECORD_NOTICE),
              Shown(IDC_SINGLE_PRESS),
              Stored(Text(u"ButtonAh", u"<Today>")),
              Stored(Text(u"ButtonA2h", u"{start}\\Programs\\Word.lnk")),
              Select(IDC_SINGLE_PRESS, u"<Page Down>"),
              Hidden(IDC_RECORD_NOTICE),
              Shown(IDC_PRESS_HOLD),
              Shown(IDC_DOUBLE_HOLD_LABEL),
              Selected(IDC_PRESS_HOLD, u"<Today>"),
              Selected(IDC_DOUBLE_HOLD, u"Word"),
              Select(IDC_SINGLE_PRESS, u"<Record>"),
              Shown(IDC_RECORD_NOTICE),
              Done(),
              // The Record function moved from the Record button to Button 1.
              MessageBoxShown(kRebootNotice, u"Quadrakey", 0x40),
              Answer(),
          },
      .registry =
          {
              Command(u"40C1", kRecordCommand),
              Command(u"40C5", Takeover(u'D')),
              Text(u"ButtonA", u"<Record>"),
              Text(u"ButtonAh", u"<Today>"),
              Text(u"ButtonA2", u"<Page Up>"),
              Text(u"ButtonA2h", u"{start}\\Programs\\Word.lnk"),
          },
      .files = {{TakeoverFile(u'A'), false, {}}, {TakeoverFile(u'D'), true, LauncherCommand(3)}},
      .log = {LogHas({u"LaunchButtons::SetShortcut(\"\\Windows\\AppButtons\\Record.lnk\", 0)"})},
  });

  all.push_back({
      .name = "DoneWithNothingChangedRewritesEveryEnabledButton",
      .setup = [] {
        Setup setup = With(StockDeviceRecordKept(), {Number(u"Flags", 5, TableEntry(u"40C1")),
                                                     Text(u"WndCls", u"Old", TableEntry(u"40C1"))});
        setup.buttons[0].command = u"\"{app}\\TapdeckA.lnk\"";
        setup.files.push_back({TakeoverFile(u'A'), true, u"\\Windows\\old.exe"});
        return setup;
      }(),
      .steps = {Done()},
      .registry =
          {
              Command(u"40C1", Takeover(u'A')),
              Number(u"Flags", 0, TableEntry(u"40C1")),
              Text(u"WndCls", u"", TableEntry(u"40C1")),
              Number(u"BtnWnd", 0, TableEntry(u"40C1")),
              Command(u"40C2", Takeover(u'B')),
              Command(u"40C3", Takeover(u'C')),
              Command(u"40C5", kRecordCommand),
              Text(u"ButtonD", u"<Record>"),
          },
      .files =
          {
              {TakeoverFile(u'A'), true, LauncherCommand(0)},
              {TakeoverFile(u'C'), true, LauncherCommand(2)},
              {TakeoverFile(u'D'), false, {}},
          },
      .log = {LogHas({u"LaunchButtons::SetShortcut({app}\\TapdeckA.lnk, 0)"}),
              LogHas({u"LaunchButtons::SetShortcut(\"\\Windows\\AppButtons\\Record.lnk\", 3)"})},
  });

  all.push_back({
      .name = "ClearedButtonsAreGivenBackOnlyWhenTakenOver",
      .setup = [] {
        Setup setup = StockDeviceRecordKept();
        setup.buttons[0].command = u"\"{app}\\TapdeckA.lnk\"";
        return setup;
      }(),
      .steps =
          {
              Checked(IDC_OVERRIDE),
              Click(IDC_OVERRIDE),
              Unchecked(IDC_OVERRIDE),
              Shown(IDC_OVERRIDE),
              Hidden(IDC_SINGLE_PRESS),
              Hidden(IDC_SINGLE_PRESS_LABEL),
              Hidden(IDC_PRESS_HOLD),
              Hidden(IDC_DOUBLE_HOLD),
              Hidden(IDC_RECORD_NOTICE),
              Stored(Number(u"EnabledA", 0)),
              SelectLine(IDC_BUTTON_LIST, 1),
              Checked(IDC_OVERRIDE),
              Shown(IDC_SINGLE_PRESS),
              Click(IDC_OVERRIDE),
              Stored(Number(u"EnabledB", 0)),
              SelectLine(IDC_BUTTON_LIST, 0),
              Unchecked(IDC_OVERRIDE),
              Hidden(IDC_SINGLE_PRESS),
              Done(),
          },
      .registry =
          {
              Command(u"40C1", u"\"\\Windows\\Start Menu\\Calendar.lnk\""),
              // Never taken over: not written at all (a write would quote it).
              Command(u"40C2", u"\\Windows\\Start Menu\\Contacts.lnk"),
              Command(u"40C3", Takeover(u'C')),
              Command(u"40C5", kRecordCommand),
          },
      .log = {LogHas({u"LaunchButtons::SetShortcut(\"\\Windows\\Start Menu\\Calendar.lnk\", 0)"}),
              LogLacks(u"LaunchButtons::SetShortcut(\\Windows\\Start Menu\\Contacts.lnk, 1)"),
              LogHas({u"Assignment 1-1-0:", u"Disabled"})},
  });

  // ---- Press combo boxes ------------------------------------------------------------------
  all.push_back({
      .name = "StoredAssignmentsShowAsCatalogueLinesOrOpenLines",
      .setup = With(StockDevice(), {Text(u"ButtonA", u"{start}\\Calendar.lnk"),
                                    Text(u"ButtonAh", u"{start}\\Programs\\setup.exe"),
                                    Text(u"ButtonA2", u"\\Storage Card\\notes.lnk"),
                                    Text(u"ButtonA2h", u"<page up>")}),
      .steps =
          {
              Selected(IDC_SINGLE_PRESS, u"Calendar"),
              Lines(IDC_SINGLE_PRESS, kSingleLines),
              // A program is never matched to its catalogue line.
              Selected(IDC_PRESS_HOLD, u"Open: setup.exe"),
              Line(IDC_PRESS_HOLD, -1, u"Open: setup.exe"),
              Lines(IDC_PRESS_HOLD, kOtherLines + 1),
              Selected(IDC_DOUBLE_PRESS, u"Open: notes.lnk"),
              Selected(IDC_DOUBLE_HOLD, u"<Page Up>"),
              Cancel(),
          },
      .registry = {Text(u"ButtonAh", u"{start}\\Programs\\setup.exe"), Text(u"ButtonA2h", u"<page up>")},
      .log =
          {
              LogHas({u"loadShortcutCombo(combo, 0, 1, 0):", u"  found Calendar", u""}),
              LogHas({u"loadShortcutCombo(combo, 0, 1, 1):", u"  didn't find {start}\\Programs\\setup.exe", u""}),
              LogHas({u"loadShortcutCombo(combo, 0, 2, 1):", u"  found <page up>", u""}),
          },
  });

  all.push_back({
      .name = "OpenFileStoresTheChosenFileOrDoNothing",
      .setup = [] {
        Setup setup = StockDevice();
        setup.files.push_back({u"\\My Documents\\" + std::u16string(250, u'l') + u".psw", false, u"long"});
        return setup;
      }(),
      .steps =
          {
              Select(IDC_SINGLE_PRESS, u"<Open File>"),
              FileDialogShown(u"Select file to launch"),
              ChooseFile(u"\\My Documents\\letter.psw"),
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              Stored(Text(u"ButtonA", u"\\My Documents\\letter.psw")),
              Selected(IDC_SINGLE_PRESS, u"Open: letter.psw"),
              Line(IDC_SINGLE_PRESS, -1, u"Open: letter.psw"),
              Lines(IDC_SINGLE_PRESS, kSingleLines + 1),
              Shown(IDC_PRESS_HOLD),
              Select(IDC_PRESS_HOLD, u"<Open File>"),
              FileDialogShown(u"Select file to launch"),
              CancelFile(),
              Selected(IDC_PRESS_HOLD, u"<Do Nothing>"),
              Stored(Text(u"ButtonAh", u"<Do Nothing>")),
              // A path the dialog's 260 characters cannot hold is no choice.
              Select(IDC_DOUBLE_PRESS, u"<Open File>"),
              ChooseFile(u"\\My Documents\\" + std::u16string(250, u'l') + u".psw"),
              Selected(IDC_DOUBLE_PRESS, u"<Do Nothing>"),
              Stored(Text(u"ButtonA2", u"<Do Nothing>")),
              // Picking the "Open: " line again stores the same path.
              Select(IDC_SINGLE_PRESS, u"<Today>"),
              Stored(Text(u"ButtonA", u"<Today>")),
              Select(IDC_SINGLE_PRESS, u"Open: letter.psw"),
              Stored(Text(u"ButtonA", u"\\My Documents\\letter.psw")),
              Cancel(),
          },
      .registry = {Text(u"ButtonA", u"\\My Documents\\letter.psw"), Text(u"ButtonAh", u"<Do Nothing>"),
                   Text(u"ButtonA2", u"<Do Nothing>")},
      .log =
          {
              LogHas({u"unloadShortcutCombo(combo, 0, 1, 0):", u"  unloading \\My Documents\\letter.psw (30011)", u"",
                      u"loadShortcutCombo(combo, 0, 1, 0):", u"  didn't find \\My Documents\\letter.psw", u""}),
              LogHas({u"  unloading <Do Nothing> (30011)"}),
              LogHas({u"  unloading \\My Documents\\letter.psw (31000)"}),
              LogLacks(u"  unloading <Open File> (30011)"),
          },
  });

  all.push_back({
      .name = "OpenFileWhoseDialogFailsStoresDoNothing",
      .setup = With(StockDevice(), {Text(u"ButtonA", u"<Today>")}),
      .steps =
          {
              Selected(IDC_SINGLE_PRESS, u"<Today>"),
              FailNext(Op::FileDialog, plat::kErrorNotEnoughMemory),
              Select(IDC_SINGLE_PRESS, u"<Open File>"),
              // Nothing was shown: "<Do Nothing>" is stored and selected.
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              Selected(IDC_SINGLE_PRESS, u"<Do Nothing>"),
              Stored(Text(u"ButtonA", u"<Do Nothing>")),
              Lines(IDC_SINGLE_PRESS, kSingleLines),
              // The next one shows.
              Select(IDC_PRESS_HOLD, u"<Open File>"),
              FileDialogShown(u"Select file to launch"),
              ChooseFile(u"\\My Documents\\letter.psw"),
              Selected(IDC_PRESS_HOLD, u"Open: letter.psw"),
              Cancel(),
          },
      .registry = {Text(u"ButtonA", u"<Do Nothing>"), Text(u"ButtonAh", u"\\My Documents\\letter.psw")},
      .log = {LogHas({u"unloadShortcutCombo(combo, 0, 1, 0):", u"  unloading <Do Nothing> (30011)", u"",
                      u"loadShortcutCombo(combo, 0, 1, 0):", u"  found <Do Nothing>", u""})},
      .calls = {{Op::FileDialog, 2}},
  });

  // A shortcut whose path the launcher cannot open (more than 299
  // characters) is refused when chosen, and the press keeps what it had.
  all.push_back({
      .name = "ShortcutTooLongToLaunchIsRefusedWhenChosen",
      .setup = [] {
        Setup setup = With(StockDevice(), {Text(u"ButtonA", u"<Today>")});
        setup.files.push_back({kTooLongShortcut, true, u"\\Windows\\far.exe"});
        return setup;
      }(),
      .steps =
          {
              Selected(IDC_SINGLE_PRESS, u"<Today>"),
              Select(IDC_SINGLE_PRESS, kTooLongName),
              MessageBoxShown(kTooLongNotice, u"Quadrakey", 0x30),
              Answer(),
              Selected(IDC_SINGLE_PRESS, u"<Today>"),
              Stored(Text(u"ButtonA", u"<Today>")),
              Shown(IDC_PRESS_HOLD),
              Select(IDC_PRESS_HOLD, kTooLongName),
              MessageBoxShown(kTooLongNotice, u"Quadrakey", 0x30),
              Answer(),
              NothingSelected(IDC_PRESS_HOLD),
              Cancel(),
          },
      .registry = {Text(u"ButtonA", u"<Today>"), Missing(u"ButtonAh")},
      .log = {LogHas({u"unloadShortcutCombo(combo, 0, 1, 0):",
                      u"  not storing " + kTooLongShortcut + u" (4): too long to launch", u"",
                      u"loadShortcutCombo(combo, 0, 1, 0):", u"  found <Today>", u""})},
  });

  all.push_back({
      .name = "RotationChoiceOpensRightAfterTheSlotIsStored",
      .setup = With(StockDevice(), {Text(u"ButtonB-RotateScreen", u"5"), Text(u"ButtonC-RotateScreenh", u"16"),
                                    Text(u"ButtonD-RotateScreen2h", u"abc")}),
      .steps =
          {
              // First use: 0 degrees only; 90 and 270 chosen.
              Select(IDC_DOUBLE_PRESS, u"<Rotate Screen>"),
              InFront(ScreenKind::kDialog, IDD_ROTATE),
              Stored(Text(u"ButtonA2", u"<Rotate Screen>")),
              Stored(Missing(u"ButtonA-RotateScreen2")),
              Checked(IDC_ROTATE_0),
              Unchecked(IDC_ROTATE_90),
              Unchecked(IDC_ROTATE_180),
              Unchecked(IDC_ROTATE_270),
              Hidden(IDC_SIPPREF),
              Click(IDC_ROTATE_0),
              Click(IDC_ROTATE_90),
              Click(IDC_ROTATE_270),
              Done(),
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              Stored(Text(u"ButtonA-RotateScreen2", u"10")),
              Selected(IDC_DOUBLE_PRESS, u"<Rotate Screen>"),
              // A stored "5" shows 0 and 180 degrees; cancelling keeps it.
              SelectLine(IDC_BUTTON_LIST, 1),
              Select(IDC_SINGLE_PRESS, u"<Rotate Screen>"),
              InFront(ScreenKind::kDialog, IDD_ROTATE),
              Checked(IDC_ROTATE_0),
              Unchecked(IDC_ROTATE_90),
              Checked(IDC_ROTATE_180),
              Unchecked(IDC_ROTATE_270),
              Click(IDC_ROTATE_90),
              Cancel(),
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              // A stored "16" shows no box; Done with none stores nothing.
              SelectLine(IDC_BUTTON_LIST, 2),
              Select(IDC_PRESS_HOLD, u"<Rotate Screen>"),
              Unchecked(IDC_ROTATE_0),
              Unchecked(IDC_ROTATE_90),
              Unchecked(IDC_ROTATE_180),
              Unchecked(IDC_ROTATE_270),
              Done(),
              // Text that is no number shows 0 degrees only.
              SelectLine(IDC_BUTTON_LIST, 3),
              Select(IDC_DOUBLE_HOLD, u"<Rotate Screen>"),
              Checked(IDC_ROTATE_0),
              Unchecked(IDC_ROTATE_180),
              Cancel(),
              Cancel(),
          },
      .registry =
          {
              Missing(u"ButtonA-RotateScreen"),
              Text(u"ButtonA-RotateScreen2", u"10"),
              Text(u"ButtonB", u"<Rotate Screen>"),
              Text(u"ButtonB-RotateScreen", u"5"),
              Text(u"ButtonCh", u"<Rotate Screen>"),
              Text(u"ButtonC-RotateScreenh", u"16"),
              Text(u"ButtonD-RotateScreen2h", u"abc"),
              // Closed without Done: the table is as it was.
              Command(u"40C1", u"\"\\Windows\\Start Menu\\Calendar.lnk\""),
          },
  });

  // A rotation choice that cannot be made stores no set: the slot keeps
  // "<Rotate Screen>" and whatever set it had, and the page goes on.
  all.push_back({
      .name = "RotationChoiceThatCannotBeMadeStoresNoSet",
      .setup = With(StockDeviceRecordKept(), {Text(u"ButtonB-RotateScreen", u"5")}),
      .steps =
          {
              FailNext(Op::DialogCreate, plat::kErrorNotEnoughMemory),
              Select(IDC_DOUBLE_PRESS, u"<Rotate Screen>"),
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              Selected(IDC_DOUBLE_PRESS, u"<Rotate Screen>"),
              Stored(Text(u"ButtonA2", u"<Rotate Screen>")),
              Stored(Missing(u"ButtonA-RotateScreen2")),
              SelectLine(IDC_BUTTON_LIST, 1),
              FailNext(Op::DialogCreate, plat::kErrorNotEnoughMemory),
              Select(IDC_SINGLE_PRESS, u"<Rotate Screen>"),
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              Stored(Text(u"ButtonB-RotateScreen", u"5")),
              Shown(IDC_PRESS_HOLD),
              // The next choice opens as ever.
              Select(IDC_PRESS_HOLD, u"<Rotate Screen>"),
              InFront(ScreenKind::kDialog, IDD_ROTATE),
              Checked(IDC_ROTATE_0),
              Click(IDC_ROTATE_180),
              Done(),
              InFront(ScreenKind::kPageSet, IDD_SETTINGS),
              Done(),
          },
      .registry =
          {
              Text(u"ButtonA2", u"<Rotate Screen>"),
              Missing(u"ButtonA-RotateScreen2"),
              Text(u"ButtonB", u"<Rotate Screen>"),
              Text(u"ButtonB-RotateScreen", u"5"),
              Text(u"ButtonBh", u"<Rotate Screen>"),
              Text(u"ButtonB-RotateScreenh", u"5"),
              Command(u"40C2", Takeover(u'B')),
          },
      .calls = {{Op::DialogCreate, 3}},
  });

  // ---- Buttons beyond the table ----------------------------------------------------------
  all.push_back({
      .name = "UserDefinedButtonFollowsTheHardwareButtons",
      .setup = With(StockDeviceRecordKept(),
                    {Text(u"B0", u"Side button", u"Software\\Quadrakey\\Hotkeys"),
                     Number(u"H0", 0xC6, u"Software\\Quadrakey\\Hotkeys")}),
      .steps =
          {
              Lines(IDC_BUTTON_LIST, 5),
              Line(IDC_BUTTON_LIST, 4, u"Side button"),
              SelectLine(IDC_BUTTON_LIST, 4),
              Shown(IDC_USER_BUTTON_LABEL),
              Hidden(IDC_OVERRIDE),
              Shown(IDC_SINGLE_PRESS),
              Shown(IDC_DOUBLE_HOLD),
              Select(IDC_SINGLE_PRESS, u"<Today>"),
              Stored(Text(u"ButtonE", u"<Today>")),
              Select(IDC_DOUBLE_PRESS, u"Solitaire"),
              Stored(Text(u"ButtonE2", u"{start}\\Programs\\Games\\Solitaire.lnk")),
              SelectLine(IDC_BUTTON_LIST, 0),
              Shown(IDC_OVERRIDE),
              Hidden(IDC_USER_BUTTON_LABEL),
              Done(),
          },
      .registry =
          {
              Text(u"ButtonE", u"<Today>"),
              Text(u"B0", u"Side button", u"Software\\Quadrakey\\Hotkeys"),
              Number(u"H0", 0xC6, u"Software\\Quadrakey\\Hotkeys"),
              Missing(u"EnabledE"),
          },
      .files = {{TakeoverFile(u'E'), false, {}}},
      .log = {LogLacks(u"LaunchButtons::SetShortcut({app}\\TapdeckE.lnk, 4)"),
              LogLacks(u"Assignment 4-1-0:")},
  });

  all.push_back({
      .name = "EmptyListActsOnPositionZeroAsAUserDefinedButton",
      .setup = {.folders = {kScenarioAppFolder}, .values = {Text(u"AppFolder", kScenarioAppFolder)}},
      .steps =
          {
              Lines(IDC_BUTTON_LIST, 0),
              Shown(IDC_USER_BUTTON_LABEL),
              Hidden(IDC_OVERRIDE),
              Shown(IDC_SINGLE_PRESS),
              Line(IDC_SINGLE_PRESS, 0, u"<Today>"),
              Shown(IDC_PRESS_HOLD),
              Hidden(IDC_RECORD_NOTICE),
              Select(IDC_SINGLE_PRESS, u"<Today>"),
              Stored(Text(u"ButtonA", u"<Today>")),
              Done(),
          },
      .registry = {Text(u"ButtonA", u"<Today>"), Number(u"HoldInterval", 400)},
      .log = {LogHas({u"Setting Virtual Key codes:", u"loadShortcutCombo(combo, 0, 1, 0):"}),
              LogLacks(u"Assignment 0-1-0:")},
  });

  // ---- Options ----------------------------------------------------------------------------
  all.push_back({
      .name = "SlidersStartAt400WhenNothingIsStored",
      .setup = StockDeviceRecordKept(),
      .steps = {Tab(u"Options"), InFront(ScreenKind::kPageSet, IDD_OPTIONS), Slider(IDC_HOLD_SLIDER, 400),
                Slider(IDC_DBLCLICK_SLIDER, 400), Done()},
      .registry = {Number(u"HoldInterval", 400), Number(u"DblClickInterval", 400)},
  });

  // The milliseconds follow the thumb as it moves, before Done.
  all.push_back({
      .name = "SlidersShowTheirTimesInMilliseconds",
      .setup = With(StockDeviceRecordKept(), {Number(u"HoldInterval", 300)}),
      .steps = {Tab(u"Options"), TextStarts(IDC_HOLD_MS, u"300 ms"), TextStarts(IDC_DBLCLICK_MS, u"400 ms"),
                Slide(IDC_DBLCLICK_SLIDER, 850), TextStarts(IDC_DBLCLICK_MS, u"850 ms"),
                Slide(IDC_HOLD_SLIDER, 5000), TextStarts(IDC_HOLD_MS, u"800 ms"), Done()},
      .registry = {Number(u"HoldInterval", 800), Number(u"DblClickInterval", 850)},
  });

  all.push_back({
      .name = "SlidersKeepStoredTimingsWithinTheirRanges",
      .setup = With(StockDeviceRecordKept(), {Number(u"HoldInterval", 100), Number(u"DblClickInterval", 5000)}),
      .steps = {Tab(u"Options"), Slider(IDC_HOLD_SLIDER, 200), Slider(IDC_DBLCLICK_SLIDER, 2000), Done()},
      .registry = {Number(u"HoldInterval", 200), Number(u"DblClickInterval", 2000)},
  });

  all.push_back({
      .name = "SlidersMovedFullyRight",
      .setup = StockDeviceRecordKept(),
      .steps = {Tab(u"Options"), Slide(IDC_HOLD_SLIDER, 800), Slide(IDC_DBLCLICK_SLIDER, 2000),
                Slider(IDC_HOLD_SLIDER, 800), Slider(IDC_DBLCLICK_SLIDER, 2000), Done()},
      .registry = {Number(u"HoldInterval", 800), Number(u"DblClickInterval", 2000)},
  });

  // Every page is made and initialised with the sheet and applies at Done,
  // visited or not: the timings are read, kept in range and written back.
  all.push_back({
      .name = "TimingsAreWrittenAtDoneWithoutVisitingOptions",
      .setup = With(StockDeviceRecordKept(), {Number(u"HoldInterval", 100), Number(u"DblClickInterval", 5000)}),
      .steps = {InFront(ScreenKind::kPageSet, IDD_SETTINGS), Done()},
      .registry = {Number(u"HoldInterval", 200), Number(u"DblClickInterval", 2000)},
  });

  all.push_back({
      .name = "TimingsOfAnyValueOrTypeShowAndStayWithoutDone",
      .setup = With(StockDevice(), {Number(u"HoldInterval", 0xFFFFFFFF), Text(u"DblClickInterval", u"fast")}),
      .steps = {Tab(u"Options"), Slider(IDC_HOLD_SLIDER, 800), TextStarts(IDC_HOLD_MS, u"800 ms"),
                Slider(IDC_DBLCLICK_SLIDER, 400), TextStarts(IDC_DBLCLICK_MS, u"400 ms"), Cancel()},
      .registry = {Number(u"HoldInterval", 0xFFFFFFFF), Text(u"DblClickInterval", u"fast")},
  });

  // ---- Closing, the dump, start-up -----------------------------------------------------------
  all.push_back({
      .name = "ClosingWithoutDoneKeepsTableAndTimings",
      .setup = StockDevice(),
      .steps =
          {
              Select(IDC_SINGLE_PRESS, u"<Today>"),
              SelectLine(IDC_BUTTON_LIST, 1),
              Click(IDC_OVERRIDE),
              Tab(u"Options"),
              Slide(IDC_HOLD_SLIDER, 700),
              Cancel(),
          },
      .registry =
          {
              Text(u"ButtonA", u"<Today>"),
              Number(u"EnabledB", 0),
              Command(u"40C1", u"\"\\Windows\\Start Menu\\Calendar.lnk\""),
              Command(u"40C2", u"\\Windows\\Start Menu\\Contacts.lnk"),
              Missing(u"HoldInterval"),
              Missing(u"DblClickInterval"),
          },
      .files = {{TakeoverFile(u'A'), false, {}}},
      .log = {LogHas({u"Assignment 0-1-0:", u"Enabled", u"<Today>", u"", u"Assignment 0-1-1:"}),
              LogHas({u"Assignment 1-1-0:", u"Disabled"})},
  });

  // The reboot notice is only a notice: Done goes on without it.
  all.push_back({
      .name = "RebootNoticeThatCannotBeShownStillFinishesDone",
      .setup = StockDevice(),
      .steps = {Tab(u"Options"), Slide(IDC_HOLD_SLIDER, 300), Slide(IDC_DBLCLICK_SLIDER, 600),
                FailNext(Op::MessageBox, plat::kErrorNotEnoughMemory), Done()},
      .registry = {Command(u"40C1", Takeover(u'A')), Command(u"40C5", Takeover(u'D')),
                   Number(u"HoldInterval", 300), Number(u"DblClickInterval", 600)},
      .files = {{TakeoverFile(u'D'), true, LauncherCommand(3)}},
      .log = {LogHas({u"Assignment 3-2-1:", u"Enabled"})},
      .calls = {{Op::MessageBox, 1}},
  });

  // Pages that cannot be shown change nothing; the dump is written as after
  // leaving them, and the program ends as ever.
  all.push_back({
      .name = "PagesThatCannotBeShownStillDumpTheAssignments",
      .setup = [] {
        Setup setup = With(StockDevice(), {Text(u"ButtonA", u"<Today>")});
        setup.faults = {{Op::PageSet, 1, plat::kErrorNotEnoughMemory}};
        return setup;
      }(),
      .steps = {},
      .registry = {Text(u"ButtonA", u"<Today>"), Command(u"40C1", u"\"\\Windows\\Start Menu\\Calendar.lnk\""),
                   Missing(u"HoldInterval")},
      .files = {{TakeoverFile(u'A'), false, {}}},
      .log = {LogHas({u"The pages could not be shown (error 8)", u"", u"Assignment 0-1-0:", u"Enabled", u"<Today>"}),
              LogLacks(u"loadShortcutCombo(combo, 0, 1, 0):")},
      .calls = {{Op::PageSet, 1}, {Op::DialogCreate, 0}, {Op::MessageBox, 0}},
  });

  {
    // The cut copy of an assignment longer than 300 characters names this
    // file: it is not the slot's, and is never read.
    const std::u16string decoy = u"\\D\\" + std::u16string(200, u'a') + u"\\" + std::u16string(92, u'b') + u".lnk";
    all.push_back({
        .name = "AssignmentDumpLines",
        .setup = [&] {
          Setup setup = With(StockDevice(), {Text(u"ButtonA", u"<Today>"), Text(u"ButtonAh", u"\\Missing\\gone.lnk"),
                                             Text(u"ButtonA2", u"\\My Documents\\link.lnk"),
                                             Text(u"ButtonA2h", u"\\" + std::u16string(5000, u'x') + u".lnk"),
                                             Text(u"ButtonB", decoy + u"\\tail.lnk")});
          setup.files.push_back({u"\\My Documents\\link.lnk", false, u"21#\\Windows\\calendar.exe"});
          setup.files.push_back({decoy, false, u"not this slot's"});
          return setup;
        }(),
        .steps = {Selected(IDC_DOUBLE_HOLD, u"Open: " + std::u16string(5000, u'x') + u".lnk"), Cancel()},
        .registry = {Text(u"ButtonA2h", u"\\" + std::u16string(5000, u'x') + u".lnk")},
        .log =
            {
                LogHas({u"", u"Assignment 0-1-0:", u"Enabled", u"<Today>", u"", u"Assignment 0-1-1:"}),
                LogHas({u"Assignment 0-1-1:", u"Enabled", u"\\Missing\\gone.lnk", u"Unable to open file", u"",
                        u"Assignment 0-2-0:"}),
                LogHas({u"Assignment 0-2-0:", u"Enabled", u"\\My Documents\\link.lnk",
                        u"Shortcut: 21#\\Windows\\calendar.exe", u""}),
                LogHas({u"Assignment 0-2-1:", u"Enabled", u"\\" + std::u16string(299, u'x'), u"",
                        u"Assignment 1-1-0:"}),
                LogHas({u"Assignment 1-1-0:", u"Enabled", decoy, u"Unable to open file"}),
                LogLacks(u"Shortcut: not this slot's"),
            },
    });
  }

  all.push_back({
      .name = "VirtualKeysProbedOnlyWhenUnknown",
      .setup = With(StockDevice(), {Number(u"VirtualKeyA", 0x199), Number(u"VirtualKeyB", 0)}),
      .steps = {Cancel()},
      .registry =
          {
              Number(u"VirtualKeyA", 0x199),
              HostOnly(Number(u"VirtualKeyB", 0xC2)),
              // The desktop has no button table to ask: the probe finds no
              // key, so the code stays 0 (and is probed again next time).
              Win32Only(Number(u"VirtualKeyB", 0)),
              // Probing rewrites the entry: its command again, quoted.
              Command(u"40C2", u"\"\\Windows\\Start Menu\\Contacts.lnk\""),
              Command(u"40C1", u"\"\\Windows\\Start Menu\\Calendar.lnk\""),
          },
      // The probe's own read of the command lands inside the button's line.
      .log = {HostOnly(LogHas({u"Setting Virtual Key codes:", u"  button 0 == 153",
                               u"  button 1 == 0  returning curr \\Windows\\Start Menu\\Contacts.lnk",
                               u", set to 194", u"  button 2 == 195", u"  button 3 == 197",
                               u"loadShortcutCombo(combo, 0, 1, 0):"})),
              Win32Only(LogHas({u"Setting Virtual Key codes:", u"  button 0 == 153",
                                u"  button 1 == 0  returning curr \\Windows\\Start Menu\\Contacts.lnk",
                                u", set to 0", u"  button 2 == 195", u"  button 3 == 197",
                                u"loadShortcutCombo(combo, 0, 1, 0):"}))},
  });

  all.push_back({
      .name = "SecondStartBringsTheFirstToTheFront",
      .setup = StockDevice(),
      .steps = {StartAgain(), InFront(ScreenKind::kPageSet, IDD_SETTINGS), Cancel()},
  });

  all.push_back({
      .name = "HotKeyShowsItsId",
      .setup = StockDevice(),
      .steps = {HotKey(7), MessageBoxShown(u"HotKey!", u"7", 0x40000), Answer(),
                InFront(ScreenKind::kPageSet, IDD_SETTINGS),
                // A box that cannot be shown leaves the pages as they were.
                FailNext(Op::MessageBox, plat::kErrorNotEnoughMemory), HotKey(8),
                InFront(ScreenKind::kPageSet, IDD_SETTINGS), Cancel()},
      .calls = {{Op::MessageBox, 2}},
  });

  all.push_back({
      .name = "AboutShowsTheReleasedVersion",
      .setup = StockDevice(),
      .steps = {Tab(u"About"), InFront(ScreenKind::kPageSet, IDD_ABOUT), TextStarts(IDC_VERSION, u"Quadrakey 2.1\n"),
                Hidden(IDC_SIPPREF), Tab(u"Help"), InFront(ScreenKind::kPageSet, IDD_HELP), Cancel()},
  });

  // ---- Bad input ----------------------------------------------------------------------------
  all.push_back({
      .name = "BadStoredValuesOpenAndStayAsTheyAre",
      .setup = With(StockDevice(), {Text(u"ButtonA", std::u16string(5000, u'q')), Number(u"ButtonAh", 5),
                                    Text(u"EnabledB", u"yes"), Text(u"ButtonB-RotateScreen", u"-3")}),
      .steps =
          {
              Selected(IDC_SINGLE_PRESS, u"Open: " + std::u16string(5000, u'q')),
              NothingSelected(IDC_PRESS_HOLD),
              SelectLine(IDC_BUTTON_LIST, 1),
              Checked(IDC_OVERRIDE),
              Select(IDC_SINGLE_PRESS, u"<Rotate Screen>"),
              Checked(IDC_ROTATE_0),
              Unchecked(IDC_ROTATE_180),
              Cancel(),
              Cancel(),
          },
      .registry =
          {
              Text(u"ButtonA", std::u16string(5000, u'q')),
              Number(u"ButtonAh", 5),
              Text(u"EnabledB", u"yes"),
              Text(u"ButtonB-RotateScreen", u"-3"),
          },
      .log = {LogHas({u"Assignment 0-1-0:", u"Enabled", std::u16string(300, u'q'), u""})},
  });

  // Buttons numbered from a table read with gaps would take the person's
  // choices to other buttons for good: the program says so and changes nothing.
  all.push_back({
      .name = "ButtonTableThatCannotBeReadChangesNothing",
      .setup = [] {
        Setup setup = With(StockDevice(), {Number(u"VirtualKeyB", 0)});
        setup.faults = {{Op::RegistryEnum, 1, plat::kErrorRegistryIoFailed}};
        return setup;
      }(),
      .steps = {MessageBoxShown(u"The device's table of hardware buttons could not be read (error 1016). Quadrakey "
                                u"has changed nothing. Please start it again.",
                                u"Quadrakey", 0x10),
                Answer()},
      .registry = {Number(u"VirtualKeyB", 0), Command(u"40C2", u"\\Windows\\Start Menu\\Contacts.lnk"),
                   Missing(u"EnabledA")},
      .log = {LogHas({u"The button table could not be read (error 1016): nothing was changed"}),
              LogLacks(u"Setting Virtual Key codes:")},
      .exit_code = 1,
  });

  // A probe's second write fails: the button's key is kept, the entry is
  // mended at the next start, and the next button is not given its key.
  all.push_back({
      .name = "ProbeWhoseCommandCannotBePutBack",
      .setup = [] {
        Setup setup = With(StockDevice(), {Number(u"VirtualKeyA", 0), Number(u"VirtualKeyB", 0)});
        // The kept entry and command, the dummy and its three shell values,
        // then the command put back.
        setup.faults = {{Op::RegistryWrite, 7, plat::kErrorDiskFull}};
        return setup;
      }(),
      .steps = {Cancel()},
      // The desktop's shell names no key for the dummy.
      .registry = {HostOnly(Number(u"VirtualKeyA", 0xC1)), Win32Only(Number(u"VirtualKeyA", 0)),
                   Number(u"VirtualKeyB", 0),
                   Command(u"40C1", u"\"QuadrakeyDummyExeName.exe\""),
                   Text(u"Command", u"\"\\Windows\\Start Menu\\Calendar.lnk\"", u"Software\\Quadrakey\\Probe"),
                   Command(u"40C2", u"\\Windows\\Start Menu\\Contacts.lnk")},
      .log = {LogHas({u"  button 1 == 0  not probed: " + TableEntry(u"40C1") + u" still names the probe's program, set to 0"})},
  });

  all.push_back({
      .name = "StartMenuThatCannotBeListed",
      .setup = [] {
        Setup setup = StockDevice();
        setup.files.clear();
        return setup;
      }(),
      .steps = {Lines(IDC_SINGLE_PRESS, 14), Line(IDC_SINGLE_PRESS, -1, u"<Do Nothing>"),
                Select(IDC_SINGLE_PRESS, u"<Scroll Up>"), Stored(Text(u"ButtonA", u"<Scroll Up>")), Cancel()},
      .log = {LogHas({u"Shortcut list:", u"", u"LaunchButtons::LaunchButtons() subkeys:"})},
  });

  AddButtonScenarios(all);
  return all;
}

}  // namespace

const std::vector<Scenario>& PageScenarios() {
  static const std::vector<Scenario> scenarios = MakeScenarios();
  return scenarios;
}

}  // namespace tapdeck_scenario
