// What a person can do with the screen in front, and nothing more: hidden
// or disabled controls, pages behind the front one and missing lines refuse
// the action with the reason a person would see.
#include <string>

#include "platform/host/device/device.h"
#include "platform/host/ui/model.h"

namespace device::ui {
namespace {

using plat::person::Action;
using plat::person::ActionKind;

uint64_t action_count = 0;

constexpr uint32_t kButtonTypeMask = 0xF;
constexpr uint32_t kBsAutoCheckBox = 0x3;
constexpr uint32_t kBsAuto3State = 0x6;

bool Refuse(std::u16string* error, const std::string& reason) {
  if (error != nullptr) *error = FromUtf8(reason);
  return false;
}

std::string Quote(const std::u16string& text) { return JsonString(text); }

const char* KindName(const Control& control) {
  switch (control.kind) {
    case ControlKind::kLabel: return "a label";
    case ControlKind::kLine: return "a line";
    case ControlKind::kCheckBox: return "a check box";
    case ControlKind::kButton: return "a button";
    case ControlKind::kEdit: return "an edit box";
    case ControlKind::kListBox: return "a list box";
    case ControlKind::kComboBox: return "a combo box";
    case ControlKind::kTrackbar: return "a trackbar";
    case ControlKind::kCustom: return "a custom control";
  }
  return "a control";
}

// The page or dialog whose controls a person can reach now; 0 (and the
// reason) when something else is in front.
plat::Window ReachableDialog(std::u16string* error, std::string* where) {
  Frame* front = Front();
  if (front == nullptr) {
    Refuse(error, "no page set or dialog is open");
    return 0;
  }
  switch (front->kind) {
    case FrameKind::kPageSet: {
      const PageEntry& page = front->pages[front->current];
      *where = "page " + Quote(page.title);
      return page.window;
    }
    case FrameKind::kDialog: {
      WindowObject* window = FindWindow(front->dialog);
      const char16_t* caption = window != nullptr ? window->dialog_template->caption : nullptr;
      *where = "the dialog" + (caption != nullptr && *caption != u'\0' ? " " + Quote(caption) : "");
      return front->dialog;
    }
    case FrameKind::kMessageBox:
      Refuse(error, "a message box is in front: answer it first");
      return 0;
    case FrameKind::kFileDialog:
      Refuse(error, "the file-open dialog is in front: choose a file or cancel it first");
      return 0;
  }
  return 0;
}

Control* ReachableControl(int id, plat::Window* dialog, std::u16string* error) {
  std::string where;
  *dialog = ReachableDialog(error, &where);
  if (*dialog == 0) return nullptr;
  Control* control = id == -1 ? nullptr : FindControl(*dialog, id);
  std::string name = "control " + std::to_string(id);
  if (control == nullptr) {
    Refuse(error, "no " + name + " on " + where);
    return nullptr;
  }
  if (!control->shown) {
    Refuse(error, name + " is hidden");
    return nullptr;
  }
  if (!control->enabled) {
    Refuse(error, name + " is disabled");
    return nullptr;
  }
  return control;
}

void Acted() {
  ++action_count;
  NoteChange();
}

void Notify(plat::Window dialog, int id, int code) {
  SendToDialog(dialog, {plat::DialogEvent::kCommand, id, code, 0});
}

bool Select(const Action& action, std::u16string* error) {
  plat::Window dialog = 0;
  Control* control = ReachableControl(action.control, &dialog, error);
  if (control == nullptr) return false;
  std::string name = "control " + std::to_string(action.control);
  if (control->kind != ControlKind::kListBox && control->kind != ControlKind::kComboBox)
    return Refuse(error, name + " is " + KindName(*control) + ", which has no lines to select");
  int count = static_cast<int>(control->lines.size());
  int line = action.line;
  if (line >= 0) {
    if (line >= count)
      return Refuse(error, name + " has no line " + std::to_string(line) + " (it has " +
                               std::to_string(count) + (count == 1 ? " line)" : " lines)"));
  } else {
    line = plat::FindLine(dialog, action.control, -1, action.text);
    if (line < 0) return Refuse(error, name + " has no line " + Quote(action.text));
  }
  control->selected = line;
  Acted();
  Notify(dialog, action.control, plat::kNotifySelChange);
  return true;
}

bool Click(const Action& action, std::u16string* error) {
  plat::Window dialog = 0;
  Control* control = ReachableControl(action.control, &dialog, error);
  if (control == nullptr) return false;
  if (control->kind == ControlKind::kCheckBox) {
    uint32_t type = control->style & kButtonTypeMask;
    if (type == kBsAutoCheckBox || type == kBsAuto3State) control->checked = !control->checked;
  } else if (control->kind != ControlKind::kButton) {
    return Refuse(error, "control " + std::to_string(action.control) + " is " + KindName(*control) +
                             ", which cannot be clicked");
  }
  Acted();
  Notify(dialog, action.control, plat::kNotifyClicked);
  return true;
}

bool Slide(const Action& action, std::u16string* error) {
  plat::Window dialog = 0;
  Control* control = ReachableControl(action.control, &dialog, error);
  if (control == nullptr) return false;
  if (control->kind != ControlKind::kTrackbar)
    return Refuse(error, "control " + std::to_string(action.control) + " is " + KindName(*control) +
                             ", not a trackbar");
  // As a drag: the thumb stops at the ends. The pages read the position
  // when they need it, so no notification is sent.
  plat::SetSliderPosition(dialog, action.control, action.position);
  Acted();
  return true;
}

bool Tab(const Action& action, std::u16string* error) {
  Frame* front = Front();
  if (front == nullptr || front->kind != FrameKind::kPageSet) {
    std::string where;
    if (ReachableDialog(error, &where) == 0) return false;
    return Refuse(error, "the dialog in front has no tabs");
  }
  std::string titles;
  for (size_t i = 0; i < front->pages.size(); ++i) {
    if (plat::CompareNoCase(front->pages[i].title, action.text) == 0) {
      front->current = static_cast<int>(i);
      Acted();
      return true;
    }
    titles += (i > 0 ? ", " : "") + ToUtf8(front->pages[i].title);
  }
  return Refuse(error, "no tab " + Quote(action.text) + " (the tabs: " + titles + ")");
}

bool HasDoneButton(const WindowObject& window) {
  if (window.shell_flags & plat::kShidiDoneButton) return true;
  for (const Control& control : window.controls)
    if (control.id == plat::kIdDone && control.kind == ControlKind::kButton && control.shown && control.enabled)
      return true;
  return false;
}

bool Done(std::u16string* error) {
  Frame* front = Front();
  std::string where;
  if (ReachableDialog(error, &where) == 0) return false;
  if (front->kind == FrameKind::kPageSet) {
    Acted();
    // Every page applies, in page order; one that objects keeps the set open
    // with itself in front, as the sheet does.
    for (size_t i = 0; i < front->pages.size(); ++i) {
      intptr_t answer = SendToDialog(front->pages[i].window, {plat::DialogEvent::kApply, 0, 0, 0});
      if (answer != 0) {
        front->current = static_cast<int>(i);
        NoteChange();
        return true;
      }
    }
    front->done = true;
    front->closed = true;
    return true;
  }
  WindowObject* window = FindWindow(front->dialog);
  if (window == nullptr || !HasDoneButton(*window)) return Refuse(error, where + " has no Done button");
  Acted();
  Notify(front->dialog, plat::kIdDone, 0);
  return true;
}

void CancelFileDialog(Frame* frame) {
  frame->chosen = false;
  frame->error = plat::kErrorSuccess;
  frame->closed = true;
}

bool Cancel(std::u16string* error) {
  Frame* front = Front();
  if (front == nullptr) {
    // Closing the program's window is all that is left to do.
    if (MainWindow() == 0) return Refuse(error, "nothing is open on the screen");
    Acted();
    CloseMainWindow();
    return true;
  }
  switch (front->kind) {
    case FrameKind::kPageSet:
      Acted();
      front->closed = true;
      return true;
    case FrameKind::kDialog:
      Acted();
      Notify(front->dialog, plat::kIdCancel, 0);
      return true;
    case FrameKind::kFileDialog:
      Acted();
      CancelFileDialog(front);
      return true;
    case FrameKind::kMessageBox:
      return Refuse(error, "a message box is in front: answer it (it has only OK)");
  }
  return false;
}

bool Answer(std::u16string* error) {
  Frame* front = Front();
  if (front == nullptr || front->kind != FrameKind::kMessageBox)
    return Refuse(error, "no message box is open");
  Acted();
  front->closed = true;
  return true;
}

Frame* FileDialog(std::u16string* error) {
  Frame* front = Front();
  if (front == nullptr || front->kind != FrameKind::kFileDialog) {
    Refuse(error, "no file-open dialog is open");
    return nullptr;
  }
  return front;
}

bool ChooseFile(const Action& action, std::u16string* error) {
  Frame* front = FileDialog(error);
  if (front == nullptr) return false;
  std::u16string path = action.text;
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  if (path.empty() || path[0] != u'\\')
    return Refuse(error, "give the file's full device path, starting with \\ (for example \\My Documents\\letter.psw)");
  if (front->request->flags & plat::kOfnFileMustExist) {
    uint32_t saved = plat::GetLastError();
    uint32_t attributes = plat::GetFileAttributes(path);
    plat::SetLastError(saved);
    if (attributes == plat::kInvalidFileAttributes)
      return Refuse(error, "no file " + ToUtf8(path) + " on the device (this dialog takes only a file that exists)");
    if (attributes & plat::kFileAttributeDirectory)
      return Refuse(error, ToUtf8(path) + " is a folder, not a file");
  }
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
  return true;
}

bool CancelFile(std::u16string* error) {
  Frame* front = FileDialog(error);
  if (front == nullptr) return false;
  Acted();
  CancelFileDialog(front);
  return true;
}

}  // namespace

uint64_t ActionCount() { return action_count; }

bool PerformAction(const Action& action, std::u16string* error) {
  switch (action.kind) {
    case ActionKind::kSelect: return Select(action, error);
    case ActionKind::kClick: return Click(action, error);
    case ActionKind::kSlide: return Slide(action, error);
    case ActionKind::kTab: return Tab(action, error);
    case ActionKind::kDone: return Done(error);
    case ActionKind::kCancel: return Cancel(error);
    case ActionKind::kAnswer: return Answer(error);
    case ActionKind::kChooseFile: return ChooseFile(action, error);
    case ActionKind::kCancelFile: return CancelFile(error);
  }
  return Refuse(error, "unknown action");
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
    case FrameKind::kMessageBox: front->closed = true; break;
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
