// The emulated window system inside one program: the control model, the
// modal loops and what a person can do, driven through the idle hook.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "platform/host/ui/channel.h"
#include "platform/host/ui/window_system.h"
#include "platform/faults.h"
#include "platform/person.h"
#include "platform/ui.h"
#include "tests/platform_host/host_support.h"
#include "tests/platform_host/json_checker.h"
#include "tests/platform_host/ui_test_templates.h"
#include "tests/support/test_device.h"

namespace {

using namespace plat;
using namespace ui_test;
using person::Action;
using person::ActionKind;
using person::ScreenKind;

std::string Utf8(const std::u16string& text) { return device::ToUtf8(text); }

// The person: one step each time the program waits for input.
class Person {
 public:
  void Then(std::function<void()> step) { steps_.push_back(std::move(step)); }
  int waits() const { return waits_; }
  size_t steps_taken() const { return next_; }
  static void Hook(void* self) { static_cast<Person*>(self)->Wait(); }

 private:
  void Wait() {
    ++waits_;
    if (next_ < steps_.size()) {
      std::function<void()> step = steps_[next_++];
      step();
    }
  }
  std::vector<std::function<void()>> steps_;
  size_t next_ = 0;
  int waits_ = 0;
};

Action Make(ActionKind kind, int control = 0, int line = -1, std::u16string text = {}, int position = 0) {
  return person::MakeAction(kind, control, line, std::move(text), position);
}
Action Select(int id, int line) { return Make(ActionKind::kSelect, id, line); }
Action SelectText(int id, const std::u16string& text) { return Make(ActionKind::kSelect, id, -1, text); }
Action Click(int id) { return Make(ActionKind::kClick, id); }
Action Slide(int id, int position) { return Make(ActionKind::kSlide, id, -1, {}, position); }
Action Tab(const std::u16string& title) { return Make(ActionKind::kTab, 0, -1, title); }
Action File(const std::u16string& path) { return Make(ActionKind::kChooseFile, 0, -1, path); }
Action Simple(ActionKind kind) { return Make(kind); }

void Do(const Action& action) {
  std::u16string error;
  EXPECT_TRUE(person::Act(action, &error)) << Utf8(error);
}

std::string Refusal(const Action& action) {
  std::u16string error;
  EXPECT_FALSE(person::Act(action, &error));
  return Utf8(error);
}

Window Front() { return person::CurrentScreen().dialog; }

// ---- The test's pages and dialog ----------------------------------------------

std::vector<std::string> events;
bool apply_shows_box = false;
intptr_t page_b_apply_answer = 0;
size_t file_capacity = 260;
intptr_t dialog_param = 5;
const std::u16string kCaption = u"Test";

intptr_t PageA(Window page, const DialogMessage& message) {
  switch (message.event) {
    case DialogEvent::kKeyDown:  // pages take no keys
      return 0;
    case DialogEvent::kInit:
      events.push_back("A init " + std::to_string(message.param));
      AddLine(page, kList, u"Alpha", 10);
      AddLine(page, kList, u"Beta", 20);
      AddLine(page, kList, u"Gamma", 30);
      SelectLine(page, kList, 0);
      for (int i = 0; i < 5; ++i) AddLine(page, kCombo, u"Entry " + device::FromUtf8(std::to_string(i)), 1000 + i);
      SetSliderRange(page, kSlider, 200, 800);
      SetSliderPosition(page, kSlider, 400);
      return 1;
    case DialogEvent::kCommand: {
      if (message.control == kDialogButton) {
        events.push_back("dialog " + std::to_string(RunDialog(page, kChoiceDialog, ChoiceProc, dialog_param)));
        return 0;
      }
      // What the page sees when it is told: the state after the person's action.
      std::string event = "A command " + std::to_string(message.control) + " " + std::to_string(message.code);
      if (message.control == kList || message.control == kCombo)
        event += " line " + std::to_string(GetSelectedLine(page, message.control));
      if (message.control == kCheck || message.control == kManualCheck)
        event += IsChecked(page, message.control) ? " on" : " off";
      events.push_back(event);
      return 0;
    }
    case DialogEvent::kApply:
      events.push_back("A apply");
      if (apply_shows_box) {
        const int answer = MessageBoxOwned(page, u"Reboot now", &kCaption, kMbIconInformation);
        events.push_back("A answered " + std::to_string(answer));
      }
      return 0;
  }
  return 0;
}

intptr_t PageB(Window page, const DialogMessage& message) {
  switch (message.event) {
    case DialogEvent::kKeyDown: return 0;  // pages take no keys
    case DialogEvent::kInit: events.push_back("B init " + std::to_string(message.param)); return 1;
    case DialogEvent::kApply: events.push_back("B apply"); return page_b_apply_answer;
    case DialogEvent::kCommand:
      if (message.control == 111) {
        events.push_back("box " + std::to_string(MessageBox(u"out of memory", nullptr, kMbOk)));
      } else if (message.control == 112) {
        static const char16_t* const kFilters[] = {u"All Files", u"*.*"};
        OpenFileRequest request;
        request.owner = page;
        request.filters = kFilters;
        request.filter_count = 1;
        request.title = u"Select file to launch";
        request.flags = kOfnFileMustExist;
        request.capacity = file_capacity;
        std::u16string path = u"untouched";
        bool chosen = GetOpenFileName(request, &path);
        events.push_back(chosen ? "file " + Utf8(path)
                                : "no file, error " + std::to_string(GetLastError()) + ", " + Utf8(path));
      }
      return 0;
  }
  return 0;
}

const PageSpec kPages[] = {{kPageA, u"Page A", PageA}, {kPageB, u"Page B", PageB}};

class HostUi : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    events.clear();
    apply_shows_box = false;
    page_b_apply_answer = 0;
    file_capacity = 260;
    dialog_param = 5;
    person::SetIdleHook(Person::Hook, &person_);
  }
  void TearDown() override {
    device::ResetWindowSystem();
    DeviceTest::TearDown();
  }
  bool RunPages() { return RunPageSet(0, u"Pages", kPages, 2); }
  Person person_;
};

// ---- The control model ----------------------------------------------------------

TEST_F(HostUi, ListsKeepInsertionOrderCodesAndSelection) {
  Window seen = 0;
  person_.Then([&] {
    Window d = seen = Front();
    ClearLines(d, kCombo);
    EXPECT_EQ(GetLineCount(d, kCombo), 0);
    EXPECT_EQ(GetSelectedLine(d, kCombo), -1);
    EXPECT_EQ(AddLine(d, kCombo, u"Beta", 7), 0);
    EXPECT_EQ(AddLine(d, kCombo, u"alpha", 8), 1);
    EXPECT_EQ(AddLine(d, kCombo, u"Beta", 9), 2);
    EXPECT_EQ(AddLine(d, kCombo, u"Be", 10), 3);
    EXPECT_EQ(GetLineCount(d, kCombo), 4);
    EXPECT_EQ(GetLineText(d, kCombo, 1), u"alpha");
    EXPECT_EQ(GetLineCode(d, kCombo, 2), 9);
    EXPECT_EQ(GetLineCode(d, kCombo, 4), -1);
    EXPECT_EQ(GetLineText(d, kCombo, -1), u"");

    // Whole text, any case, starting after `start` and wrapping round.
    EXPECT_EQ(FindLine(d, kCombo, -1, u"BETA"), 0);
    EXPECT_EQ(FindLine(d, kCombo, 0, u"beta"), 2);
    EXPECT_EQ(FindLine(d, kCombo, 2, u"beta"), 0);
    EXPECT_EQ(FindLine(d, kCombo, 1, u"ALPHA"), 1);  // back to the start line itself
    EXPECT_EQ(FindLine(d, kCombo, -1, u"Bet"), -1);
    EXPECT_EQ(FindLine(d, kCombo, -1, u"B"), -1);
    EXPECT_EQ(FindLine(d, kCombo, 99, u"be"), 3);
    EXPECT_EQ(FindLine(d, kList, -1, u"GAMMA"), 2);

    // The page set CB_SETCURSEL / LB_SETCURSEL rules; no notification either way.
    SelectLine(d, kCombo, 2);
    EXPECT_EQ(GetSelectedLine(d, kCombo), 2);
    EXPECT_EQ(GetControlText(d, kCombo), u"Beta");
    SelectLine(d, kCombo, 17);
    EXPECT_EQ(GetSelectedLine(d, kCombo), -1);
    SelectLine(d, kList, 1);
    SelectLine(d, kList, 17);
    EXPECT_EQ(GetSelectedLine(d, kList), 1);
    SelectLine(d, kList, -1);
    EXPECT_EQ(GetSelectedLine(d, kList), -1);
    SelectLine(d, kCombo, 3);
    ClearLines(d, kCombo);
    EXPECT_EQ(GetLineCount(d, kCombo), 0);
    EXPECT_EQ(GetSelectedLine(d, kCombo), -1);

    // Failures answer as Win32 does, with its last error.
    EXPECT_EQ(AddLine(d, kCheck, u"x", 1), -1);
    EXPECT_EQ(GetLineCount(d, 999), -1);
    EXPECT_EQ(GetLastError(), 1421u);
    EXPECT_EQ(GetLineCount(d + 4096, kList), -1);
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_EQ(GetControlText(d, 999), u"");
    EXPECT_EQ(FindLine(d, 999, -1, u"Alpha"), -1);
    Do(Simple(ActionKind::kCancel));
  });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(person_.steps_taken(), 1u);
  // The sheet's pages are gone with it.
  EXPECT_EQ(GetLineCount(seen, kList), -1);
  EXPECT_EQ(GetLastError(), 1400u);
  std::vector<std::string> expected{"A init 0", "B init 0"};  // SelectLine sent nothing
  EXPECT_EQ(events, expected);
}

TEST_F(HostUi, ChecksSlidersTextAndVisibility) {
  person_.Then([&] {
    Window a = Front();
    EXPECT_TRUE(IsControlShown(a, kList));
    EXPECT_FALSE(IsControlShown(a, kHiddenNote));  // no WS_VISIBLE in the template
    EXPECT_FALSE(IsControlShown(a, kSipPref));
    ShowControl(a, kHiddenNote, true);
    EXPECT_TRUE(IsControlShown(a, kHiddenNote));
    ShowControl(a, kList, false);
    EXPECT_FALSE(IsControlShown(a, kList));
    EXPECT_FALSE(IsControlShown(a, 999));

    EXPECT_FALSE(IsChecked(a, kCheck));
    SetChecked(a, kCheck, true);
    EXPECT_TRUE(IsChecked(a, kCheck));
    EXPECT_FALSE(IsChecked(a, kList));  // not a check box
    SetControlText(a, kStatus, u"\u00e9t\u00e9 \"quoted\"");
    EXPECT_EQ(GetControlText(a, kStatus), u"\u00e9t\u00e9 \"quoted\"");
    EXPECT_EQ(GetControlText(a, kCheck), u"Use the thing");
    EXPECT_EQ(GetSliderPosition(a, kSlider), 400);
    Do(Tab(u"page b"));
  });
  person_.Then([&] {
    Window b = Front();
    // A trackbar starts as one: 0 to 100 at 0, and keeps its position within the range.
    EXPECT_EQ(GetSliderPosition(b, 113), 0);
    SetSliderPosition(b, 113, 150);
    EXPECT_EQ(GetSliderPosition(b, 113), 100);
    SetSliderPosition(b, 113, -5);
    EXPECT_EQ(GetSliderPosition(b, 113), 0);
    SetSliderRange(b, 113, 200, 800);
    EXPECT_EQ(GetSliderPosition(b, 113), 200);
    SetSliderPosition(b, 113, 1000);
    EXPECT_EQ(GetSliderPosition(b, 113), 800);
    SetSliderRange(b, 113, 300, 400);
    EXPECT_EQ(GetSliderPosition(b, 113), 400);
    EXPECT_EQ(GetSliderPosition(b, 999), 0);
    EXPECT_EQ(GetLastError(), 1421u);
    Do(Simple(ActionKind::kCancel));
  });
  EXPECT_FALSE(RunPages());
}

// ---- The page set -----------------------------------------------------------------

TEST_F(HostUi, PageSetInitialisesEveryPageAndAppliesInPageOrderAtDone) {
  person_.Then([&] {
    person::Screen screen = person::CurrentScreen();
    EXPECT_EQ(screen.kind, ScreenKind::kPageSet);
    EXPECT_EQ(screen.tabs, (std::vector<std::u16string>{u"Page A", u"Page B"}));
    EXPECT_EQ(screen.current_tab, 0);
    EXPECT_EQ(screen.template_id, kPageA);
    Do(Tab(u"PAGE B"));
    EXPECT_EQ(person::CurrentScreen().template_id, kPageB);
    EXPECT_NE(person::CurrentScreen().dialog, screen.dialog);
    EXPECT_EQ(events.size(), 2u);  // switching tabs tells the pages nothing
  });
  person_.Then([&] { Do(Simple(ActionKind::kDone)); });
  EXPECT_TRUE(RunPages());
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0", "A apply", "B apply"}));
  EXPECT_EQ(person::CurrentScreen().kind, ScreenKind::kNothing);
}

TEST_F(HostUi, CancellingThePageSetAppliesNothing) {
  person_.Then([&] {
    SetLastError(kErrorFileNotFound);  // as a page's read of a missing value leaves it
    Do(Simple(ActionKind::kCancel));
  });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(GetLastError(), 0u);  // left, not failed
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0"}));
}

TEST_F(HostUi, APageThatRefusesToApplyKeepsTheSetOpen) {
  page_b_apply_answer = 1;
  person_.Then([&] { Do(Simple(ActionKind::kDone)); });
  person_.Then([&] {
    EXPECT_EQ(person::CurrentScreen().kind, ScreenKind::kPageSet);
    EXPECT_EQ(person::CurrentScreen().current_tab, 1);
    Do(Simple(ActionKind::kCancel));
  });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0", "A apply", "B apply"}));
}

TEST_F(HostUi, AnApplyWaitsInsideItsMessageBox) {
  apply_shows_box = true;
  person_.Then([&] { Do(Simple(ActionKind::kDone)); });
  person_.Then([&] {
    person::Screen screen = person::CurrentScreen();
    EXPECT_EQ(screen.kind, ScreenKind::kMessageBox);
    EXPECT_EQ(screen.text, u"Reboot now");
    EXPECT_EQ(screen.caption, u"Test");
    EXPECT_EQ(screen.flags, kMbIconInformation);
    EXPECT_EQ(events.back(), "A apply");  // page B waits for the answer
    EXPECT_EQ(Refusal(Simple(ActionKind::kDone)), "a message box is in front: answer it first");
    EXPECT_EQ(Refusal(Simple(ActionKind::kCancel)), "a message box is in front: answer it (it has only OK)");
    EXPECT_EQ(Refusal(Click(kCheck)), "a message box is in front: answer it first");
    Do(Simple(ActionKind::kAnswer));
  });
  EXPECT_TRUE(RunPages());
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0", "A apply", "A answered 1", "B apply"}));
  std::vector<device::JournalEntry> messages = host_test::Events("message");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].fields, "\"text\":\"Reboot now\",\"caption\":\"Test\",\"flags\":64");
}

// ---- Dialogs ------------------------------------------------------------------------

TEST_F(HostUi, ADialogOpenedByAnActionReturnsWhatItEndsWith) {
  person_.Then([&] { Do(Click(kDialogButton)); });
  person_.Then([&] {
    person::Screen screen = person::CurrentScreen();
    ASSERT_EQ(screen.kind, ScreenKind::kDialog);
    EXPECT_EQ(screen.template_id, kChoiceDialog);
    EXPECT_EQ(screen.caption, u"Choose");
    EXPECT_TRUE(IsChecked(screen.dialog, 121));  // from the creation parameter, 5
    EXPECT_FALSE(IsChecked(screen.dialog, 122));
    EXPECT_TRUE(IsChecked(screen.dialog, 123));
    EXPECT_EQ(Refusal(Click(kCheck)), "no control 102 on the dialog \"Choose\"");
    EXPECT_EQ(Refusal(Tab(u"Page B")), "the dialog in front has no tabs");
    Do(Click(122));
  });
  person_.Then([&] { Do(Simple(ActionKind::kDone)); });
  person_.Then([&] {
    EXPECT_EQ(person::CurrentScreen().kind, ScreenKind::kPageSet);
    Do(Click(kDialogButton));
  });
  person_.Then([&] { Do(Simple(ActionKind::kCancel)); });
  person_.Then([&] { Do(Simple(ActionKind::kCancel)); });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0", "dialog 7", "dialog -1"}));
}

intptr_t EndsAtOnce(Window dialog, const DialogMessage& message) {
  if (message.event == DialogEvent::kInit) EndDialog(dialog, 42 + message.param);
  return 0;
}

intptr_t IgnoresCancel(Window, const DialogMessage& message) {
  if (message.event == DialogEvent::kCommand) events.push_back("command " + std::to_string(message.control));
  return 0;
}

TEST_F(HostUi, DialogsWithoutAWaitOrWithoutATemplate) {
  EXPECT_EQ(RunDialog(0, kChoiceDialog, EndsAtOnce, 1), 43);
  EXPECT_EQ(person_.waits(), 0);
  SetLastError(0);
  EXPECT_EQ(RunDialog(0, 999, EndsAtOnce, 0), -1);
  EXPECT_EQ(GetLastError(), 1814u);
  EXPECT_FALSE(RunPageSet(0, u"x", nullptr, 0));
  const PageSpec missing[] = {{kPageA, u"A", PageA}, {998, u"B", PageB}};
  EXPECT_FALSE(RunPageSet(0, u"x", missing, 2));
  EXPECT_EQ(GetLastError(), 1814u);
  EXPECT_TRUE(events.empty());  // nothing was made, so nothing was initialised

  // A dialog without a Done button cannot be done; cancelling reaches its procedure.
  person_.Then([&] {
    EXPECT_EQ(Refusal(Simple(ActionKind::kDone)), "the dialog \"Plain\" has no Done button");
    Do(Simple(ActionKind::kCancel));
    EXPECT_EQ(events, (std::vector<std::string>{"command 2"}));
    EndDialog(Front(), 5);
  });
  EXPECT_EQ(RunDialog(0, kPlainDialog, IgnoresCancel, 0), 5);
}

intptr_t TakesKeys(Window dialog, const DialogMessage& message) {
  if (message.event != DialogEvent::kKeyDown) return 0;
  events.push_back("key " + std::to_string(message.code) + " " + std::to_string(message.param));
  if (message.code == 0x1B) EndDialog(dialog, 9);
  return 1;
}

intptr_t MainKeys(Window, WindowEvent event, uintptr_t first, intptr_t) {
  if (event == WindowEvent::kKeyDown || event == WindowEvent::kKeyUp)
    events.push_back(std::string(event == WindowEvent::kKeyDown ? "main down " : "main up ") + std::to_string(first));
  if (event == WindowEvent::kKeyUp) PostQuit(0);
  return 0;
}

void KeyForTheForeground(int key, bool up) {
  bool taken = false;
  ASSERT_TRUE(device::PostKeyToForeground(key, up, &taken));
  EXPECT_TRUE(taken);
}

TEST_F(HostUi, TheDialogInFrontLearnsWhichKeysGoDownAndTheMainWindowOtherwise) {
  const Window main = CreateMainWindow(u"QkKeysMain", u"Keys", MainKeys, GetWorkArea());
  ASSERT_TRUE(SetForegroundWindow(main));
  // Key downs go to the dialog in front, with their codes; key ups do not.
  person_.Then([&] {
    KeyForTheForeground(0x75, false);
    KeyForTheForeground(0x75, true);
  });
  person_.Then([&] { KeyForTheForeground(0x1B, false); });
  EXPECT_EQ(RunDialog(main, kPlainDialog, TakesKeys, 0), 9);
  EXPECT_EQ(events, (std::vector<std::string>{"key 117 0", "key 27 0"}));

  // A page set in front keeps keys from its pages and from the main window.
  events.clear();
  person_.Then([&] { KeyForTheForeground(0x76, false); });
  person_.Then([&] { Do(Simple(ActionKind::kCancel)); });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0"}));

  // With nothing in front, the main window has them, down and up.
  events.clear();
  KeyForTheForeground(0x76, false);
  KeyForTheForeground(0x76, true);
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"main down 118", "main up 118"}));
}

// ---- A key a dialog takes ------------------------------------------------------------

constexpr int kTakenKey = 0xC7;
constexpr int kOtherKey = 0xC8;

void Heard(Window, const KeyMove& move, void* context) {
  static_cast<std::vector<KeyMove>*>(context)->push_back(move);
}

std::vector<KeyMove> heard;
uint32_t capture_error = 0;

intptr_t TakesTheSideKey(Window dialog, const DialogMessage& message) {
  if (message.event == DialogEvent::kInit) {
    // What cannot be taken: a key past the codes, a window that is no dialog.
    EXPECT_FALSE(CaptureKey(dialog, 0xFF, Heard, &heard));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    EXPECT_FALSE(CaptureKey(dialog + 99, kTakenKey, Heard, &heard));
    EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);
    if (!CaptureKey(dialog, kTakenKey, Heard, &heard)) capture_error = GetLastError();
  }
  if (message.event == DialogEvent::kCommand && message.control == kIdCancel) EndDialog(dialog, 0);
  return 0;
}

std::vector<std::string> watched;
intptr_t Watcher(Window, WindowEvent event, uintptr_t first, intptr_t) {
  if (event == WindowEvent::kKeyEvent) {
    watched.push_back(std::to_string(first & 0xFF) + ((first & kKeyEventUp) ? " up" : " down"));
    if (first & kKeyEventUp) PostQuit(0);
  }
  return 0;
}

TEST_F(HostUi, ADialogThatTookAKeyHearsItsMovesAloneWithTheirTimesUntilItEnds) {
  heard.clear();
  watched.clear();
  capture_error = 0;
  const Window watcher = CreateMessageWindow(u"QkKeyWatcher", Watcher);
  ASSERT_NE(watcher, 0u);
  ASSERT_TRUE(WatchKeys(watcher, {kTakenKey, kOtherKey}));
  uint64_t before = 0;
  person_.Then([&] {
    device::KeyCaptor captor;
    bool found = false;
    ASSERT_TRUE(device::FindKeyCaptor(kTakenKey, &captor, &found));
    EXPECT_TRUE(found);
    EXPECT_EQ(captor.pid, static_cast<int64_t>(getpid()));
    before = TickCount();
    ASSERT_TRUE(device::SetKeyDown(kTakenKey, true));
    ASSERT_TRUE(device::SetKeyDown(kOtherKey, true));  // not taken: the watcher's
  });
  person_.Then([&] { ASSERT_TRUE(device::SetKeyDown(kTakenKey, false)); });
  person_.Then([&] { Do(Simple(ActionKind::kCancel)); });
  EXPECT_EQ(RunDialog(0, kPlainDialog, TakesTheSideKey, 0), 0);
  EXPECT_EQ(capture_error, 0u);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].virtual_key, static_cast<uint32_t>(kTakenKey));
  EXPECT_FALSE(heard[0].up);
  EXPECT_TRUE(heard[1].up);
  // Times on this process's TickCount, in the order the key moved.
  EXPECT_GE(heard[0].at + 1, before);
  EXPECT_LE(heard[0].at, heard[1].at);
  EXPECT_LE(heard[1].at, TickCount());

  // Given back with the dialog's end: the watcher hears the key again.
  device::KeyCaptor captor;
  bool found = true;
  ASSERT_TRUE(device::FindKeyCaptor(kTakenKey, &captor, &found));
  EXPECT_FALSE(found);
  ASSERT_TRUE(device::SetKeyDown(kTakenKey, true));
  ASSERT_TRUE(device::SetKeyDown(kTakenKey, false));
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_EQ(watched, (std::vector<std::string>{"200 down", "199 down", "199 up"}));
  EXPECT_EQ(heard.size(), 2u);
  const std::vector<device::JournalEntry> journal = device::ReadJournal(0);
  int taken = 0, given_back = 0;
  for (const device::JournalEntry& entry : journal) {
    if (entry.event != "keytaken") continue;
    taken += entry.fields.find("\"taken\":true") != std::string::npos ? 1 : 0;
    given_back += entry.fields.find("\"taken\":false") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(given_back, 1);

  // A capture that fails takes nothing.
  faults::FailCall(faults::Op::KeyCapture, 3, kErrorNotSupported);  // the dialog's third call takes the key
  capture_error = 0;
  person_.Then([&] { Do(Simple(ActionKind::kCancel)); });
  EXPECT_EQ(RunDialog(0, kPlainDialog, TakesTheSideKey, 0), 0);
  faults::Clear();
  EXPECT_EQ(capture_error, kErrorNotSupported);
  ASSERT_TRUE(device::FindKeyCaptor(kTakenKey, &captor, &found));
  EXPECT_FALSE(found);
  DestroyMessageWindow(watcher);
}

// ---- What a person can and cannot do ---------------------------------------------------

TEST_F(HostUi, PersonActionsNotifyAfterChangingTheControl) {
  person_.Then([&] {
    Do(SelectText(kList, u"gamma"));
    Do(Select(kCombo, 3));
    Do(Select(kCombo, 3));  // picking the same line again tells the page again
    Do(Click(kCheck));
    Do(Click(kCheck));
    Do(Click(kManualCheck));  // a plain check box only notifies
    Do(Slide(kSlider, 5000));
    EXPECT_EQ(GetSliderPosition(Front(), kSlider), 800);
    Do(Slide(kSlider, -3));
    EXPECT_EQ(GetSliderPosition(Front(), kSlider), 200);
    Do(Simple(ActionKind::kCancel));
  });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0", "A command 101 1 line 2",
                                              "A command 103 1 line 3", "A command 103 1 line 3",
                                              "A command 102 0 on", "A command 102 0 off",
                                              "A command 108 0 off",
                                              // a slider tells its page where the thumb stopped
                                              "A command 104 28673", "A command 104 28673"}));
}

TEST_F(HostUi, PersonActionsAreRefusedWhereAPersonCouldNotAct) {
  person_.Then([&] {
    EXPECT_EQ(Refusal(Click(kHiddenNote)), "control 105 is hidden");
    EXPECT_EQ(Refusal(Click(kDisabledButton)), "control 106 is disabled");
    EXPECT_EQ(Refusal(Click(999)), "no control 999 on page \"Page A\"");
    EXPECT_EQ(Refusal(Click(-1)), "no control -1 on page \"Page A\"");
    EXPECT_EQ(Refusal(Click(111)), "no control 111 on page \"Page A\"");  // page B is behind
    EXPECT_EQ(Refusal(Select(kList, 3)), "control 101 has no line 3 (it has 3 lines)");
    EXPECT_EQ(Refusal(SelectText(kList, u"Delta")), "control 101 has no line \"Delta\"");
    EXPECT_EQ(Refusal(SelectText(kList, u"Gam")), "control 101 has no line \"Gam\"");
    EXPECT_EQ(Refusal(Click(kList)), "control 101 is a list box, which cannot be clicked");
    EXPECT_EQ(Refusal(Select(kCheck, 0)), "control 102 is a check box, which has no lines to select");
    EXPECT_EQ(Refusal(Slide(kCheck, 1)), "control 102 is a check box, not a trackbar");
    EXPECT_EQ(Refusal(Tab(u"Page C")), "no tab \"Page C\" (the tabs: Page A, Page B)");
    EXPECT_EQ(Refusal(Simple(ActionKind::kAnswer)), "no message box is open");
    EXPECT_EQ(Refusal(File(u"\\x.txt")), "no file-open dialog is open");
    EXPECT_EQ(Refusal(Simple(ActionKind::kCancelFile)), "no file-open dialog is open");
    // A control hidden by the page itself is out of reach too.
    ShowControl(Front(), kCombo, false);
    EXPECT_EQ(Refusal(Select(kCombo, 0)), "control 103 is hidden");
    EnableControl(Front(), kDisabledButton, true);
    Do(Click(kDisabledButton));
    Do(Simple(ActionKind::kCancel));
  });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(events.back(), "A command 106 0");
  std::u16string error;
  EXPECT_FALSE(person::Act(Simple(ActionKind::kDone), &error));
  EXPECT_EQ(Utf8(error), "no page set or dialog is open");
}

// ---- The file-open dialog --------------------------------------------------------------

TEST_F(HostUi, TheFileDialogTakesOnlyAnExistingFileThatFits) {
  host_test::PutFile(u"\\My Documents\\letter.psw", "text");
  const std::u16string chosen = u"\\My Documents\\letter.psw";  // 24 characters
  person_.Then([&] { Do(Tab(u"Page B")); });
  person_.Then([&] { Do(Click(112)); });
  person_.Then([&] {
    person::Screen screen = person::CurrentScreen();
    EXPECT_EQ(screen.kind, ScreenKind::kFileDialog);
    EXPECT_EQ(screen.text, u"Select file to launch");
    EXPECT_EQ(screen.flags, kOfnFileMustExist);
    EXPECT_EQ(Refusal(File(u"\\My Documents\\missing.psw")),
              "no file \\My Documents\\missing.psw on the device (this dialog takes only a file that exists)");
    EXPECT_EQ(Refusal(File(u"\\My Documents")), "\\My Documents is a folder, not a file");
    EXPECT_NE(Refusal(File(u"letter.psw")).find("full device path"), std::string::npos);
    EXPECT_EQ(Refusal(Simple(ActionKind::kDone)),
              "the file-open dialog is in front: choose a file or cancel it first");
    Do(File(u"/my documents/LETTER.psw"));
  });
  person_.Then([&] {
    file_capacity = chosen.size();  // no room for the terminating zero
    Do(Click(112));
  });
  person_.Then([&] { Do(File(chosen)); });
  person_.Then([&] {
    file_capacity = chosen.size() + 1;
    Do(Click(112));
  });
  person_.Then([&] { Do(File(chosen)); });
  person_.Then([&] { Do(Click(112)); });
  person_.Then([&] { Do(Simple(ActionKind::kCancelFile)); });
  person_.Then([&] { Do(Simple(ActionKind::kCancel)); });
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0", "file \\my documents\\LETTER.psw",
                                              "no file, error 122, untouched", "file \\My Documents\\letter.psw",
                                              "no file, error 0, untouched"}));
}

// ---- The fault table ---------------------------------------------------------------------

constexpr uint32_t kInjected = 1234;  // no operation fails with this by itself

intptr_t RecordsInit(Window dialog, const DialogMessage& message) {
  if (message.event == DialogEvent::kInit) {
    events.push_back("dialog init");
    EndDialog(dialog, 7);
  }
  return 0;
}

TEST_F(HostUi, EachWindowOperationFailsAtTheTableShowingAndRunningNothing) {
  faults::FailCall(faults::Op::PageSet, 1, kInjected);
  SetLastError(0);
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(GetLastError(), kInjected);
  EXPECT_TRUE(events.empty());  // no page was made

  faults::FailCall(faults::Op::DialogCreate, 1, kInjected);
  EXPECT_EQ(RunDialog(0, kChoiceDialog, RecordsInit, 0), -1);
  EXPECT_EQ(GetLastError(), kInjected);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(RunDialog(0, kChoiceDialog, RecordsInit, 0), 7);  // only the failed call fails
  EXPECT_EQ(events, (std::vector<std::string>{"dialog init"}));

  faults::FailCall(faults::Op::FileDialog, 1, kInjected);
  OpenFileRequest request;
  std::u16string path = u"untouched";
  EXPECT_FALSE(GetOpenFileName(request, &path));
  EXPECT_EQ(GetLastError(), kInjected);
  EXPECT_EQ(path, u"untouched");

  faults::FailCall(faults::Op::MessageBox, 1, kInjected);
  EXPECT_EQ(MessageBoxOwned(0, u"never shown", &kCaption, kMbOk), 0);
  EXPECT_EQ(GetLastError(), kInjected);

  EXPECT_EQ(person_.waits(), 0);
  EXPECT_TRUE(host_test::Events("message").empty());
  EXPECT_EQ(faults::Calls(faults::Op::PageSet), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::DialogCreate), 2u);
  EXPECT_EQ(faults::Calls(faults::Op::FileDialog), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::MessageBox), 1u);
}

// The program's calls while its page set is open are its own: they count
// and fail as any other, and a failed one returns at once.
TEST_F(HostUi, InsideThePageSetAFailedDialogFileDialogOrBoxReturnsAtOnce) {
  apply_shows_box = true;
  person_.Then([&] {
    faults::FailCall(faults::Op::DialogCreate, 1, kInjected);
    Do(Click(kDialogButton));
    EXPECT_EQ(person::CurrentScreen().kind, ScreenKind::kPageSet);
    Do(Tab(u"Page B"));
    faults::FailCall(faults::Op::FileDialog, 1, kInjected);
    Do(Click(112));
    EXPECT_EQ(person::CurrentScreen().kind, ScreenKind::kPageSet);
    faults::FailCall(faults::Op::MessageBox, 1, kInjected);
    Do(Simple(ActionKind::kDone));
  });
  EXPECT_TRUE(RunPages());
  EXPECT_EQ(person_.waits(), 1);
  EXPECT_EQ(events, (std::vector<std::string>{"A init 0", "B init 0", "dialog -1", "no file, error 1234, untouched",
                                              "A apply", "A answered 0", "B apply"}));
  EXPECT_TRUE(host_test::Events("message").empty());
  EXPECT_EQ(faults::Calls(faults::Op::PageSet), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::DialogCreate), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::FileDialog), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::MessageBox), 1u);
}

// ---- Waiting for input ---------------------------------------------------------------------

TEST_F(HostUi, AWaitThatNothingEndsCancelsWhatIsInFront) {
  person::SetIdleHook(nullptr, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(RunDialog(0, kPlainDialog, IgnoresCancel, 0), -1);
  OpenFileRequest request;
  std::u16string path;
  SetLastError(5);
  EXPECT_FALSE(GetOpenFileName(request, &path));
  EXPECT_EQ(GetLastError(), 0u);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("waits for input and nothing acts; cancelling the page set"), std::string::npos) << err;
  EXPECT_NE(err.find("waits for input and nothing acts; cancelling the dialog"), std::string::npos) << err;
  EXPECT_NE(err.find("waits for input and nothing acts; cancelling the file-open dialog"), std::string::npos);

  // A hook that does not act is no better than none.
  person::SetIdleHook(Person::Hook, &person_);
  testing::internal::CaptureStderr();
  apply_shows_box = true;
  person_.Then([&] { Do(Simple(ActionKind::kDone)); });  // then nothing answers the box
  EXPECT_TRUE(RunPages());
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("nothing acts; answering the message box with OK"), std::string::npos) << err;
  EXPECT_EQ(events.back(), "B apply");
}

TEST_F(HostUi, MessageBoxesWaitOnlyWhileAWindowSystemRuns) {
  // No window and no loop: nobody could answer, so it answers at once.
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox(u"alone", nullptr, kMbOk), kIdOk);
  EXPECT_EQ(MessageBoxOwned(0, u"owned", &kCaption, kMbOk), kIdOk);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(person_.waits(), 0);

  // Inside the page set an owner-less box (out of memory, say) waits too.
  person_.Then([&] { Do(Tab(u"Page B")); });
  person_.Then([&] { Do(Click(111)); });
  person_.Then([&] {
    EXPECT_EQ(person::CurrentScreen().kind, ScreenKind::kMessageBox);
    EXPECT_EQ(person::CurrentScreen().caption, u"Error");
    Do(Simple(ActionKind::kAnswer));
  });
  person_.Then([&] { Do(Simple(ActionKind::kCancel)); });
  testing::internal::CaptureStderr();
  EXPECT_FALSE(RunPages());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: out of memory\n");
  EXPECT_EQ(events.back(), "box 1");
  std::vector<device::JournalEntry> messages = host_test::Events("message");
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[1].fields, "\"text\":\"owned\",\"caption\":\"Test\",\"flags\":0");
  EXPECT_EQ(messages[2].fields, "\"text\":\"out of memory\",\"caption\":\"Error\",\"flags\":0");
}

// ---- The screen ----------------------------------------------------------------------------

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(HostUi, TheScreenShowsTabsControlsAndWhatIsInFront) {
  apply_shows_box = true;
  person_.Then([&] {
    SetControlText(Front(), kStatus, u"line\none \"two\"");
    std::string text = device::ScreenText(false);
    EXPECT_TRUE(Has(text, "page set \"Pages\": [Page A] Page B\n")) << text;
    EXPECT_TRUE(Has(text, "page \"Page A\" (template 201, 138x155 dialog units):\n")) << text;
    EXPECT_TRUE(Has(text, "  101    list box   3 lines, line 0 selected: \"Alpha\" (code 10)\n")) << text;
    EXPECT_TRUE(Has(text, "       >     0: \"Alpha\" (code 10)\n             1: \"Beta\" (code 20)\n")) << text;
    EXPECT_TRUE(Has(text, "  103    combo box  5 lines, none selected\n")) << text;
    EXPECT_FALSE(Has(text, "Entry 0"));  // combo box lines only on request
    EXPECT_TRUE(Has(device::ScreenText(true), "             4: \"Entry 4\" (code 1004)\n"));
    EXPECT_TRUE(Has(text, "  102    check box  \"Use the thing\"  unchecked\n")) << text;
    EXPECT_TRUE(Has(text, "  104    trackbar   range 200..800, position 400\n")) << text;
    EXPECT_TRUE(Has(text, "  105    label      \"A note shown with the thing\"  hidden\n")) << text;
    EXPECT_TRUE(Has(text, "  106    button     \"Never\"  disabled\n")) << text;
    EXPECT_TRUE(Has(text, "  -      label      \"Pick one:\"\n")) << text;
    EXPECT_TRUE(Has(text, "  1009   SIPPREF    \"\"  hidden\n")) << text;
    EXPECT_TRUE(Has(text, "  109    label      \"line\\none \\\"two\\\"\"\n")) << text;

    std::string json = device::ScreenJson(true);
    EXPECT_TRUE(JsonChecker(json).Valid()) << json;
    EXPECT_TRUE(Has(json, "\"front\":\"pageset\"")) << json;
    EXPECT_TRUE(Has(json, "\"tabs\":[\"Page A\",\"Page B\"],\"current\":0")) << json;
    EXPECT_TRUE(Has(json, "\"font\":\"Arial\",\"pointSize\":10,\"x\":0,\"y\":0,\"width\":138,\"height\":155"));
    EXPECT_TRUE(Has(json, "{\"id\":104,\"kind\":\"trackbar\",\"class\":\"msctls_trackbar32\",\"text\":\"\",\"x\":87,"
                          "\"y\":70,\"width\":47,\"height\":13,\"style\":268435480,\"visible\":true,"
                          "\"enabled\":true,\"min\":200,\"max\":800,\"pos\":400}"))
        << json;
    EXPECT_TRUE(Has(json, "\"lineCount\":3,\"selected\":0,\"selectedText\":\"Alpha\",\"selectedCode\":10,"
                          "\"lines\":[{\"text\":\"Alpha\",\"code\":10},"));
    EXPECT_TRUE(Has(json, "{\"text\":\"Entry 4\",\"code\":1004}"));
    std::string brief = device::ScreenJson(false);
    EXPECT_TRUE(JsonChecker(brief).Valid());
    EXPECT_FALSE(Has(brief, "Entry 4"));
    EXPECT_TRUE(Has(brief, "\"lineCount\":5,\"selected\":-1}"));
    Do(Simple(ActionKind::kDone));
  });
  person_.Then([&] {
    std::string text = device::ScreenText(false);
    EXPECT_TRUE(Has(text, "message box \"Test\" (flags 0x40), in front:\n  \"Reboot now\"\n  [OK]\n")) << text;
    std::string json = device::ScreenJson(false);
    EXPECT_TRUE(JsonChecker(json).Valid()) << json;
    EXPECT_TRUE(Has(json, "\"front\":\"messagebox\"")) << json;
    EXPECT_TRUE(Has(json, "{\"kind\":\"messagebox\",\"owner\":")) << json;
    EXPECT_TRUE(Has(json, "\"text\":\"Reboot now\",\"caption\":\"Test\",\"flags\":64}]}")) << json;
    Do(Simple(ActionKind::kAnswer));
  });
  EXPECT_TRUE(RunPages());
  EXPECT_TRUE(Has(device::ScreenText(false), "nothing open\n"));
  EXPECT_TRUE(JsonChecker(device::ScreenJson(true)).Valid());
}

TEST(HostUiJson, TheCheckerRejectsWhatABrowserWould) {
  EXPECT_TRUE(JsonChecker("{\"a\":[1,-2,true,null,\"\\u00e9\\n\"]}").Valid());
  EXPECT_FALSE(JsonChecker("{\"a\":1,}").Valid());
  EXPECT_FALSE(JsonChecker("{\"a\":\"line\nbreak\"}").Valid());
  EXPECT_FALSE(JsonChecker("{\"a\":\"\\x\"}").Valid());
  EXPECT_FALSE(JsonChecker("[1 2]").Valid());
}

// ---- The main window -------------------------------------------------------------------------

intptr_t MainProc(Window, WindowEvent event, uintptr_t, intptr_t) {
  events.push_back("main " + std::to_string(static_cast<int>(event)));
  return 0;
}

TEST_F(HostUi, MainWindowsAreFoundByClassAndOnlyWhileTheirProgramRuns) {
  WorkArea area = GetWorkArea();
  EXPECT_EQ(area.left, 0);
  EXPECT_EQ(area.top, 26);
  EXPECT_EQ(area.width, 240);
  EXPECT_EQ(area.height, 294);
  device::SetDisplay({kDmdo90, true});
  EXPECT_EQ(GetWorkArea().width, 320);
  EXPECT_EQ(GetWorkArea().height, 214);

  EXPECT_EQ(FindTopLevelWindow(u"QkTestClass"), 0u);
  Window main = CreateMainWindow(u"QkTestClass", u"Test", MainProc, area);
  ASSERT_NE(main, 0u);
  EXPECT_EQ(FindTopLevelWindow(u"qktestCLASS"), main);
  EXPECT_EQ(FindTopLevelWindow(u"Other"), 0u);
  std::vector<device::WindowRecord> rows = device::LiveWindows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].pid, getpid());
  EXPECT_EQ(rows[0].title, u"Test");
  EXPECT_FALSE(rows[0].channel.empty());

  // Rows of ended processes, and of a pid that another process now has, are no windows.
  int64_t start = device::ProcessStartTime(getpid());
  ASSERT_GT(start, 0);
  ASSERT_TRUE(device::RegisterWindow({77, 0x3FFFFFFF, 5, u"Ghost", u"", "nowhere"}));
  ASSERT_TRUE(device::RegisterWindow({78, getpid(), start + 1, u"Reused", u"", "nowhere"}));
  EXPECT_EQ(FindTopLevelWindow(u"Ghost"), 0u);
  EXPECT_EQ(FindTopLevelWindow(u"Reused"), 0u);
  EXPECT_EQ(device::LiveWindows().size(), 1u);

  PostQuit(3);
  EXPECT_EQ(RunMessageLoop(), 3);
  // With nothing open, cancelling closes the window; a procedure that does
  // not end the loop itself cannot keep it waiting.
  Do(Simple(ActionKind::kCancel));
  EXPECT_EQ(events, (std::vector<std::string>{"main 0"}));
  EXPECT_EQ(RunMessageLoop(), 0);

  device::ResetWindowSystem();
  EXPECT_EQ(FindTopLevelWindow(u"QkTestClass"), 0u);
  // Without a channel a loop that nothing ends gives up.
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("nothing acts; closing the main window"), std::string::npos);
}

TEST(HostUiChannel, RequestsAndRepliesSurviveTheirEncoding) {
  using namespace device::channel;
  Request request;
  request.format = Format::kJsonBrief;
  request.deadline_ms = 123456789;
  request.verb = "select";
  request.args = {"1013", "", "Line one\nwith \"quotes\" and \xc3\xa9"};
  Request back;
  ASSERT_TRUE(DecodeRequest(EncodeRequest(request), &back));
  EXPECT_EQ(back.format, Format::kJsonBrief);
  EXPECT_EQ(back.deadline_ms, 123456789);
  EXPECT_EQ(back.verb, "select");
  EXPECT_EQ(back.args, request.args);
  std::string bytes = EncodeRequest(request);
  EXPECT_FALSE(DecodeRequest(bytes.substr(0, bytes.size() - 1), &back));  // cut off
  EXPECT_FALSE(DecodeRequest(std::string("qk-ui 1\0" "12\0" "pdf\0" "show\0", 21), &back));
  EXPECT_FALSE(DecodeRequest(std::string("qk-ui 9\0" "12\0" "text\0" "show\0", 22), &back));
  EXPECT_FALSE(DecodeRequest(std::string("qk-ui 1\0" "1x\0" "text\0" "show\0", 22), &back));

  // Every action of the table comes back as it went, its arguments whole.
  for (const plat::person::ActionSpec& spec : plat::person::kActionSpecs) {
    Action action;
    action.kind = spec.kind;
    action.control = -1013;
    action.position = -5;
    action.text = u"Line \"\u00e9\"\nand more";
    Request encoded;
    SetAction(action, &encoded);
    EXPECT_EQ(encoded.verb, spec.verb);
    Request decoded_request;
    ASSERT_TRUE(DecodeRequest(EncodeRequest(encoded), &decoded_request));
    Action decoded;
    std::string error;
    ASSERT_TRUE(GetAction(decoded_request, &decoded, &error)) << spec.verb << ": " << error;
    EXPECT_EQ(decoded.kind, spec.kind);
    for (plat::person::ActionArg arg : spec.args) {
      switch (arg) {
        case plat::person::ActionArg::kControl: EXPECT_EQ(decoded.control, -1013) << spec.verb; break;
        case plat::person::ActionArg::kPosition: EXPECT_EQ(decoded.position, -5) << spec.verb; break;
        case plat::person::ActionArg::kLine:
          EXPECT_EQ(decoded.line, -1) << spec.verb;
          EXPECT_TRUE(decoded.text == action.text) << spec.verb;
          break;
        case plat::person::ActionArg::kTitle:
        case plat::person::ActionArg::kPath:
        case plat::person::ActionArg::kText: EXPECT_TRUE(decoded.text == action.text) << spec.verb; break;
        case plat::person::ActionArg::kNone: break;
      }
    }
  }
  Action select;
  select.kind = ActionKind::kSelect;
  select.control = 1012;
  select.line = 7;
  Request by_number;
  SetAction(select, &by_number);
  EXPECT_EQ(by_number.args, (std::vector<std::string>{"1012", "7", ""}));
  Action back_select;
  std::string error;
  ASSERT_TRUE(GetAction(by_number, &back_select, &error));
  EXPECT_EQ(back_select.line, 7);
  // What a client must not send.
  const std::vector<std::pair<Request, std::string>> bad = {
      {{Format::kText, 0, "frob", {}}, "unknown request 'frob'"},
      {{Format::kText, 0, "click", {}}, "'click' takes 1 arguments"},
      {{Format::kText, 0, "select", {"1012", "7"}}, "'select' takes 3 arguments"},
      {{Format::kText, 0, "click", {"10x"}}, "'10x' is not a control id"},
      {{Format::kText, 0, "click", {"99999999999"}}, "'99999999999' is not a control id"},
      {{Format::kText, 0, "select", {"1012", "-2", ""}}, "'-2' is not a line number"},
      {{Format::kText, 0, "slide", {"1033", " 5"}}, "' 5' is not a position"},
  };
  for (const auto& [request, message] : bad) {
    EXPECT_FALSE(GetAction(request, &back_select, &error)) << message;
    EXPECT_EQ(error, message);
  }

  Reply reply;
  ASSERT_TRUE(DecodeReply("ended 3\n", &reply));
  EXPECT_EQ(reply.status, Status::kEnded);
  EXPECT_EQ(reply.exit_code, 3);
  Reply refused;
  refused.status = Status::kRefused;
  refused.message = "control 105\nis hidden";
  ASSERT_TRUE(DecodeReply(EncodeReply(refused), &reply));
  EXPECT_EQ(reply.message, "control 105 is hidden");
  Reply ok;
  ok.screen = "screen\nlines\n";
  ASSERT_TRUE(DecodeReply(EncodeReply(ok), &reply));
  EXPECT_EQ(reply.status, Status::kOk);
  EXPECT_EQ(reply.screen, "screen\nlines\n");
  EXPECT_FALSE(DecodeReply("ok", &reply));
  EXPECT_FALSE(DecodeReply("maybe\n", &reply));
}

}  // namespace
