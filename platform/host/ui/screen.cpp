// The screen as text for people and as JSON for programs (the browser front
// end draws each control at its template position from it).
#include <unistd.h>

#include <cstdio>

#include "platform/host/device/device.h"
#include "platform/host/ui/model.h"
#include "platform/host/ui/window_system.h"

namespace device::ui {
namespace {

// For people: quotes and control characters escaped, backslashes (device
// paths are full of them) left as they are.
std::string Quote(const std::u16string& text) {
  std::string out = "\"";
  for (char c : ToUtf8(text)) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}
std::string Quote(const char16_t* text) { return Quote(std::u16string(text != nullptr ? text : u"")); }
// For programs.
std::string Json(const std::u16string& text) { return JsonString(text); }
std::string Json(const char16_t* text) { return JsonString(text != nullptr ? text : u""); }

// The program's name without the ".exe" its device file carries.
std::string ProgramName() {
  std::string name = program_invocation_short_name;
  if (name.size() > 4 && plat::CompareNoCase(FromUtf8(name.substr(name.size() - 4)), u".exe") == 0)
    name.resize(name.size() - 4);
  return name;
}
std::string Number(int64_t value) { return std::to_string(value); }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

const char* KindJson(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel: return "label";
    case ControlKind::kLine: return "line";
    case ControlKind::kCheckBox: return "checkbox";
    case ControlKind::kButton: return "button";
    case ControlKind::kEdit: return "edit";
    case ControlKind::kListBox: return "listbox";
    case ControlKind::kComboBox: return "combobox";
    case ControlKind::kTrackbar: return "trackbar";
    case ControlKind::kCustom: return "custom";
  }
  return "custom";
}

std::string KindText(const Control& control) {
  switch (control.kind) {
    case ControlKind::kLabel: return "label";
    case ControlKind::kLine: return "line";
    case ControlKind::kCheckBox: return "check box";
    case ControlKind::kButton: return "button";
    case ControlKind::kEdit: return "edit box";
    case ControlKind::kListBox: return "list box";
    case ControlKind::kComboBox: return "combo box";
    case ControlKind::kTrackbar: return "trackbar";
    case ControlKind::kCustom: return ToUtf8(control.class_name);
  }
  return "control";
}

const char* FrontName(const Frame* frame) {
  if (frame == nullptr) return "nothing";
  switch (frame->kind) {
    case FrameKind::kPageSet: return "pageset";
    case FrameKind::kDialog: return "dialog";
    case FrameKind::kMessageBox: return "messagebox";
    case FrameKind::kFileDialog: return "filedialog";
  }
  return "nothing";
}

// ---- Text -------------------------------------------------------------------

std::string LineText(const Control& control, int line) {
  const Line& l = control.lines[line];
  return Quote(l.text) + " (code " + Number(l.code) + ")";
}

void ControlText(const Control& control, bool combo_lines, std::string* out) {
  std::string id = control.id == -1 ? "-" : Number(control.id);
  char head[64];
  std::snprintf(head, sizeof head, "  %-6s %-10s ", id.c_str(), KindText(control).c_str());
  std::string line = head;
  bool has_lines = control.kind == ControlKind::kListBox || control.kind == ControlKind::kComboBox;
  if (!has_lines && control.kind != ControlKind::kTrackbar) line += Quote(control.text);
  if (has_lines) {
    int count = static_cast<int>(control.lines.size());
    line += Number(count) + (count == 1 ? " line" : " lines");
    line += control.selected >= 0 ? ", line " + Number(control.selected) + " selected: " +
                                        LineText(control, control.selected)
                                  : ", none selected";
  }
  if (control.kind == ControlKind::kCheckBox) line += control.checked ? "  checked" : "  unchecked";
  if (control.kind == ControlKind::kTrackbar)
    line += "range " + Number(control.minimum) + ".." + Number(control.maximum) + ", position " +
            Number(control.position);
  if (!control.shown) line += "  hidden";
  if (!control.enabled) line += "  disabled";
  *out += line + "\n";
  if (control.kind == ControlKind::kListBox || (control.kind == ControlKind::kComboBox && combo_lines)) {
    for (int i = 0; i < static_cast<int>(control.lines.size()); ++i) {
      char mark[32];
      std::snprintf(mark, sizeof mark, "       %c %5d: ", i == control.selected ? '>' : ' ', i);
      *out += mark + LineText(control, i) + "\n";
    }
  }
}

void DialogText(const WindowObject& window, const std::string& title, bool combo_lines, std::string* out) {
  const DialogTemplate& t = *window.dialog_template;
  *out += title + " (template " + Number(t.id) + ", " + Number(t.width) + "x" + Number(t.height) +
          " dialog units" + ((window.shell_flags & plat::kShidiDoneButton) ? ", Done button" : "") + "):\n";
  for (const Control& control : window.controls) ControlText(control, combo_lines, out);
}

std::string Text(bool combo_lines) {
  std::string out = ProgramName() + " (pid " + Number(getpid()) + ")\n";
  const std::vector<Frame*>& frames = Frames();
  if (frames.empty()) {
    WindowObject* main = MainWindow() != 0 ? FindWindow(MainWindow()) : nullptr;
    out += "nothing open" + (main != nullptr ? ": only the main window " + Quote(main->title) : "") + "\n";
    return out;
  }
  // The page set's tabs, then the page or dialog that covers the screen,
  // then a box over it.
  const WindowObject* covering = nullptr;
  std::string covering_title;
  for (const Frame* frame : frames) {
    if (frame->kind == FrameKind::kPageSet) {
      out += "page set " + Quote(frame->caption) + ":";
      for (size_t i = 0; i < frame->pages.size(); ++i) {
        std::string title = ToUtf8(frame->pages[i].title);
        out += static_cast<int>(i) == frame->current ? " [" + title + "]" : " " + title;
      }
      out += "\n";
      covering = FindWindow(frame->pages[frame->current].window);
      covering_title = "page " + Quote(frame->pages[frame->current].title);
    } else if (frame->kind == FrameKind::kDialog) {
      covering = FindWindow(frame->dialog);
      covering_title = "dialog " + Quote(covering != nullptr ? covering->dialog_template->caption : nullptr);
    }
  }
  if (covering != nullptr) DialogText(*covering, covering_title, combo_lines, &out);
  const Frame* front = frames.back();
  if (front->kind == FrameKind::kMessageBox) {
    out += "message box " + Quote(front->box_caption) + " (flags " + Hex(front->flags) + "), in front:\n";
    const bool question = (front->flags & plat::kMbButtonsMask) == plat::kMbYesNo;
    out += "  " + Quote(front->text) + (question ? "\n  [Yes] [No]\n" : "\n  [OK]\n");
  } else if (front->kind == FrameKind::kFileDialog) {
    const plat::OpenFileRequest& request = *front->request;
    out += "file-open dialog " + Quote(request.title) +
           ((request.flags & plat::kOfnFileMustExist) ? " (the file must exist)" : "") + ", in front:\n";
    out += "  filters:";
    for (int i = 0; i < request.filter_count; ++i)
      out += std::string(i > 0 ? "," : "") + " " + ToUtf8(request.filters[2 * i]) + " (" +
             ToUtf8(request.filters[2 * i + 1]) + ")";
    out += "\n";
  }
  return out;
}

// ---- JSON -------------------------------------------------------------------

void ControlJson(const Control& control, bool combo_lines, std::string* out) {
  *out += "{\"id\":" + Number(control.id) + ",\"kind\":\"" + KindJson(control.kind) + "\",\"class\":" +
          Json(control.class_name) + ",\"text\":" + Json(control.text) + ",\"x\":" + Number(control.x) +
          ",\"y\":" + Number(control.y) + ",\"width\":" + Number(control.width) +
          ",\"height\":" + Number(control.height) + ",\"style\":" + Number(control.style) +
          ",\"visible\":" + (control.shown ? "true" : "false") +
          ",\"enabled\":" + (control.enabled ? "true" : "false");
  if (control.kind == ControlKind::kCheckBox) *out += std::string(",\"checked\":") + (control.checked ? "true" : "false");
  if (control.kind == ControlKind::kTrackbar)
    *out += ",\"min\":" + Number(control.minimum) + ",\"max\":" + Number(control.maximum) +
            ",\"pos\":" + Number(control.position);
  if (control.kind == ControlKind::kListBox || control.kind == ControlKind::kComboBox) {
    *out += ",\"lineCount\":" + Number(static_cast<int64_t>(control.lines.size())) +
            ",\"selected\":" + Number(control.selected);
    if (control.selected >= 0) {
      const Line& line = control.lines[control.selected];
      *out += ",\"selectedText\":" + Json(line.text) + ",\"selectedCode\":" + Number(line.code);
    }
    if (control.kind == ControlKind::kListBox || combo_lines) {
      *out += ",\"lines\":[";
      for (size_t i = 0; i < control.lines.size(); ++i) {
        if (i > 0) *out += ',';
        *out += "{\"text\":" + Json(control.lines[i].text) + ",\"code\":" + Number(control.lines[i].code) + "}";
      }
      *out += "]";
    }
  }
  *out += "}";
}

void DialogJson(const WindowObject& window, bool combo_lines, std::string* out) {
  const DialogTemplate& t = *window.dialog_template;
  *out += "{\"window\":" + Number(static_cast<int64_t>(window.handle)) + ",\"template\":" + Number(t.id) +
          ",\"caption\":" + Json(t.caption) + ",\"font\":" + Json(t.font) +
          ",\"pointSize\":" + Number(t.point_size) + ",\"x\":" + Number(t.x) + ",\"y\":" + Number(t.y) +
          ",\"width\":" + Number(t.width) + ",\"height\":" + Number(t.height) +
          ",\"style\":" + Number(t.style) + ",\"shell\":" + Number(window.shell_flags) + ",\"controls\":[";
  for (size_t i = 0; i < window.controls.size(); ++i) {
    if (i > 0) *out += ',';
    ControlJson(window.controls[i], combo_lines, out);
  }
  *out += "]}";
}

void FrameJson(const Frame& frame, bool combo_lines, std::string* out) {
  *out += std::string("{\"kind\":\"") + FrontName(&frame) + "\",\"owner\":" + Number(static_cast<int64_t>(frame.owner));
  switch (frame.kind) {
    case FrameKind::kPageSet: {
      *out += ",\"caption\":" + Json(frame.caption) + ",\"tabs\":[";
      for (size_t i = 0; i < frame.pages.size(); ++i) *out += (i > 0 ? "," : "") + Json(frame.pages[i].title);
      *out += "],\"current\":" + Number(frame.current) + ",\"pages\":[";
      for (size_t i = 0; i < frame.pages.size(); ++i)
        *out += std::string(i > 0 ? "," : "") + "{\"title\":" + Json(frame.pages[i].title) +
                ",\"template\":" + Number(frame.pages[i].template_id) +
                ",\"window\":" + Number(static_cast<int64_t>(frame.pages[i].window)) + "}";
      *out += "],\"page\":";
      const WindowObject* page = FindWindow(frame.pages[frame.current].window);
      if (page != nullptr) DialogJson(*page, combo_lines, out); else *out += "null";
      break;
    }
    case FrameKind::kDialog: {
      *out += ",\"dialog\":";
      const WindowObject* dialog = FindWindow(frame.dialog);
      if (dialog != nullptr) DialogJson(*dialog, combo_lines, out); else *out += "null";
      break;
    }
    case FrameKind::kMessageBox:
      *out += ",\"text\":" + Json(frame.text) + ",\"caption\":" + Json(frame.box_caption) +
              ",\"flags\":" + Number(frame.flags);
      break;
    case FrameKind::kFileDialog: {
      const plat::OpenFileRequest& request = *frame.request;
      *out += ",\"title\":" + Json(request.title) + ",\"flags\":" + Number(request.flags) +
              ",\"capacity\":" + Number(static_cast<int64_t>(request.capacity)) + ",\"filters\":[";
      for (int i = 0; i < request.filter_count; ++i)
        *out += std::string(i > 0 ? "," : "") + "{\"name\":" + Json(request.filters[2 * i]) +
                ",\"pattern\":" + Json(request.filters[2 * i + 1]) + "}";
      *out += "]";
      break;
    }
  }
  *out += "}";
}

std::string ScreenAsJson(bool combo_lines) {
  uint32_t saved = plat::GetLastError();  // drawing the screen changes nothing the program sees
  std::string out = "{\"program\":" + JsonString(FromUtf8(ProgramName())) +
                    ",\"pid\":" + Number(getpid()) + ",\"serial\":" + Number(static_cast<int64_t>(Serial()));
  const WindowObject* main = MainWindow() != 0 ? FindWindow(MainWindow()) : nullptr;
  if (main != nullptr) {
    out += ",\"main\":{\"window\":" + Number(static_cast<int64_t>(main->handle)) + ",\"class\":" +
           Json(main->class_name) + ",\"title\":" + Json(main->title) + ",\"area\":{\"left\":" +
           Number(main->area.left) + ",\"top\":" + Number(main->area.top) + ",\"width\":" +
           Number(main->area.width) + ",\"height\":" + Number(main->area.height) + "}}";
  } else {
    out += ",\"main\":null";
  }
  const std::vector<Frame*>& frames = Frames();
  out += ",\"front\":\"" + std::string(FrontName(frames.empty() ? nullptr : frames.back())) + "\",\"stack\":[";
  for (size_t i = 0; i < frames.size(); ++i) {
    if (i > 0) out += ',';
    FrameJson(*frames[i], combo_lines, &out);
  }
  out += "]}\n";
  plat::SetLastError(saved);
  return out;
}

}  // namespace

std::string RenderScreen(channel::Format format) {
  uint32_t saved = plat::GetLastError();
  std::string screen;
  switch (format) {
    case channel::Format::kNone: break;
    case channel::Format::kText: screen = Text(false); break;
    case channel::Format::kTextLines: screen = Text(true); break;
    case channel::Format::kJson: screen = ScreenAsJson(true); break;
    case channel::Format::kJsonBrief: screen = ScreenAsJson(false); break;
  }
  plat::SetLastError(saved);
  return screen;
}

}  // namespace device::ui

namespace device {

std::string ScreenText(bool combo_lines) {
  return ui::RenderScreen(combo_lines ? channel::Format::kTextLines : channel::Format::kText);
}

std::string ScreenJson(bool combo_lines) {
  return ui::RenderScreen(combo_lines ? channel::Format::kJson : channel::Format::kJsonBrief);
}

}  // namespace device
