// Windows and the control operations the pages use, on the program's own
// model of its screen.
#include <unistd.h>

#include <map>

#include "platform/host/device/device.h"
#include "platform/host/ui/model.h"

namespace device::ui {
namespace {

struct Table {
  std::map<plat::Window, std::unique_ptr<WindowObject>> windows;
  uint64_t next = 1;
  plat::Window main = 0;
};

Table& Windows() {
  static Table table;
  return table;
}

// Handles carry the process id, so that no two programs of the device hand
// out the same one and a main window found in another program is unique.
plat::Window NewHandle() {
  Table& table = Windows();
  plat::Window base = static_cast<plat::Window>(getpid()) << 20;
  for (;;) {
    plat::Window handle = base | (table.next & 0xFFFFF);
    table.next = table.next % 0xFFFFF + 1;
    if (table.windows.count(handle) == 0) return handle;
  }
}

bool Fail(uint32_t code) {
  plat::SetLastError(code);
  return false;
}

bool IsListKind(const Control& control) {
  return control.kind == ControlKind::kListBox || control.kind == ControlKind::kComboBox;
}

Control* ListControl(plat::Window dialog, int id) {
  Control* control = FindControl(dialog, id);
  if (control == nullptr) return nullptr;
  if (!IsListKind(*control)) {
    Fail(plat::kErrorInvalidParameter);
    return nullptr;
  }
  return control;
}

Control* OfKind(plat::Window dialog, int id, ControlKind kind) {
  Control* control = FindControl(dialog, id);
  if (control == nullptr) return nullptr;
  if (control->kind != kind) {
    Fail(plat::kErrorInvalidParameter);
    return nullptr;
  }
  return control;
}

int Clamp(int value, int minimum, int maximum) {
  return value < minimum ? minimum : value > maximum ? maximum : value;
}

}  // namespace

const DialogTemplate* FindTemplate(int template_id) {
  for (int i = 0; i < kDialogTemplateCount; ++i)
    if (kDialogTemplates[i].id == template_id) return &kDialogTemplates[i];
  return nullptr;
}

plat::Window MakeDialogWindow(Role role, const DialogTemplate* dialog_template, plat::DialogProc proc,
                              plat::Window owner) {
  auto window = std::make_unique<WindowObject>();
  window->handle = NewHandle();
  window->role = role;
  window->owner = owner;
  window->dialog_template = dialog_template;
  window->proc = proc;
  for (int i = 0; i < dialog_template->control_count; ++i) {
    const ControlTemplate& t = dialog_template->controls[i];
    Control control;
    control.id = t.id;
    control.kind = t.kind;
    control.class_name = t.class_name != nullptr ? t.class_name : u"";
    control.text = t.text != nullptr ? t.text : u"";
    control.x = t.x;
    control.y = t.y;
    control.width = t.width;
    control.height = t.height;
    control.style = t.style;
    control.shown = (t.style & kWsVisible) != 0;
    control.enabled = (t.style & kWsDisabled) == 0;
    window->controls.push_back(std::move(control));
  }
  plat::Window handle = window->handle;
  Windows().windows.emplace(handle, std::move(window));
  NoteChange();
  return handle;
}

plat::Window MakeMainWindow(const std::u16string& class_name, const std::u16string& title,
                            plat::WindowProc proc, const plat::WorkArea& area) {
  auto window = std::make_unique<WindowObject>();
  window->handle = NewHandle();
  window->role = Role::kMain;
  window->class_name = class_name;
  window->title = title;
  window->window_proc = proc;
  window->area = area;
  plat::Window handle = window->handle;
  Windows().windows.emplace(handle, std::move(window));
  if (Windows().main == 0) Windows().main = handle;
  NoteChange();
  return handle;
}

void DestroyWindow(plat::Window handle) {
  Table& table = Windows();
  table.windows.erase(handle);
  if (table.main == handle) table.main = 0;
  NoteChange();
}

WindowObject* FindWindow(plat::Window handle) {
  auto it = Windows().windows.find(handle);
  if (it == Windows().windows.end()) {
    Fail(kErrorInvalidWindowHandle);
    return nullptr;
  }
  return it->second.get();
}

Control* FindControl(plat::Window dialog, int id) {
  WindowObject* window = FindWindow(dialog);
  if (window == nullptr) return nullptr;
  // Controls without an id (-1) cannot be addressed.
  if (id != -1) {
    for (Control& control : window->controls)
      if (control.id == id) return &control;
  }
  Fail(kErrorControlIdNotFound);
  return nullptr;
}

plat::Window MainWindow() { return Windows().main; }

intptr_t SendToDialog(plat::Window dialog, const plat::DialogMessage& message) {
  WindowObject* window = FindWindow(dialog);
  if (window == nullptr || window->proc == nullptr) return 0;
  plat::DialogProc proc = window->proc;  // the window may be gone when it returns
  return proc(dialog, message);
}

void ForgetAllWindows() {
  Table& table = Windows();
  table.windows.clear();
  table.main = 0;
}

}  // namespace device::ui

namespace plat {

using namespace device::ui;

void SetDialogData(Window dialog, intptr_t data) {
  if (WindowObject* window = FindWindow(dialog)) window->data = data;
}

intptr_t GetDialogData(Window dialog) {
  WindowObject* window = FindWindow(dialog);
  return window != nullptr ? window->data : 0;
}

void ShowControl(Window dialog, int id, bool shown) {
  if (Control* control = FindControl(dialog, id)) {
    control->shown = shown;
    NoteChange();
  }
}

bool IsControlShown(Window dialog, int id) {
  Control* control = FindControl(dialog, id);
  return control != nullptr && control->shown;
}

void FocusControl(Window, int) {}

bool IsControlEnabled(Window dialog, int id) {
  Control* control = FindControl(dialog, id);
  return control != nullptr && control->enabled;
}

void EnableControl(Window dialog, int id, bool enabled) {
  if (Control* control = FindControl(dialog, id)) {
    control->enabled = enabled;
    NoteChange();
  }
}

void SetControlText(Window dialog, int id, const std::u16string& text) {
  if (Control* control = FindControl(dialog, id)) {
    control->text = text;
    NoteChange();
  }
}

std::u16string GetControlText(Window dialog, int id) {
  Control* control = FindControl(dialog, id);
  if (control == nullptr) return {};
  // A drop-down list's text is its selected line, as on the device.
  if (control->kind == device::ControlKind::kComboBox) {
    int selected = control->selected;
    return selected >= 0 ? control->lines[selected].text : std::u16string();
  }
  return control->text;
}

void ClearLines(Window dialog, int id) {
  if (Control* control = ListControl(dialog, id)) {
    control->lines.clear();
    control->selected = -1;
    NoteChange();
  }
}

int AddLine(Window dialog, int id, const std::u16string& text, intptr_t code) {
  Control* control = ListControl(dialog, id);
  if (control == nullptr) return -1;
  control->lines.push_back({text, code});
  NoteChange();
  return static_cast<int>(control->lines.size()) - 1;
}

int GetLineCount(Window dialog, int id) {
  Control* control = ListControl(dialog, id);
  return control != nullptr ? static_cast<int>(control->lines.size()) : -1;
}

std::u16string GetLineText(Window dialog, int id, int line) {
  Control* control = ListControl(dialog, id);
  if (control == nullptr) return {};
  if (line < 0 || line >= static_cast<int>(control->lines.size())) {
    Fail(kErrorInvalidParameter);
    return {};
  }
  return control->lines[line].text;
}

intptr_t GetLineCode(Window dialog, int id, int line) {
  Control* control = ListControl(dialog, id);
  if (control == nullptr) return -1;
  if (line < 0 || line >= static_cast<int>(control->lines.size())) {
    Fail(kErrorInvalidParameter);
    return -1;
  }
  return control->lines[line].code;
}

int GetSelectedLine(Window dialog, int id) {
  Control* control = ListControl(dialog, id);
  return control != nullptr ? control->selected : -1;
}

void SelectLine(Window dialog, int id, int line) {
  Control* control = ListControl(dialog, id);
  if (control == nullptr) return;
  if (line >= 0 && line < static_cast<int>(control->lines.size())) {
    control->selected = line;
  } else if (line == -1 || control->kind == device::ControlKind::kComboBox) {
    // A combo box given a line it lacks loses its selection (CB_SETCURSEL);
    // a list box keeps it (LB_SETCURSEL fails).
    control->selected = -1;
  } else {
    Fail(kErrorInvalidParameter);
  }
  NoteChange();
}

int FindLine(Window dialog, int id, int start, const std::u16string& text) {
  Control* control = ListControl(dialog, id);
  if (control == nullptr) return -1;
  int count = static_cast<int>(control->lines.size());
  if (start < -1 || start >= count) start = -1;  // a start outside the list searches all of it
  for (int step = 1; step <= count; ++step) {
    int line = (start + step) % count;
    if (CompareNoCase(control->lines[line].text, text) == 0) return line;
  }
  return -1;
}

bool IsChecked(Window dialog, int id) {
  Control* control = OfKind(dialog, id, device::ControlKind::kCheckBox);
  return control != nullptr && control->checked;
}

void SetChecked(Window dialog, int id, bool checked) {
  if (Control* control = OfKind(dialog, id, device::ControlKind::kCheckBox)) {
    control->checked = checked;
    NoteChange();
  }
}

void SetSliderRange(Window dialog, int id, int minimum, int maximum) {
  Control* control = OfKind(dialog, id, device::ControlKind::kTrackbar);
  if (control == nullptr) return;
  control->minimum = minimum;
  control->maximum = maximum < minimum ? minimum : maximum;
  control->position = Clamp(control->position, control->minimum, control->maximum);
  NoteChange();
}

void SetSliderPosition(Window dialog, int id, int position) {
  Control* control = OfKind(dialog, id, device::ControlKind::kTrackbar);
  if (control == nullptr) return;
  control->position = Clamp(position, control->minimum, control->maximum);
  NoteChange();
}

int GetSliderPosition(Window dialog, int id) {
  Control* control = OfKind(dialog, id, device::ControlKind::kTrackbar);
  return control != nullptr ? control->position : 0;
}

void InitShellDialog(Window dialog, uint32_t flags) {
  // Pages and dialogs keep the flags, so that the screen can show a Done button.
  if (WindowObject* window = FindWindow(dialog)) {
    window->shell_flags |= flags;
    NoteChange();
  }
}

void InitControls(uint32_t /*classes*/) {
  // Every control class exists on the emulated device from the start.
}

WorkArea GetWorkArea() {
  // A Pocket PC screen less the navigation bar at the top; turned sideways
  // with the display.
  constexpr int kShortSide = 240, kLongSide = 320, kTopBar = 26;
  device::DisplayState display{kDmdo0, true};
  device::GetDisplay(&display);  // an unreadable state shows the screen upright
  uint32_t orientation = display.orientation;
  bool sideways = orientation == kDmdo90 || orientation == kDmdo270;
  int width = sideways ? kLongSide : kShortSide;
  int height = sideways ? kShortSide : kLongSide;
  return {0, kTopBar, width, height - kTopBar};
}

}  // namespace plat
