#include "tests/tapdeck/scenario_runner.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "config/model/launch_buttons.h"
#include "config/resource.h"
#include "config/tapdeck.h"
#include "platform/faults.h"
#include "platform/person.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"

namespace tapdeck_scenario {
namespace {

// The scenarios give the device's press lists. A PC's leave out the actions
// it lacks (unless stored, when they keep their line): there a missing one
// takes its line out of the device's count and numbering. The device lines
// of such actions, missing from list `id`.
std::vector<int> LinesLeftOut(plat::Window dialog, int id) {
  std::vector<int> lines;
  if (id != IDC_SINGLE_PRESS && id != IDC_PRESS_HOLD && id != IDC_DOUBLE_PRESS && id != IDC_DOUBLE_HOLD) return lines;
  const bool record = plat::GetLineText(dialog, id, 0) == GetSpecialActionName(SpecialAction::kRecord);
  for (int action = 0; action < kSpecialActionCount; ++action) {
    if (IsActionOffered(action, plat::OnPc())) continue;
    if (plat::FindLine(dialog, id, -1, GetSpecialActionName(action)) >= 0) continue;
    lines.push_back(record ? action : action - 1);
  }
  return lines;
}

// A device line number as the list shown numbers it.
int ShownLine(int device_line, const std::vector<int>& left_out) {
  int line = device_line;
  for (int missing : left_out) line -= missing < device_line ? 1 : 0;
  return line;
}

using plat::person::ActionKind;
using plat::person::ScreenKind;

// The product's own keys are below the platform's product root; the rest
// (the button table) where the device has them.
plat::RegRoot RootOf(const std::u16string& key) {
  const std::u16string product = kSettingsKey;
  const bool own = key.size() >= product.size() && plat::CompareNoCase(key.substr(0, product.size()), product) == 0 &&
                   (key.size() == product.size() || key[product.size()] == u'\\');
  return own ? plat::RegRoot::Product : plat::kButtonTableRoot;
}
constexpr char16_t kMainWindowClass[] = u"Velbrook_QuadrakeyMainWindowClassname";
// Leaving a program that will not go away: more attempts mean it is stuck.
constexpr int kMostEscapes = 20;

// For messages only.
std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

const char* ScreenName(ScreenKind kind) {
  switch (kind) {
    case ScreenKind::kNothing: return "nothing";
    case ScreenKind::kPageSet: return "the page set";
    case ScreenKind::kDialog: return "a dialog";
    case ScreenKind::kMessageBox: return "a message box";
    case ScreenKind::kFileDialog: return "the file-open dialog";
  }
  return "?";
}

std::string Describe(const plat::person::Screen& screen) {
  std::ostringstream out;
  out << ScreenName(screen.kind);
  if (screen.template_id != 0) out << " (template " << screen.template_id << ")";
  if (!screen.text.empty()) out << " \"" << Utf8(screen.text) << "\"";
  return out.str();
}

std::u16string StartMenuFolder() {
  std::u16string programs;
  if (!plat::GetProgramsFolder(&programs)) return u"{start}";
  while (!programs.empty() && (programs.back() == u'\\' || programs.back() == u'/')) programs.pop_back();
  const size_t cut = programs.find_last_of(u"\\/");
  return cut == std::u16string::npos ? programs : programs.substr(0, cut);
}

std::u16string AppFolder() {
  std::u16string own;
  return plat::GetProductFolder(plat::ProductFolder::Programs, &own) ? own : kScenarioAppFolder;
}

std::u16string ParentOf(const std::u16string& path) {
  const size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

class Runner {
 public:
  Runner(const Scenario& scenario, const ScenarioBackend& backend)
      : scenario_(scenario), backend_(backend), start_menu_(StartMenuFolder()), app_folder_(AppFolder()) {}

  void Run() {
    SetUpDevice();
    if (::testing::Test::HasFatalFailure()) return;
    log_path_ = GetLogFilePath(u"tapdeck.log");
    for (int op = 0; op < plat::faults::kOpCount; ++op)
      calls_before_[op] = plat::faults::Calls(static_cast<plat::faults::Op>(op));
    for (const Fault& fault : scenario_.setup.faults) Arm(fault);
    plat::person::SetIdleHook(&Runner::OnIdle, this);
    const int code = RunTapdeck();
    plat::person::SetIdleHook(nullptr, nullptr);
    EXPECT_EQ(code, scenario_.exit_code) << scenario_.name << ": exit code";
    SkipOtherBuildsSteps();
    EXPECT_EQ(next_, scenario_.steps.size())
        << scenario_.name << ": the program ended before step " << next_ + 1;
    CheckResults();
  }

 private:
  std::u16string Expand(const std::u16string& text) const {
    std::u16string out = text;
    const std::pair<std::u16string, const std::u16string*> fields[] = {{u"{start}", &start_menu_},
                                                                      {u"{app}", &app_folder_}};
    for (const auto& [field, value] : fields) {
      for (size_t at = out.find(field); at != std::u16string::npos; at = out.find(field, at)) {
        out.replace(at, field.size(), *value);
        at += value->size();
      }
    }
    return out;
  }

  bool Applies(On on) const { return on == On::kBoth || on == backend_.platform; }

  std::string Where() const {
    return scenario_.name + ", step " + std::to_string(next_);
  }

  // Steps left for the other build only do not count as left undone.
  void SkipOtherBuildsSteps() {
    while (next_ < scenario_.steps.size() && !Applies(scenario_.steps[next_].on)) ++next_;
  }

  // ---- Setup ----
  void SetUpDevice() {
    const Setup& setup = scenario_.setup;
    for (const std::u16string& folder : setup.folders) {
      ASSERT_TRUE(backend_.make_folder(Expand(folder))) << Utf8(Expand(folder));
    }
    for (const ButtonEntry& entry : setup.buttons) {
      const std::u16string key = std::u16string(plat::kButtonTableKey) + u"\\" + entry.key;
      if (entry.reset_command != nullptr) {
        ASSERT_TRUE(WriteRegString(plat::kButtonTableRoot, key, u"ResetCmd", Expand(entry.reset_command)));
      }
      if (entry.command != nullptr) {
        ASSERT_TRUE(WriteRegString(plat::kButtonTableRoot, key, u"", Expand(entry.command)));
      }
      if (entry.name != nullptr) {
        ASSERT_TRUE(WriteRegString(plat::kButtonTableRoot, key, u"Name", entry.name));
      }
    }
    for (const RegValue& value : setup.values) {
      const std::u16string key = value.key.empty() ? std::u16string(kSettingsKey) : value.key;
      if (value.type == ValueType::kText) {
        ASSERT_TRUE(WriteRegString(RootOf(key), key, value.name, Expand(value.text))) << Utf8(value.name);
      } else if (value.type == ValueType::kDword) {
        ASSERT_TRUE(WriteRegDword(RootOf(key), key, value.name, value.number)) << Utf8(value.name);
      } else {
        ADD_FAILURE() << scenario_.name << ": a fresh device has no value to remove (" << Utf8(value.name) << ")";
      }
    }
    for (const DeviceFile& file : setup.files) {
      const std::u16string path = Expand(file.path);
      const std::u16string parent = ParentOf(path);
      if (!parent.empty()) {
        ASSERT_TRUE(backend_.make_folder(parent)) << Utf8(parent);
      }
      if (file.shortcut) {
        ASSERT_TRUE(plat::CreateShortcut(path, Expand(file.content))) << Utf8(path);
        continue;
      }
      plat::TextFile stream = plat::OpenTextFile(path, "wt");
      ASSERT_NE(stream, nullptr) << Utf8(path);
      plat::WriteTextFile(stream, Expand(file.content));
      plat::CloseTextFile(stream);
    }
  }

  static void Arm(const Fault& fault) { plat::faults::FailCall(fault.op, fault.call, fault.error); }

  // ---- Steps ----
  static void OnIdle(void* context) { static_cast<Runner*>(context)->Idle(); }

  void Idle() {
    if (aborted_) {
      Escape();
      return;
    }
    while (next_ < scenario_.steps.size()) {
      const Step& step = scenario_.steps[next_++];
      if (!Applies(step.on)) continue;
      switch (step.kind) {
        case StepKind::kAct: {
          plat::person::Action action = step.action;
          action.text = Expand(action.text);
          std::u16string error;
          if (!plat::person::Act(action, &error)) {
            ADD_FAILURE() << Where() << ": the person could not act: " << Utf8(error) << " (in front: "
                          << Describe(plat::person::CurrentScreen()) << ")";
            aborted_ = true;
            Escape();
          }
          return;
        }
        case StepKind::kStartAgain:
          StartAgain();
          continue;
        case StepKind::kHotKey:
          TapdeckMainWindowProc(plat::FindTopLevelWindow(kMainWindowClass), plat::WindowEvent::kHotKey,
                                static_cast<uintptr_t>(step.number), 0);
          continue;
        case StepKind::kFail:
          Arm(step.fault);
          continue;
        case StepKind::kKey:
          backend_.press_key(static_cast<uint32_t>(step.number));
          return;  // the program takes the key before the next step
        default:
          Check(step);
          continue;
      }
    }
    ADD_FAILURE() << scenario_.name << ": the steps ran out while the program waits, showing "
                  << Describe(plat::person::CurrentScreen());
    aborted_ = true;
    Escape();
  }

  // Leaves whatever is in front, so that a failed scenario still ends.
  void Escape() {
    if (++escapes_ > kMostEscapes) return;
    const plat::person::Screen screen = plat::person::CurrentScreen();
    plat::person::Action action = Step::NoAction();
    action.kind = ActionKind::kCancel;
    if (screen.kind == ScreenKind::kMessageBox) action.kind = ActionKind::kAnswer;
    if (screen.kind == ScreenKind::kFileDialog) action.kind = ActionKind::kCancelFile;
    if (screen.kind == ScreenKind::kNothing) return;
    std::u16string ignored;
    plat::person::Act(action, &ignored);
  }

  void StartAgain() {
    const plat::Window first = plat::FindTopLevelWindow(kMainWindowClass);
    EXPECT_NE(first, 0u) << Where() << ": no main window to find";
    plat::SetForegroundWindow(plat::GetDesktopWindow());
    const std::string log_before = LogBytes();
    EXPECT_EQ(RunTapdeck(), 0) << Where() << ": exit code of the second start";
    // On a PC the first copy's sheet comes in front of its hidden main
    // window (the Wine test tapdeck_window_xvfb names it).
    const plat::Window front = plat::GetForegroundWindow();
    EXPECT_NE(front, plat::GetDesktopWindow()) << Where() << ": nothing came to the front";
    if (!plat::OnPc()) {
      EXPECT_EQ(front, first) << Where() << ": the first copy is not in front";
    }
    EXPECT_EQ(LogBytes(), log_before) << Where() << ": the second start touched the log";
  }

  void Check(const Step& step) {
    const plat::person::Screen screen = plat::person::CurrentScreen();
    const plat::Window dialog = screen.dialog;
    const int id = step.control;
    const std::u16string text = Expand(step.text);
    const std::string where = Where() + " (control " + std::to_string(id) + ")";
    switch (step.kind) {
      case StepKind::kScreen:
        EXPECT_EQ(screen.kind, step.screen) << Where() << ": in front is " << Describe(screen);
        if (step.number != 0) {
          EXPECT_EQ(screen.template_id, step.number) << Where();
        }
        break;
      case StepKind::kShown:
        EXPECT_TRUE(plat::IsControlShown(dialog, id)) << where << ": hidden";
        break;
      case StepKind::kHidden:
        EXPECT_FALSE(plat::IsControlShown(dialog, id)) << where << ": shown";
        break;
      case StepKind::kEnabled:
        EXPECT_TRUE(plat::IsControlEnabled(dialog, id)) << where << ": disabled";
        break;
      case StepKind::kDisabled:
        EXPECT_FALSE(plat::IsControlEnabled(dialog, id)) << where << ": enabled";
        break;
      case StepKind::kChecked:
        EXPECT_TRUE(plat::IsChecked(dialog, id)) << where << ": not checked";
        break;
      case StepKind::kUnchecked:
        EXPECT_FALSE(plat::IsChecked(dialog, id)) << where << ": checked";
        break;
      case StepKind::kSelected: {
        const int line = plat::GetSelectedLine(dialog, id);
        if (text.empty()) {
          EXPECT_EQ(line, -1) << where << ": selected \"" << Utf8(plat::GetLineText(dialog, id, line)) << "\"";
        } else {
          EXPECT_GE(line, 0) << where << ": nothing selected, expected \"" << Utf8(text) << "\"";
          if (line >= 0) {
            EXPECT_EQ(Utf8(plat::GetLineText(dialog, id, line)), Utf8(text)) << where;
          }
        }
        break;
      }
      case StepKind::kLineCount:
        EXPECT_EQ(plat::GetLineCount(dialog, id), step.number - static_cast<int>(LinesLeftOut(dialog, id).size()))
            << where;
        break;
      case StepKind::kLine: {
        const int count = plat::GetLineCount(dialog, id);
        const int line = step.number < 0 ? count + step.number : ShownLine(step.number, LinesLeftOut(dialog, id));
        EXPECT_TRUE(line >= 0 && line < count) << where << ": no line " << step.number;
        if (line >= 0 && line < count) {
          EXPECT_EQ(Utf8(plat::GetLineText(dialog, id, line)), Utf8(text)) << where;
        }
        break;
      }
      case StepKind::kNoLine:
        for (int line = 0; line < plat::GetLineCount(dialog, id); ++line) {
          EXPECT_NE(Utf8(plat::GetLineText(dialog, id, line)), Utf8(text)) << where << ": line " << line;
        }
        break;
      case StepKind::kSlider:
        EXPECT_EQ(plat::GetSliderPosition(dialog, id), step.number) << where;
        break;
      case StepKind::kTextStarts: {
        const std::u16string shown = plat::GetControlText(dialog, id);
        EXPECT_EQ(shown.rfind(text, 0), 0u) << where << ": shows \"" << Utf8(shown) << "\"";
        break;
      }
      case StepKind::kMessageBox:
        EXPECT_EQ(screen.kind, ScreenKind::kMessageBox) << Where() << ": in front is " << Describe(screen);
        EXPECT_EQ(Utf8(screen.text), Utf8(text)) << Where();
        EXPECT_EQ(Utf8(screen.caption), Utf8(Expand(step.caption))) << Where();
        EXPECT_EQ(screen.flags, static_cast<uint32_t>(step.number)) << Where();
        break;
      case StepKind::kFileDialog:
        EXPECT_EQ(screen.kind, ScreenKind::kFileDialog) << Where() << ": in front is " << Describe(screen);
        EXPECT_EQ(Utf8(screen.text), Utf8(text)) << Where();
        break;
      case StepKind::kRegistry:
        CheckValue(step.value, Where());
        break;
      case StepKind::kAct:
      case StepKind::kStartAgain:
      case StepKind::kHotKey:
      case StepKind::kFail:
      case StepKind::kKey:
        break;
    }
  }

  // ---- Results ----
  void CheckValue(const RegValue& value, const std::string& where) const {
    const std::u16string key = value.key.empty() ? std::u16string(kSettingsKey) : value.key;
    const std::string name = where + ": " + Utf8(key) + " \"" + Utf8(value.name) + "\"";
    std::u16string text;
    const bool is_text = ReadRegString(RootOf(key), key, value.name, text);
    uint32_t number = 0;
    const bool is_number = ReadRegDword(RootOf(key), key, value.name, number);
    switch (value.type) {
      case ValueType::kText:
        EXPECT_TRUE(is_text) << name << " is not stored as text";
        EXPECT_EQ(Utf8(text), Utf8(Expand(value.text))) << name;
        break;
      case ValueType::kDword:
        EXPECT_TRUE(is_number) << name << " is not stored as a number";
        EXPECT_EQ(number, value.number) << name;
        break;
      case ValueType::kMissing:
        EXPECT_FALSE(is_text || is_number) << name << " is stored (\"" << Utf8(text) << "\", " << number << ")";
        break;
    }
  }

  std::string LogBytes() const {
    std::string bytes;
    plat::TextFile file = plat::OpenTextFile(log_path_, "rt");
    if (file == nullptr) return "<no log>";
    plat::ReadTextFile(file, &bytes);
    plat::CloseTextFile(file);
    return bytes;
  }

  std::vector<std::u16string> LogLines() const {
    const std::u16string text = backend_.log_text(LogBytes());
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find(u'\n', start);
      if (end == std::u16string::npos) end = text.size();
      std::u16string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == u'\r') line.pop_back();
      lines.push_back(std::move(line));
      start = end + 1;
    }
    return lines;
  }

  void CheckResults() const {
    for (const CallCount& count : scenario_.calls) {
      const uint32_t made = plat::faults::Calls(count.op) - calls_before_[static_cast<int>(count.op)];
      EXPECT_EQ(made, count.calls) << scenario_.name << ": calls of " << plat::faults::Name(count.op);
    }
    for (const RegValue& value : scenario_.registry) {
      if (Applies(value.on)) CheckValue(value, scenario_.name + ", afterwards");
    }
    for (const FileCheck& check : scenario_.files) {
      if (!Applies(check.on)) continue;
      const std::u16string path = Expand(check.path);
      const bool exists = plat::GetFileAttributes(path) != plat::kInvalidFileAttributes;
      EXPECT_EQ(exists, check.exists) << scenario_.name << ": " << Utf8(path);
      if (exists && !check.shortcut_target.empty()) {
        std::u16string target;
        EXPECT_TRUE(backend_.shortcut_target(path, &target)) << scenario_.name << ": " << Utf8(path) << " is no shortcut";
        EXPECT_EQ(Utf8(target), Utf8(Expand(check.shortcut_target))) << scenario_.name << ": " << Utf8(path);
      }
    }
    if (scenario_.log.empty()) return;
    const std::vector<std::u16string> lines = LogLines();
    for (const LogCheck& check : scenario_.log) {
      if (!Applies(check.on)) continue;
      std::vector<std::u16string> wanted;
      for (const std::u16string& line : check.lines) wanted.push_back(Expand(line));
      bool found = false;
      for (size_t at = 0; !found && at + wanted.size() <= lines.size(); ++at) {
        found = true;
        for (size_t k = 0; found && k < wanted.size(); ++k) found = lines[at + k] == wanted[k];
      }
      std::string shown;
      for (const std::u16string& line : wanted) shown += "\n  |" + Utf8(line);
      if (check.absent) {
        EXPECT_FALSE(found) << scenario_.name << ": tapdeck.log holds" << shown;
      } else {
        EXPECT_TRUE(found) << scenario_.name << ": tapdeck.log lacks" << shown;
      }
    }
  }

  const Scenario& scenario_;
  const ScenarioBackend& backend_;
  const std::u16string start_menu_;
  const std::u16string app_folder_;
  std::u16string log_path_;
  uint32_t calls_before_[plat::faults::kOpCount] = {};
  size_t next_ = 0;
  bool aborted_ = false;
  int escapes_ = 0;
};

}  // namespace

void RunScenario(const Scenario& scenario, const ScenarioBackend& backend) {
  Runner runner(scenario, backend);
  runner.Run();
}

}  // namespace tapdeck_scenario
