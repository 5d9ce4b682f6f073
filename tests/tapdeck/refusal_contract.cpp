#include "tests/tapdeck/refusal_contract.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/resource.h"
#include "platform/person.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace refusal_contract {
namespace {

using plat::person::Action;
using plat::person::ActionKind;
using plat::person::MakeAction;
using plat::person::ScreenKind;

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

Action Select(int id, int line) { return MakeAction(ActionKind::kSelect, id, line); }
Action SelectText(int id, std::u16string text) { return MakeAction(ActionKind::kSelect, id, -1, std::move(text)); }
Action Click(int id) { return MakeAction(ActionKind::kClick, id); }
Action Slide(int id, int position) { return MakeAction(ActionKind::kSlide, id, -1, {}, position); }
Action Tab(std::u16string title) { return MakeAction(ActionKind::kTab, 0, -1, std::move(title)); }
Action File(std::u16string path) { return MakeAction(ActionKind::kChooseFile, 0, -1, std::move(path)); }
Action Simple(ActionKind kind) { return MakeAction(kind); }

struct Refusal {
  Action action;
  std::u16string reason;
};

// Each action must be refused with exactly these words, and change nothing.
void ExpectRefused(const char* where, const std::vector<Refusal>& table) {
  for (size_t i = 0; i < table.size(); ++i) {
    std::u16string reason;
    const bool acted = plat::person::Act(table[i].action, &reason);
    EXPECT_FALSE(acted) << where << ", row " << i << ": the person could act";
    EXPECT_EQ(Utf8(reason), Utf8(table[i].reason)) << where << ", row " << i;
  }
}

void Act(const Action& action) {
  std::u16string reason;
  EXPECT_TRUE(plat::person::Act(action, &reason)) << Utf8(reason);
}

const std::u16string kInFrontOfNothing = u"no page set or dialog is open";
const std::u16string kBoxInFront = u"a message box is in front: answer it first";
const std::u16string kFileDialogInFront = u"the file-open dialog is in front: choose a file or cancel it first";
const std::u16string kNoBox = u"no message box is open";
const std::u16string kNoFileDialog = u"no file-open dialog is open";

const char16_t* const kFilters[] = {u"All Files", u"*.*"};

intptr_t DialogProc(plat::Window dialog, const plat::DialogMessage& message) {
  if (message.event == plat::DialogEvent::kCommand && message.control == plat::kIdCancel)
    plat::EndDialog(dialog, -1);
  return 0;
}

// The Settings template with lines to select, one row hidden and the
// override box disabled. Its button list opens a message box (line 1) or
// the file-open dialog (line 0); its single press combo box a dialog with
// disabled controls (line 0) or one without a Done button (line 1).
intptr_t SettingsProc(plat::Window page, const plat::DialogMessage& message) {
  if (message.event == plat::DialogEvent::kInit) {
    plat::AddLine(page, IDC_BUTTON_LIST, u"One", 0);
    plat::AddLine(page, IDC_BUTTON_LIST, u"Two", 1);
    for (const char16_t* text : {u"Alpha", u"Beta", u"Gamma"}) plat::AddLine(page, IDC_SINGLE_PRESS, text, 0);
    plat::ShowControl(page, IDC_PRESS_HOLD, false);
    plat::EnableControl(page, IDC_OVERRIDE, false);
    return 1;
  }
  if (message.event != plat::DialogEvent::kCommand || message.code != plat::kNotifySelChange) return 0;
  const int line = plat::GetSelectedLine(page, message.control);
  if (message.control == IDC_BUTTON_LIST && line == 1) {
    const std::u16string caption = u"Contract";
    plat::MessageBoxOwned(page, u"In front", &caption, 0);
  } else if (message.control == IDC_BUTTON_LIST && line == 0) {
    plat::OpenFileRequest request;
    request.filters = kFilters;
    request.filter_count = 1;
    request.title = u"Choose";
    request.flags = plat::kOfnFileMustExist;
    std::u16string path;
    plat::GetOpenFileName(request, &path);
  } else if (message.control == IDC_SINGLE_PRESS) {
    plat::RunDialog(page, line == 0 ? IDD_ADD_INTERCEPT : IDD_ADD_BUTTONS, DialogProc, 0);
  }
  return 0;
}

intptr_t OptionsProc(plat::Window, const plat::DialogMessage& message) {
  return message.event == plat::DialogEvent::kInit ? 1 : 0;
}

// What the person meets at each stop, in order; each stop ends with the
// action that leads to the next.
struct Walk {
  int stop = 0;
  int dialogs_seen = 0;

  static void OnIdle(void* context) { static_cast<Walk*>(context)->Idle(); }

  void Idle() {
    const plat::person::Screen screen = plat::person::CurrentScreen();
    switch (stop++) {
      case 0:
        EXPECT_EQ(screen.kind, ScreenKind::kPageSet);
        ExpectRefused("the Settings page",
                      {
                          {Click(999), u"no control 999 on page \"Settings\""},
                          {Click(-1), u"no control -1 on page \"Settings\""},
                          {Click(IDC_HOLD_SLIDER), u"no control 1033 on page \"Settings\""},  // the page behind
                          {Click(IDC_PRESS_HOLD), u"control 1014 is hidden"},
                          {Click(IDC_SIPPREF), u"control 1009 is hidden"},
                          {Click(IDC_OVERRIDE), u"control 1020 is disabled"},
                          {Select(IDC_OVERRIDE, 0), u"control 1020 is disabled"},
                          {Click(IDC_SINGLE_PRESS), u"control 1013 is a combo box, which cannot be clicked"},
                          {Click(IDC_BUTTON_LIST), u"control 1012 is a list box, which cannot be clicked"},
                          {Click(IDC_SINGLE_PRESS_LABEL), u"control 1018 is a label, which cannot be clicked"},
                          {Select(IDC_SINGLE_PRESS_LABEL, 0), u"control 1018 is a label, which has no lines to select"},
                          {Slide(IDC_SINGLE_PRESS, 5), u"control 1013 is a combo box, not a trackbar"},
                          {Select(IDC_BUTTON_LIST, 2), u"control 1012 has no line 2 (it has 2 lines)"},
                          {SelectText(IDC_SINGLE_PRESS, u"Delta"), u"control 1013 has no line \"Delta\""},
                          {SelectText(IDC_SINGLE_PRESS, u"Gam"), u"control 1013 has no line \"Gam\""},
                          {SelectText(IDC_SINGLE_PRESS, u"say \"hi\""), u"control 1013 has no line \"say \\\"hi\\\"\""},
                          {Tab(u"Nowhere"), u"no tab \"Nowhere\" (the tabs: Settings, Options)"},
                          {Simple(ActionKind::kAnswer), kNoBox},
                          {File(u"\\x.txt"), kNoFileDialog},
                          {Simple(ActionKind::kCancelFile), kNoFileDialog},
                      });
        Act(Tab(u"options"));  // any letter case
        return;
      case 1:
        EXPECT_EQ(screen.current_tab, 1);
        ExpectRefused("the Options page",
                      {
                          {Click(IDC_BUTTON_LIST), u"no control 1012 on page \"Options\""},
                          {Select(IDC_HOLD_SLIDER, 0), u"control 1033 is a trackbar, which has no lines to select"},
                          {Click(IDC_DBLCLICK_SLIDER), u"control 1025 is a trackbar, which cannot be clicked"},
                      });
        Act(Tab(u"Settings"));
        return;
      case 2:
        Act(Select(IDC_BUTTON_LIST, 1));
        return;
      case 3:
        EXPECT_EQ(screen.kind, ScreenKind::kMessageBox);
        ExpectRefused("a message box",
                      {
                          {Simple(ActionKind::kDone), kBoxInFront},
                          {Simple(ActionKind::kCancel), u"a message box is in front: answer it (it has only OK)"},
                          {Click(IDC_BUTTON_LIST), kBoxInFront},
                          {Tab(u"Options"), kBoxInFront},
                          {File(u"\\x.txt"), kNoFileDialog},
                      });
        Act(Simple(ActionKind::kAnswer));
        return;
      case 4:
        Act(Select(IDC_BUTTON_LIST, 0));
        return;
      case 5:
        EXPECT_EQ(screen.kind, ScreenKind::kFileDialog);
        ExpectRefused("the file-open dialog",
                      {
                          {Simple(ActionKind::kDone), kFileDialogInFront},
                          {Select(IDC_BUTTON_LIST, 0), kFileDialogInFront},
                          {Simple(ActionKind::kAnswer), kNoBox},
                          {File(u"letter.psw"),
                           u"give the file's full device path, starting with \\ (for example \\My Documents\\letter.psw)"},
                          {File(u"\\nothing here.txt"),
                           u"no file \\nothing here.txt on the device (this dialog takes only a file that exists)"},
                          {File(u"/"), u"\\ is a folder, not a file"},
                      });
        Act(Simple(ActionKind::kCancelFile));
        return;
      case 6:
        Act(Select(IDC_SINGLE_PRESS, 0));
        return;
      case 7:
        EXPECT_EQ(screen.kind, ScreenKind::kDialog);
        ExpectRefused("the dialog with disabled controls",
                      {
                          {Simple(ActionKind::kDone), u"the dialog \"Add Button Intercept\" has no Done button"},
                          {Click(plat::kIdDone), u"control 1 is disabled"},
                          {Click(IDC_INTERCEPT_NAME), u"control 1027 is disabled"},
                          {Click(IDC_INTERCEPT_LINE), u"control 1030 is a line, which cannot be clicked"},
                          {Tab(u"Settings"), u"the dialog in front has no tabs"},
                          {Click(IDC_BUTTON_LIST), u"no control 1012 on the dialog \"Add Button Intercept\""},
                          {Simple(ActionKind::kAnswer), kNoBox},
                      });
        ++dialogs_seen;
        Act(Simple(ActionKind::kCancel));
        return;
      case 8:
        Act(Select(IDC_SINGLE_PRESS, 1));
        return;
      case 9:
        EXPECT_EQ(screen.kind, ScreenKind::kDialog);
        ExpectRefused("the dialog without a Done button",
                      {
                          {Simple(ActionKind::kDone), u"the dialog \"Add Buttons\" has no Done button"},
                          {Select(IDC_BUTTON_LIST, 0), u"control 1012 has no line 0 (it has 0 lines)"},
                          {Slide(IDC_ADD_BUTTON, 1), u"control 1025 is a button, not a trackbar"},
                      });
        ++dialogs_seen;
        Act(Simple(ActionKind::kCancel));
        return;
      default:
        Act(Simple(ActionKind::kCancel));
        return;
    }
  }
};

}  // namespace

void RunRefusalContract() {
  ExpectRefused("nothing on the screen",
                {
                    {Select(IDC_BUTTON_LIST, 0), kInFrontOfNothing},
                    {Simple(ActionKind::kDone), kInFrontOfNothing},
                    {Tab(u"Settings"), kInFrontOfNothing},
                    {Simple(ActionKind::kCancel), u"nothing is open on the screen"},
                    {Simple(ActionKind::kAnswer), kNoBox},
                    {Simple(ActionKind::kCancelFile), kNoFileDialog},
                });
  // The trackbars and the input-panel control of the templates, as tapdeck's start-up makes them.
  plat::InitControls(0x404);
  const plat::PageSpec pages[] = {{IDD_SETTINGS, u"Settings", SettingsProc}, {IDD_OPTIONS, u"Options", OptionsProc}};
  Walk walk;
  plat::person::SetIdleHook(&Walk::OnIdle, &walk);
  EXPECT_FALSE(plat::RunPageSet(0, u"Contract", pages, 2));
  plat::person::SetIdleHook(nullptr, nullptr);
  EXPECT_EQ(walk.stop, 11) << "the walk ended early";
  EXPECT_EQ(walk.dialogs_seen, 2);
}

}  // namespace refusal_contract
