// What a person's actions do on the emulated screen, once the common rules
// (platform/common/person_rules.h) have let them through.
#include <string>

#include "platform/common/person_rules.h"
#include "platform/host/device/device.h"
#include "platform/host/ui/model.h"

namespace device::ui {
namespace {

using plat::common::ControlFacts;
using plat::common::PathKind;
using plat::common::Verdict;
using plat::person::Action;
using plat::person::ActionKind;
using plat::person::ScreenKind;

uint64_t action_count = 0;

constexpr uint32_t kButtonTypeMask = 0xF;
constexpr uint32_t kBsAutoCheckBox = 0x3;
constexpr uint32_t kBsAuto3State = 0x6;

bool Refuse(std::u16string* error, const std::u16string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

// The page in front of the page set, or the dialog in front; 0 otherwise.
plat::Window FrontDialog() {
  Frame* front = Front();
  if (front == nullptr) return 0;
  if (front->kind == FrameKind::kPageSet) return front->pages[front->current].window;
  if (front->kind == FrameKind::kDialog) return front->dialog;
  return 0;
}

bool HasDoneButton(const WindowObject& window) {
  if (window.shell_flags & plat::kShidiDoneButton) return true;
  for (const Control& control : window.controls)
    if (control.id == plat::kIdDone && control.kind == ControlKind::kButton && control.shown && control.enabled)
      return true;
  return false;
}

// The screen as the common rules ask about it.
class HostView final : public plat::common::PersonView {
 public:
  ScreenKind FrontKind() override { return plat::person::CurrentScreen().kind; }
  bool FrontOpen() override { return true; }  // made before it is in front
  std::u16string FrontTitle() override {
    Frame* front = Front();
    if (front != nullptr && front->kind == FrameKind::kPageSet) return front->pages[front->current].title;
    WindowObject* window = front != nullptr ? FindWindow(front->dialog) : nullptr;
    if (window == nullptr || window->dialog_template->caption == nullptr) return {};
    return window->dialog_template->caption;
  }
  std::vector<std::u16string> Tabs() override { return plat::person::CurrentScreen().tabs; }
  bool HasDoneButton() override {
    WindowObject* window = FindWindow(FrontDialog());
    return window != nullptr && ui::HasDoneButton(*window);
  }
  bool HasMainWindow() override { return MainWindow() != 0; }
  bool MessageBoxHasNo() override {
    const Frame* front = Front();
    return front != nullptr && front->kind == FrameKind::kMessageBox &&
           (front->flags & plat::kMbButtonsMask) == plat::kMbYesNo;
  }
  bool FindControl(int id, ControlFacts* facts) override {
    const plat::Window dialog = FrontDialog();
    Control* control = dialog != 0 && id != -1 ? ui::FindControl(dialog, id) : nullptr;
    if (control == nullptr) return false;
    facts->kind = control->kind;
    facts->shown = control->shown;
    facts->enabled = control->enabled;
    facts->line_count = static_cast<int>(control->lines.size());
    return true;
  }
  int FindLine(int id, const std::u16string& text) override { return plat::FindLine(FrontDialog(), id, -1, text); }
  bool FileMustExist() override {
    Frame* front = Front();
    return front != nullptr && front->request != nullptr && (front->request->flags & plat::kOfnFileMustExist);
  }
  PathKind KindOfPath(const std::u16string& path) override {
    const uint32_t saved = plat::GetLastError();
    const uint32_t attributes = plat::GetFileAttributes(path);
    plat::SetLastError(saved);
    if (attributes == plat::kInvalidFileAttributes) return PathKind::kMissing;
    return attributes & plat::kFileAttributeDirectory ? PathKind::kFolder : PathKind::kFile;
  }
};

void Acted() {
  ++action_count;
  NoteChange();
}

void Notify(plat::Window dialog, int id, int code) {
  SendToDialog(dialog, {plat::DialogEvent::kCommand, id, code, 0});
}

void Select(const Action& action, int line) {
  const plat::Window dialog = FrontDialog();
  ui::FindControl(dialog, action.control)->selected = line;
  Acted();
  Notify(dialog, action.control, plat::kNotifySelChange);
}

void Click(const Action& action) {
  const plat::Window dialog = FrontDialog();
  Control* control = ui::FindControl(dialog, action.control);
  if (control->kind == ControlKind::kCheckBox) {
    const uint32_t type = control->style & kButtonTypeMask;
    if (type == kBsAutoCheckBox || type == kBsAuto3State) control->checked = !control->checked;
  }
  Acted();
  Notify(dialog, action.control, plat::kNotifyClicked);
}

void Slide(const Action& action) {
  // As a drag: the thumb stops at the ends, then the page hears of it.
  const plat::Window dialog = FrontDialog();
  plat::SetSliderPosition(dialog, action.control, action.position);
  Acted();
  Notify(dialog, action.control, plat::kNotifySliderMoved);
}

void Done() {
  Frame* front = Front();
  Acted();
  if (front->kind == FrameKind::kDialog) {
    Notify(front->dialog, plat::kIdDone, 0);
    return;
  }
  // Every page applies, in page order; one that objects keeps the set open
  // with itself in front, as the sheet does.
  for (size_t i = 0; i < front->pages.size(); ++i) {
    intptr_t answer = SendToDialog(front->pages[i].window, {plat::DialogEvent::kApply, 0, 0, 0});
    if (answer != 0) {
      front->current = static_cast<int>(i);
      NoteChange();
      return;
    }
  }
  front->done = true;
  front->closed = true;
}

void CancelFileDialog(Frame* frame) {
  frame->chosen = false;
  frame->error = plat::kErrorSuccess;
  frame->closed = true;
}

void Cancel() {
  Frame* front = Front();
  Acted();
  if (front == nullptr) {
    CloseMainWindow();
    return;
  }
  switch (front->kind) {
    case FrameKind::kPageSet: front->closed = true; break;
    case FrameKind::kDialog: Notify(front->dialog, plat::kIdCancel, 0); break;
    case FrameKind::kFileDialog: CancelFileDialog(front); break;
    case FrameKind::kMessageBox:  // a question's No; the rules refuse it on any other box
      if ((front->flags & plat::kMbButtonsMask) != plat::kMbYesNo) break;
      front->answer = plat::kIdNo;
      front->closed = true;
      break;
  }
}

void ChooseFile(const std::u16string& path) {
  Frame* front = Front();
  Acted();
  // A path that does not fit fails the dialog; a cut one would name another file.
  if (path.size() >= front->request->capacity) {
    front->chosen = false;
    front->error = kErrorInsufficientBuffer;
  } else {
    front->chosen = true;
    front->path = path;
  }
  front->closed = true;
}

}  // namespace

uint64_t ActionCount() { return action_count; }

bool PerformAction(const Action& action, std::u16string* error) {
  HostView view;
  const Verdict verdict = plat::common::Judge(action, view);
  if (!verdict.allowed) return Refuse(error, verdict.refusal);
  switch (action.kind) {
    case ActionKind::kSelect: Select(action, verdict.line); break;
    case ActionKind::kClick: Click(action); break;
    case ActionKind::kSlide: Slide(action); break;
    case ActionKind::kType:
      // The field holds what was typed; its program reads it when it needs it.
      plat::SetControlText(FrontDialog(), action.control, action.text);
      Acted();
      break;
    case ActionKind::kTab:
      Front()->current = verdict.tab;
      Acted();
      break;
    case ActionKind::kDone: Done(); break;
    case ActionKind::kCancel: Cancel(); break;
    case ActionKind::kAnswer:
      Acted();
      Front()->answer = (Front()->flags & plat::kMbButtonsMask) == plat::kMbYesNo ? plat::kIdYes : plat::kIdOk;
      Front()->closed = true;
      break;
    case ActionKind::kChooseFile: ChooseFile(verdict.path); break;
    case ActionKind::kCancelFile:
      Acted();
      CancelFileDialog(Front());
      break;
  }
  return true;
}

void CancelFront() {
  Frame* front = Front();
  if (front == nullptr) {
    CloseMainWindow();
    return;
  }
  switch (front->kind) {
    case FrameKind::kPageSet: front->closed = true; break;
    case FrameKind::kDialog:
      Notify(front->dialog, plat::kIdCancel, 0);
      // A dialog that ignores cancelling is ended, or the wait would repeat.
      if (!front->closed) plat::EndDialog(front->dialog, -1);
      break;
    case FrameKind::kMessageBox:
      front->answer = (front->flags & plat::kMbButtonsMask) == plat::kMbYesNo ? plat::kIdNo : plat::kIdOk;
      front->closed = true;
      break;
    case FrameKind::kFileDialog: CancelFileDialog(front); break;
  }
  NoteChange();
}

}  // namespace device::ui

namespace plat::person {

using namespace device::ui;

Screen CurrentScreen() {
  Screen screen;
  Frame* front = Front();
  if (front == nullptr) return screen;
  switch (front->kind) {
    case FrameKind::kPageSet:
      screen.kind = ScreenKind::kPageSet;
      screen.dialog = front->pages[front->current].window;
      screen.template_id = front->pages[front->current].template_id;
      for (const PageEntry& page : front->pages) screen.tabs.push_back(page.title);
      screen.current_tab = front->current;
      screen.caption = front->caption;
      break;
    case FrameKind::kDialog: {
      screen.kind = ScreenKind::kDialog;
      screen.dialog = front->dialog;
      WindowObject* window = FindWindow(front->dialog);
      if (window != nullptr) {
        screen.template_id = window->dialog_template->id;
        if (window->dialog_template->caption != nullptr) screen.caption = window->dialog_template->caption;
      }
      break;
    }
    case FrameKind::kMessageBox:
      screen.kind = ScreenKind::kMessageBox;
      screen.text = front->text;
      screen.caption = front->box_caption;
      screen.flags = front->flags;
      break;
    case FrameKind::kFileDialog:
      screen.kind = ScreenKind::kFileDialog;
      screen.text = front->request->title;
      screen.flags = front->request->flags;
      break;
  }
  return screen;
}

bool Act(const Action& action, std::u16string* error) { return PerformAction(action, error); }

}  // namespace plat::person
