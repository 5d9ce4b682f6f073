// The "Settings" page: its controls bound to the AssignmentModel, which
// decides everything. What the person does goes to the model; what the
// model answers is shown.
#include "config/model/assignment_model.h"
#include "config/model/item_codes.h"
#include "config/pages/pages.h"
#include "config/resource.h"
#include "platform/ui.h"

namespace {

// The controls of each press row, top to bottom (PressRow order).
struct RowControls {
  int combo;
  int label;
};
constexpr RowControls kRows[kPressRowCount] = {
    {IDC_SINGLE_PRESS, IDC_SINGLE_PRESS_LABEL},
    {IDC_PRESS_HOLD, IDC_PRESS_HOLD_LABEL},
    {IDC_DOUBLE_PRESS, IDC_DOUBLE_PRESS_LABEL},
    {IDC_DOUBLE_HOLD, IDC_DOUBLE_HOLD_LABEL},
};

// The file-open dialog of "<Open File>".
constexpr const char16_t* kOpenFileFilters[] = {
    u"All Files",                     u"*.*",
    u"Notes (.pwi)",                  u"*.pwi",
    u"Pocket Word documents (.psw)",  u"*.psw",
    u"Pocket Excel documents (.pxt)", u"*.pxt",
};
constexpr size_t kOpenFileCapacity = 260;

bool FindRow(int combo, PressRow* row) {
  for (int k = 0; k < kPressRowCount; ++k) {
    if (kRows[k].combo != combo) continue;
    *row = static_cast<PressRow>(k);
    return true;
  }
  return false;
}

void ShowCombo(plat::Window page, PressRow row, const ComboContent& content) {
  const int combo = kRows[static_cast<int>(row)].combo;
  plat::ShowControl(page, combo, true);
  plat::ClearLines(page, combo);
  for (const ComboLine& line : content.lines) plat::AddLine(page, combo, *line.text, line.code);
  plat::SelectLine(page, combo, content.selected);
}

void Show(plat::Window page, const PageShows& shows) {
  plat::ShowControl(page, IDC_USER_BUTTON_LABEL, shows.user_button_label);
  plat::ShowControl(page, IDC_OVERRIDE, shows.override_box);
  plat::SetChecked(page, IDC_OVERRIDE, shows.override_checked);
  for (int k = 0; k < kPressRowCount; ++k) {
    plat::ShowControl(page, kRows[k].label, shows.rows[k]);
    plat::ShowControl(page, kRows[k].combo, shows.rows[k]);
    if (shows.filled[k]) ShowCombo(page, static_cast<PressRow>(k), shows.combos[k]);
  }
  plat::ShowControl(page, IDC_RECORD_NOTICE, shows.record_notice);
  if (shows.no_settings_notice) plat::SetControlText(page, IDC_NO_SETTINGS_NOTICE, AssignmentModel::NoSettingsNotice());
  plat::ShowControl(page, IDC_NO_SETTINGS_NOTICE, shows.no_settings_notice);
  plat::ShowControl(page, IDC_TUNE_TIMING, shows.tune);
  plat::EnableControl(page, IDC_TUNE_TIMING, shows.tune_enabled);
}

// The path chosen in the file-open dialog; false when the person cancelled,
// the dialog failed or the path does not fit its buffer.
bool ChooseFileToOpen(std::u16string* path) {
  plat::OpenFileRequest request;
  request.owner = 0;
  request.filters = kOpenFileFilters;
  request.filter_count = 4;
  request.title = u"Select file to launch";
  request.flags = plat::kOfnFileMustExist;
  request.capacity = kOpenFileCapacity;
  return plat::GetOpenFileName(request, path) && !path->empty() && path->size() < kOpenFileCapacity;
}

void OnPressChosen(plat::Window page, AssignmentModel& model, PressRow row) {
  const int combo = kRows[static_cast<int>(row)].combo;
  const int line = plat::GetSelectedLine(page, combo);
  Choice choice = model.Choose(row, line, line >= 0 ? plat::GetLineCode(page, combo, line) : -1);
  if (choice.outcome == Choice::Outcome::kNeedsFile) {
    std::u16string path;
    const bool chosen = ChooseFileToOpen(&path);
    choice = model.FileChosen(row, chosen ? &path : nullptr);
  }
  if (choice.refill) ShowCombo(page, row, model.FillCombo(row));
  if (choice.outcome == Choice::Outcome::kTooLong) {
    const std::u16string caption = AssignmentModel::kCaption;
    plat::MessageBoxOwned(page, AssignmentModel::TooLongNotice(), &caption,
                          plat::kMbOk | plat::kMbIconExclamation);
  }
  // The single press decides whether the rows below it show.
  if (SlotOf(row).press_count == 1) Show(page, model.Refresh(false));
  if (choice.outcome == Choice::Outcome::kStored && choice.code == kRotateScreenCode)
    RunRotationChoice(page, static_cast<uint32_t>(model.CurrentButton()), SlotOf(row).press_count, SlotOf(row).hold);
}

intptr_t Init(plat::Window page, AssignmentModel& model) {
  plat::InitShellDialog(page, plat::kShidiDoneButton | plat::kShidiFullScreenNoMenu);
  model.view = page;
  const std::vector<std::u16string> lines = model.ButtonListLines();
  for (size_t i = 0; i < lines.size(); ++i) plat::AddLine(page, IDC_BUTTON_LIST, lines[i], static_cast<intptr_t>(i));
  plat::SelectLine(page, IDC_BUTTON_LIST, 0);
  Show(page, model.Refresh(true));
  model.NoteRecordButtons();
  return 1;
}

void OnCommand(plat::Window page, AssignmentModel& model, int control, int code) {
  if (control == IDC_BUTTON_LIST && code == plat::kNotifySelChange) {
    model.SelectButton(plat::GetSelectedLine(page, IDC_BUTTON_LIST));
    Show(page, model.Refresh(true));
    return;
  }
  if (control == IDC_OVERRIDE && code == plat::kNotifyClicked) {
    if (model.CurrentButton() < 0) return;
    model.SetOverride(plat::IsChecked(page, IDC_OVERRIDE));
    Show(page, model.Refresh(true));
    return;
  }
  if (control == IDC_TUNE_TIMING && code == plat::kNotifyClicked) {
    const int32_t button = model.CurrentButton();
    if (button < 0) return;
    RunTunerDialog(page, static_cast<uint32_t>(button), model.KeyCodeOf(button),
                   plat::GetLineText(page, IDC_BUTTON_LIST, button));
    return;
  }
  PressRow row;
  if (FindRow(control, &row) && code == plat::kNotifySelChange && model.CurrentButton() >= 0)
    OnPressChosen(page, model, row);
}

intptr_t Apply(plat::Window page, AssignmentModel& model) {
  const bool record_moved = model.Done();
  const std::u16string caption = AssignmentModel::kCaption;
  const std::u16string kept = model.KeptNotice();
  if (!kept.empty()) plat::MessageBoxOwned(page, kept, &caption, plat::kMbOk | plat::kMbIconExclamation);
  if (record_moved) plat::MessageBoxOwned(page, AssignmentModel::kRebootNotice, &caption, plat::kMbIconInformation);
  return 0;
}

}  // namespace

void ShowButtonList(plat::Window page, AssignmentModel& model) {
  const std::vector<std::u16string> lines = model.ReloadButtonList();
  plat::ClearLines(page, IDC_BUTTON_LIST);
  for (size_t i = 0; i < lines.size(); ++i) plat::AddLine(page, IDC_BUTTON_LIST, lines[i], static_cast<intptr_t>(i));
  plat::SelectLine(page, IDC_BUTTON_LIST, model.CurrentButton());
  Show(page, model.Refresh(true));
}

intptr_t AssignmentPageProc(plat::Window page, const plat::DialogMessage& message) {
  AssignmentModel* model = PageModel<AssignmentModel>(page, message);
  if (model == nullptr) return 0;
  switch (message.event) {
    case plat::DialogEvent::kInit: return Init(page, *model);
    case plat::DialogEvent::kCommand:
      OnCommand(page, *model, message.control, message.code);
      return 0;
    case plat::DialogEvent::kApply: return Apply(page, *model);
    case plat::DialogEvent::kKeyDown:  // pages take no keys
      return 0;
  }
  return 0;
}
