// The "Settings" page: pick a button, take it over or not, and choose what
// each of its four presses does. Choices are stored as they are made; the
// hardware button table follows them at Done.
#include <string>

#include "config/model/catalogue.h"
#include "config/model/item_codes.h"
#include "config/model/launch_buttons.h"
#include "config/resource.h"
#include "config/tapdeck_run.h"
#include "config/model/user_buttons.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"

namespace {

struct PressCombo {
  int combo;
  int label;
  int32_t press_count;
  bool hold;
};

constexpr PressCombo kPressCombos[] = {
    {IDC_SINGLE_PRESS, IDC_SINGLE_PRESS_LABEL, 1, false},
    {IDC_PRESS_HOLD, IDC_PRESS_HOLD_LABEL, 1, true},
    {IDC_DOUBLE_PRESS, IDC_DOUBLE_PRESS_LABEL, 2, false},
    {IDC_DOUBLE_HOLD, IDC_DOUBLE_HOLD_LABEL, 2, true},
};
// The three rows below the single press.
constexpr const PressCombo* kLowerRows = kPressCombos + 1;
constexpr int kLowerRowCount = 3;

constexpr int kRecordAction = static_cast<int>(SpecialAction::kRecord);
constexpr size_t kRecordMaskButtons = 32;

// The file-open dialog of "<Open File>".
constexpr const char16_t* kOpenFileFilters[] = {
    u"All Files",                     u"*.*",
    u"Notes (.pwi)",                  u"*.pwi",
    u"Pocket Word documents (.psw)",  u"*.psw",
    u"Pocket Excel documents (.pxt)", u"*.pxt",
};
constexpr size_t kOpenFileCapacity = 260;

constexpr char16_t kDoNothingText[] = u"<Do Nothing>";
constexpr char16_t kOpenEntryPrefix[] = u"Open: ";
constexpr char16_t kTakenOverMark[] = u"\\quadrakey\\tapdeck";
constexpr char16_t kRebootNotice[] =
    u"You have either assigned the <Record> function to a new button, or removed it from an "
    u"existing button. On some devices, you may now have to reboot in order to have that change "
    u"take effect.";

const PressCombo* FindPressCombo(int id) {
  for (const PressCombo& row : kPressCombos)
    if (row.combo == id) return &row;
  return nullptr;
}

bool IsUserDefined(const TapdeckRun& run, int32_t position) {
  return position >= 0 && static_cast<size_t>(position) >= run.buttons->GetButtonCount();
}

// The path chosen in the file-open dialog, or "<Do Nothing>" when the person
// cancelled or the dialog failed.
std::u16string ChooseFileToOpen() {
  plat::OpenFileRequest request;
  request.owner = 0;
  request.filters = kOpenFileFilters;
  request.filter_count = 4;
  request.title = u"Select file to launch";
  request.flags = plat::kOfnFileMustExist;
  request.capacity = kOpenFileCapacity;
  std::u16string path;
  if (!plat::GetOpenFileName(request, &path) || path.empty() || path.size() >= kOpenFileCapacity)
    return kDoNothingText;
  return path;
}

// ---- The combo boxes -----------------------------------------------------------------

// Fills one press combo box and selects the line of the slot's assignment.
void loadShortcutCombo(plat::Window page, int combo, int32_t button, int32_t press_count,
                       bool hold) {
  TapdeckRun& run = *ActiveRun();
  plat::ShowControl(page, combo, true);
  plat::ClearLines(page, combo);
  if (button < 0) return;

  const bool offer_record = press_count == 1 && !hold && run.buttons->GetRecordCommand() != nullptr;
  for (int action = 0; action < kSpecialActionCount; ++action) {
    if (action == kRecordAction && !offer_record) continue;
    plat::AddLine(page, combo, GetSpecialActionName(action), SpecialActionItemCode(action));
  }
  for (size_t i = 0; i < GetCatalogueCount(); ++i)
    plat::AddLine(page, combo, GetCatalogueEntry(i).DisplayName(), CatalogueItemCode(i));

  LogFormat(u"loadShortcutCombo(combo, %ld, %ld, %ld):\n", false, button, press_count, hold);
  const std::u16string assignment = GetShortcut(static_cast<uint32_t>(button), press_count, hold);
  const std::u16string display_name = GetDisplayName(assignment);
  const int line = plat::FindLine(page, combo, 0, display_name);
  if (IsAssignmentText(assignment) && line >= 0) {
    LogFormat(u"  found %s\n\n", false, display_name);
    plat::SelectLine(page, combo, line);
    return;
  }

  LogFormat(u"  didn't find %s\n\n", false, assignment);
  if (assignment.empty()) return;
  std::u16string name, extension;
  SplitPath(assignment, name, extension);
  std::u16string entry = kOpenEntryPrefix + name;
  if (!extension.empty()) entry += u"." + extension;
  const int added = plat::AddLine(page, combo, entry, kOpenEntryCode);
  run.assignment.open_entry_paths[combo] = assignment;
  plat::SelectLine(page, combo, added);
}

// Stores the selected line as the slot's assignment; the line's item code, or
// -1 when no line is selected.
intptr_t unloadShortcutCombo(plat::Window page, int combo, int32_t button, int32_t press_count,
                             bool hold) {
  TapdeckRun& run = *ActiveRun();
  const uint32_t slot_button = static_cast<uint32_t>(button);
  LogFormat(u"unloadShortcutCombo(combo, %ld, %ld, %ld):\n", false, button, press_count, hold);
  const int line = plat::GetSelectedLine(page, combo);
  if (line < 0) {
    SetShortcut(slot_button, press_count, hold, u"");
    LogText(u"  no current selection\n\n");
    return -1;
  }

  const intptr_t code = plat::GetLineCode(page, combo, line);
  const DecodedItem item = DecodeItemCode(code);
  std::u16string text;
  bool reload = false;
  switch (item.kind) {
    case ItemKind::kOpenEntry:
      text = run.assignment.open_entry_paths[combo];
      break;
    case ItemKind::kSpecialAction:
      if (code == kOpenFileCode) {
        text = ChooseFileToOpen();
        reload = true;
      } else {
        text = GetSpecialActionName(static_cast<int>(item.index));
      }
      break;
    case ItemKind::kCatalogue:
      text = GetCatalogueEntry(item.index).Path();
      break;
    case ItemKind::kUnknown:
      // No line of ours carries such a code; store nothing for it.
      return code;
  }
  SetShortcut(slot_button, press_count, hold, text);
  LogFormat(u"  unloading %s (%ld)\n\n", false, text, static_cast<int32_t>(code));
  // "<Open File>" itself is never stored: show what was.
  if (reload) loadShortcutCombo(page, combo, button, press_count, hold);
  return code;
}

// Shows the controls that fit the current button and reloads the press combo
// boxes that are shown (the single press only when asked).
void refreshAssignmentControls(plat::Window page, bool reload_single_press) {
  TapdeckRun& run = *ActiveRun();
  const int32_t button = run.assignment.current_button;
  if (button < 0) {
    // No button is selected: nothing to show for one.
    plat::ShowControl(page, IDC_USER_BUTTON_LABEL, false);
    plat::ShowControl(page, IDC_OVERRIDE, false);
    for (const PressCombo& row : kPressCombos) {
      plat::ShowControl(page, row.label, false);
      plat::ShowControl(page, row.combo, false);
    }
    plat::ShowControl(page, IDC_RECORD_NOTICE, false);
    return;
  }
  const uint32_t slot_button = static_cast<uint32_t>(button);
  const bool user_defined = IsUserDefined(run, button);
  plat::ShowControl(page, IDC_USER_BUTTON_LABEL, user_defined);
  plat::ShowControl(page, IDC_OVERRIDE, !user_defined);
  const bool enabled = GetEnabled(slot_button);
  plat::SetChecked(page, IDC_OVERRIDE, user_defined || enabled);

  if (!enabled) {
    for (const PressCombo& row : kPressCombos) {
      plat::ShowControl(page, row.label, false);
      plat::ShowControl(page, row.combo, false);
    }
    plat::ShowControl(page, IDC_RECORD_NOTICE, false);
    return;
  }

  plat::ShowControl(page, IDC_SINGLE_PRESS_LABEL, true);
  plat::ShowControl(page, IDC_SINGLE_PRESS, true);
  if (reload_single_press) loadShortcutCombo(page, IDC_SINGLE_PRESS, button, 1, false);

  // Line 0 is "<Record>" exactly when the device has a Record command.
  const bool record = plat::GetSelectedLine(page, IDC_SINGLE_PRESS) == 0 &&
                      run.buttons->GetRecordCommand() != nullptr;
  for (int k = 0; k < kLowerRowCount; ++k) {
    plat::ShowControl(page, kLowerRows[k].label, !record);
    plat::ShowControl(page, kLowerRows[k].combo, !record);
  }
  plat::ShowControl(page, IDC_RECORD_NOTICE, record);
  if (record) return;
  for (int k = 0; k < kLowerRowCount; ++k) {
    loadShortcutCombo(page, kLowerRows[k].combo, button, kLowerRows[k].press_count, kLowerRows[k].hold);
  }
}

// Bit i for every hardware button i below 32 whose command is the Record
// command; 0 when the device has none.
uint32_t recordButtonMask() {
  LaunchButtons& buttons = *ActiveRun()->buttons;
  const std::u16string* record = buttons.GetRecordCommand();
  if (record == nullptr) return 0;
  uint32_t mask = 0;
  const size_t count = buttons.GetButtonCount();
  for (uint32_t i = 0; i < count && i < kRecordMaskButtons; ++i) {
    const std::u16string* command = buttons.GetShortcut(i);
    if (command != nullptr && plat::CompareNoCase(*command, *record) == 0) mask |= 1u << i;
  }
  return mask;
}

// ---- Page events -----------------------------------------------------------------------

intptr_t InitPage(plat::Window page) {
  TapdeckRun& run = *ActiveRun();
  plat::InitShellDialog(page, plat::kShidiDoneButton | plat::kShidiFullScreenNoMenu);
  const size_t count = run.buttons->GetButtonCount();
  for (size_t i = 0; i < count; ++i) {
    const ButtonRecord& button = run.buttons->GetButton(i);
    plat::AddLine(page, IDC_BUTTON_LIST, button.Name() + u" (originally " + button.Title() + u")",
                  static_cast<intptr_t>(i));
  }
  UserButtonList user_buttons;
  user_buttons.Load();
  for (size_t k = 0; k < user_buttons.Count(); ++k)
    plat::AddLine(page, IDC_BUTTON_LIST, user_buttons.NameAt(k), static_cast<intptr_t>(count + k));
  plat::SelectLine(page, IDC_BUTTON_LIST, 0);
  refreshAssignmentControls(page, true);
  run.assignment.record_mask_at_opening = recordButtonMask();
  return 1;
}

void OnCommand(plat::Window page, int control, int code) {
  TapdeckRun& run = *ActiveRun();
  int32_t& button = run.assignment.current_button;
  if (control == IDC_BUTTON_LIST && code == plat::kNotifySelChange) {
    button = plat::GetSelectedLine(page, IDC_BUTTON_LIST);
    refreshAssignmentControls(page, true);
    return;
  }
  if (control == IDC_OVERRIDE && code == plat::kNotifyClicked) {
    if (button < 0) return;
    SetEnabled(static_cast<uint32_t>(button), plat::IsChecked(page, IDC_OVERRIDE));
    refreshAssignmentControls(page, true);
    return;
  }
  const PressCombo* row = FindPressCombo(control);
  if (row == nullptr || code != plat::kNotifySelChange || button < 0) return;
  const intptr_t item = unloadShortcutCombo(page, row->combo, button, row->press_count, row->hold);
  // The single press decides whether the rows below it are shown.
  if (row->press_count == 1) refreshAssignmentControls(page, false);
  if (item == kRotateScreenCode) RunRotationChoice(page, button, row->press_count, row->hold);
}

// Brings the hardware button table in line with the enabled flags.
intptr_t Apply(plat::Window page) {
  TapdeckRun& run = *ActiveRun();
  LaunchButtons& buttons = *run.buttons;
  const uint32_t count = static_cast<uint32_t>(buttons.GetButtonCount());
  for (uint32_t i = 0; i < count; ++i) {
    if (GetEnabled(i)) {
      std::u16string command;
      if (FindSpecialAction(GetShortcut(i, 1, false)) == kRecordAction) {
        const std::u16string* record = buttons.GetRecordCommand();
        if (record != nullptr) command = *record;
      } else {
        // Both builders share one result: keep the target before the path.
        const std::u16string target = u"\"" + GetAppFolderPath(u"TapdeckX.exe") + u"\" " + DecimalText(i);
        command = GetTakeoverShortcutPath(i);
        if (FileExists(command)) plat::DeleteFile(command);
        plat::CreateShortcut(command, target);
      }
      buttons.SetShortcut(i, command);
    } else {
      const std::u16string* current = buttons.GetShortcut(i);
      std::u16string lower = current != nullptr ? *current : std::u16string();
      MakeLower(lower);
      if (lower.find(kTakenOverMark) != std::u16string::npos)
        buttons.SetShortcut(i, buttons.GetButton(i).ResetCommand());
    }
  }
  if (recordButtonMask() != run.assignment.record_mask_at_opening) {
    const std::u16string caption = u"Quadrakey";
    plat::MessageBoxOwned(page, kRebootNotice, &caption, plat::kMbIconInformation);
  }
  return 0;
}

}  // namespace

intptr_t AssignmentPageProc(plat::Window page, const plat::DialogMessage& message) {
  if (ActiveRun() == nullptr) return 0;
  switch (message.event) {
    case plat::DialogEvent::kInit:
      return InitPage(page);
    case plat::DialogEvent::kCommand:
      OnCommand(page, message.control, message.code);
      return 0;
    case plat::DialogEvent::kApply:
      return Apply(page);
    case plat::DialogEvent::kKeyDown:  // pages take no keys
      return 0;
  }
  return 0;
}
