// The "Add Buttons" page and its "Add Button Intercept" dialog: their
// controls bound to the AddButtonsModel and InterceptModel, which decide
// everything.
#include "config/model/add_buttons.h"
#include "config/model/assignment_model.h"
#include "config/pages/pages.h"
#include "config/resource.h"
#include "platform/ui.h"

namespace {

// The controls that come alive once a key is detected.
constexpr int kNameControls[] = {IDC_INTERCEPT_LINE, IDC_INTERCEPT_NAME_LABEL, IDC_INTERCEPT_NAME, plat::kIdDone};

struct Intercept {
  InterceptModel model;
  std::u16string name;  // what the name field held at Accept
};

intptr_t InterceptDialogProc(plat::Window dialog, const plat::DialogMessage& message) {
  Intercept* intercept = PageModel<Intercept>(dialog, message);
  if (intercept == nullptr) return 0;
  switch (message.event) {
    case plat::DialogEvent::kInit:
      plat::InitShellDialog(dialog, plat::kShidiFullScreen);
      return 1;
    case plat::DialogEvent::kKeyDown:
      if (!intercept->model.OnKey(static_cast<uint32_t>(message.code), message.param != 0)) return 0;
      for (int id : kNameControls) plat::EnableControl(dialog, id, true);
      plat::SetControlText(dialog, IDC_INTERCEPT_NAME, intercept->model.OfferedName());
      plat::FocusControl(dialog, IDC_INTERCEPT_NAME);
      return 1;  // the key is the one to add, not input for a control
    case plat::DialogEvent::kCommand:
      if (message.control == plat::kIdDone && intercept->model.Detected()) {
        intercept->name = plat::GetControlText(dialog, IDC_INTERCEPT_NAME);
        plat::EndDialog(dialog, 1);
      } else if (message.control == plat::kIdCancel) {
        plat::EndDialog(dialog, 0);
      }
      return 0;
    case plat::DialogEvent::kApply:
      return 0;
  }
  return 0;
}

void Notice(plat::Window page, const std::u16string& text);

void ShowList(plat::Window page, AddButtonsModel& model) {
  plat::ClearLines(page, IDC_BUTTON_LIST);
  const std::vector<std::u16string> lines = model.Lines();
  for (size_t i = 0; i < lines.size(); ++i) plat::AddLine(page, IDC_BUTTON_LIST, lines[i], static_cast<intptr_t>(i));
  plat::EnableControl(page, IDC_REMOVE_BUTTON, false);  // nothing is selected now
}

// The list changed: this page and the Settings page show it as it is now.
void ListChanged(plat::Window page, AddButtonsModel& model) {
  ShowList(page, model);
  if (model.Settings() != nullptr && model.Settings()->view != 0)
    ShowButtonList(static_cast<plat::Window>(model.Settings()->view), *model.Settings());
}

void Notice(plat::Window page, const std::u16string& text) {
  const std::u16string caption = AddButtonsModel::kCaption;
  plat::MessageBoxOwned(page, text, &caption, plat::kMbOk | plat::kMbIconExclamation);
}

// With every position in use the dialog still opens: a listed key may be
// renamed; a new one is refused at Accept.
void OnAdd(plat::Window page, AddButtonsModel& model) {
  UserButtonList listed;
  listed.Load();
  model.PauseListener();
  uint32_t key_code = 0;
  std::u16string name;
  if (RunInterceptDialog(page, listed, &key_code, &name)) {
    const AddButtonsModel::Accepted outcome = model.Accept(key_code, name);
    if (outcome == AddButtonsModel::Accepted::kFull) Notice(page, model.FullNotice());
    if (outcome == AddButtonsModel::Accepted::kHeld) Notice(page, model.HeldNotice());
    if (outcome == AddButtonsModel::Accepted::kFailed) Notice(page, AddButtonsModel::FailedNotice());
    ListChanged(page, model);
  }
  model.ResumeListener();
}

}  // namespace

bool RunInterceptDialog(plat::Window owner, const UserButtonList& listed, uint32_t* key_code, std::u16string* name) {
  Intercept intercept{InterceptModel(listed), {}};
  if (plat::RunDialog(owner, IDD_ADD_INTERCEPT, InterceptDialogProc, reinterpret_cast<intptr_t>(&intercept)) != 1)
    return false;
  *key_code = intercept.model.KeyCode();
  *name = intercept.name;
  return true;
}

intptr_t AddButtonsPageProc(plat::Window page, const plat::DialogMessage& message) {
  AddButtonsModel* model = PageModel<AddButtonsModel>(page, message);
  if (model == nullptr) return 0;
  switch (message.event) {
    case plat::DialogEvent::kInit:
      plat::InitShellDialog(page, plat::kShidiDoneButton | plat::kShidiFullScreenNoMenu);
      ShowList(page, *model);
      if (!model->ReadNotice().empty()) Notice(page, model->ReadNotice());
      return 1;
    case plat::DialogEvent::kCommand:
      if (message.control == IDC_BUTTON_LIST && message.code == plat::kNotifySelChange) {
        plat::EnableControl(page, IDC_REMOVE_BUTTON, plat::GetSelectedLine(page, IDC_BUTTON_LIST) >= 0);
      } else if (message.control == IDC_ADD_BUTTON && message.code == plat::kNotifyClicked) {
        OnAdd(page, *model);
      } else if (message.control == IDC_REMOVE_BUTTON && message.code == plat::kNotifyClicked) {
        const int line = plat::GetSelectedLine(page, IDC_BUTTON_LIST);
        // Stored at once, for the listener and the other programs: the
        // person agrees first.
        const std::u16string question = model->RemoveQuestion(line);
        const std::u16string caption = AddButtonsModel::kCaption;
        if (!question.empty() &&
            plat::MessageBoxOwned(page, question, &caption, plat::kMbYesNo | plat::kMbIconQuestion) != plat::kIdYes)
          return 0;
        switch (model->Remove(line)) {
          case AddButtonsModel::Removed::kNoLine:
            break;
          case AddButtonsModel::Removed::kUnread:
            Notice(page, model->ReadNotice());
            break;
          case AddButtonsModel::Removed::kFailed:
            Notice(page, AddButtonsModel::FailedNotice());
            ListChanged(page, *model);
            break;
          case AddButtonsModel::Removed::kRemoved:
            ListChanged(page, *model);
            break;
        }
      }
      return 0;
    case plat::DialogEvent::kApply:
      model->Done();
      return 0;
    case plat::DialogEvent::kKeyDown:
      return 0;
  }
  return 0;
}
