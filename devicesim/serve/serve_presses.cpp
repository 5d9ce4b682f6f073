#include "devicesim/serve/serve_presses.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "devicesim/shell/press.h"
#include "shared/press_rule.h"
#include "shared/special_actions.h"
#include "shared/text.h"

namespace devicesim::serve {
namespace {

constexpr int64_t kDesktopWindow = 0x10010;  // the Today screen
constexpr size_t kMaxReportBytes = 64 * 1024;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool SameText(const std::string& a, const std::string& b) {
  return plat::CompareNoCase(device::FromUtf8(a), device::FromUtf8(b)) == 0;
}

std::string FileName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%02llX", static_cast<unsigned long long>(value));
  return text;
}

struct Slot {
  const char* key;    // as ButtonsJson names the assignments
  const char* words;
};
Slot SlotOf(int32_t count, bool hold) {
  if (count >= 2) return hold ? Slot{"doubleHold", "double press and hold"} : Slot{"double", "double press"};
  return hold ? Slot{"hold", "press and hold"} : Slot{"single", "single press"};
}

std::string Ordinal(size_t press, size_t presses) {
  static const char* const kWords[] = {"first", "second", "third", "fourth", "fifth", "sixth"};
  if (presses == 1) return "the press";
  if (press >= 1 && press <= 6) return std::string("the ") + kWords[press - 1] + " press";
  return "press " + std::to_string(press);
}

// The special action a launcher's key event stands for, or nullptr.
const SpecialActionRow* KeyAction(int64_t vk) {
  return vk >= 0 && vk <= 0xFF ? FindKeyAction(static_cast<int>(vk)) : nullptr;
}

bool StartsWith(const std::string& text, const char16_t* start) {
  return text.rfind(device::ToUtf8(start), 0) == 0;
}

std::string Text(const Json& fields, const char* name) {
  return fields.is_object() && fields.contains(name) && fields[name].is_string() ? fields[name].get<std::string>()
                                                                                  : std::string();
}
int64_t Number(const Json& fields, const char* name, int64_t fallback = 0) {
  return fields.is_object() && fields.contains(name) && fields[name].is_number_integer() ? fields[name].get<int64_t>()
                                                                                          : fallback;
}
bool Flag(const Json& fields, const char* name) {
  return fields.is_object() && fields.contains(name) && fields[name].is_boolean() && fields[name].get<bool>();
}

}  // namespace

bool ParseClosingReport(const std::string& text, ClosingReport* report) {
  std::istringstream lines(text);
  std::string first, shortcut, app, no_exe, no_cmdline, result, extra;
  if (!std::getline(lines, first) || !std::getline(lines, shortcut) || !std::getline(lines, app) ||
      !std::getline(lines, no_exe) || !std::getline(lines, no_cmdline) || !std::getline(lines, result) ||
      std::getline(lines, extra))
    return false;
  long button = 0, count = 0, hold = 0;
  char end = 0;
  if (std::sscanf(first.c_str(), "Launch button %ld, press %ld, hold %ld%c", &button, &count, &hold, &end) != 3)
    return false;
  const std::string kShortcut = "  shortcut: ";
  if (shortcut.rfind(kShortcut, 0) != 0 || app.rfind("  app: ", 0) != 0 || no_exe != "  (no exe)" ||
      no_cmdline != "  (no cmdline)")
    return false;
  if (result != "Success" && result.rfind("Error: ", 0) != 0) return false;
  if (button < 0 || (count != 1 && count != 2) || (hold != 0 && hold != 1)) return false;
  report->button = static_cast<uint32_t>(button);
  report->press_count = static_cast<int32_t>(count);
  report->hold = hold == 1;
  report->shortcut = shortcut.substr(kShortcut.size());
  report->success = result == "Success";
  return true;
}

std::optional<ClosingReport> ReadClosingReport() {
  std::string path = device::HostPath(GetAppFolderPath(u"launch.log"));
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || static_cast<size_t>(info.st_size) > kMaxReportBytes)
    return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ClosingReport report;
  if (!ParseClosingReport(text, &report)) return std::nullopt;
  report.written_ms = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
  return report;
}

// ---- Following the journal -----------------------------------------------------------

void PressTimeline::SetButtons(const Json& buttons) { buttons_ = buttons; }

PressTimeline::Press* PressTimeline::FindPress(int64_t id) {
  for (Press& press : presses_)
    if (press.id == id) return &press;
  return nullptr;
}

PressTimeline::Launcher* PressTimeline::LauncherOf(int64_t pid) {
  auto owner = owner_.find(pid);
  auto launcher = launchers_.find(owner != owner_.end() ? owner->second : pid);
  return launcher != launchers_.end() ? &launcher->second : nullptr;
}

void PressTimeline::Follow(const device::JournalEntry& entry, const Json& fields) {
  if (entry.event == "button") {
    std::string name = Upper(Text(fields, "name"));
    pressing_.erase(entry.pid);
    if (Flag(fields, "down")) {
      Press press;
      press.id = entry.id;
      press.entry = name;
      press.down_t = entry.t_ms;
      const Json fallback(press_rule::kDefaultIntervalMs);
      press.settings = Json{{"holdInterval", fallback}, {"dblClickInterval", fallback}, {"button", nullptr}};
      if (buttons_.is_object()) {
        press.settings["holdInterval"] = buttons_.value("holdInterval", fallback);
        press.settings["dblClickInterval"] = buttons_.value("dblClickInterval", fallback);
        if (buttons_.contains("buttons") && buttons_["buttons"].is_array())
          for (const Json& button : buttons_["buttons"])
            if (button.is_object() && SameText(button.value("entry", std::string()), name)) {
              press.settings["button"] = button;
              // A button with intervals of its own is read by them.
              press.settings["holdInterval"] = button.value("holdInterval", press.settings["holdInterval"]);
              press.settings["dblClickInterval"] = button.value("dblClickInterval", press.settings["dblClickInterval"]);
            }
      }
      presses_.push_back(std::move(press));
      pressing_[entry.pid] = entry.id;
      // Processes that pressed and went without a word are forgotten, oldest press first.
      if (pressing_.size() > kKeptPresses)
        pressing_.erase(std::min_element(pressing_.begin(), pressing_.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; }));
      if (presses_.size() > kKeptPresses) {
        int64_t gone = presses_.front().launcher;
        presses_.pop_front();
        launchers_.erase(gone);
        for (auto owned = owner_.begin(); owned != owner_.end();)
          owned = owned->second == gone ? owner_.erase(owned) : std::next(owned);
      }
    } else {
      for (auto press = presses_.rbegin(); press != presses_.rend(); ++press) {
        if (press->entry != name || press->up_id != 0) continue;
        press->up_id = entry.id;
        press->up_t = entry.t_ms;
        break;
      }
    }
    changed_ = true;
    return;
  }

  // What the shell does for a press: start the launcher, or run the command.
  auto pressing = pressing_.find(entry.pid);
  if (pressing != pressing_.end() && (entry.event == "start" || entry.event == "open")) {
    Press* press = FindPress(pressing->second);
    if (press == nullptr) return;
    int64_t child = Number(fields, "child");
    if (entry.event == "start" && child != 0 && SameText(FileName(Text(fields, "program")), "TapdeckX.exe") &&
        press->launcher == 0) {
      press->launcher = child;
      Launcher launcher;
      launcher.pid = child;
      launcher.button = static_cast<uint32_t>(TextToLong(device::FromUtf8(Text(fields, "args"))));
      launcher.started_t = entry.t_ms;
      launchers_[child] = launcher;
      owner_.erase(child);
    } else if (press->launcher == 0 && !press->shell_done) {
      press->shell.push_back(Action{entry.id, entry.t_ms, entry.event, fields, true});
      press->shell_done = true;
    }
    if (entry.event == "open") pressing_.erase(pressing);
    changed_ = true;
    return;
  }

  // What a launcher, or a program it started, did.
  Launcher* launcher = LauncherOf(entry.pid);
  if (launcher == nullptr || launcher->ended) return;
  if (entry.event == "start" && Number(fields, "child") != 0) owner_[Number(fields, "child")] = launcher->pid;
  launcher->actions.push_back(Action{entry.id, entry.t_ms, entry.event, fields, entry.pid == launcher->pid});
  changed_ = true;
}

std::vector<int64_t> PressTimeline::Running() const {
  std::vector<int64_t> running;
  for (const auto& [pid, launcher] : launchers_)
    if (!launcher.ended) running.push_back(pid);
  return running;
}

void PressTimeline::Ended(int64_t pid, int64_t t_ms, const std::optional<ClosingReport>& report) {
  auto found = launchers_.find(pid);
  if (found == launchers_.end() || found->second.ended) return;
  Launcher& launcher = found->second;
  launcher.ended = true;
  launcher.ended_t = t_ms;
  changed_ = true;
  // The report names its button; written after this launcher started and not
  // told to another, it is this launcher's. Of launchers that end together,
  // the latest started is asked first (a series' last press dispatches).
  if (!report || report->button != launcher.button || report->written_ms + 2 < launcher.started_t) return;
  auto key = std::make_pair(report->written_ms, std::to_string(report->press_count) + (report->hold ? "h" : "") +
                                                    report->shortcut);
  if (!claimed_.insert(key).second) return;
  if (claimed_.size() > 4 * kKeptPresses) claimed_.erase(claimed_.begin());
  launcher.report = report;
}

bool PressTimeline::TakeChanged() {
  bool changed = changed_;
  changed_ = false;
  return changed;
}

// ---- The series --------------------------------------------------------------------------

// When a launcher acted, and how: its first own entry that a person would
// notice, or, with none, its closing report.
struct PressTimeline::Decision {
  const Launcher* launcher = nullptr;
  int64_t id = 0;  // the acting entry's; 0 when only the report tells
  int64_t t = 0;

  static Decision Of(const Launcher* launcher) {
    Decision decision;
    if (launcher == nullptr) return decision;
    for (const Action& action : launcher->actions) {
      if (!action.own) continue;
      decision = Decision{launcher, action.id, action.t};
      return decision;
    }
    if (launcher->report) decision = Decision{launcher, 0, launcher->report->written_ms};
    return decision;
  }
  bool Acted() const { return launcher != nullptr; }
  // True when `press` came after this decision: it starts a new series.
  bool Before(const Press& press) const { return id != 0 ? id < press.id : t <= press.down_t; }
};

Json PressTimeline::SeriesOf(const std::vector<const Press*>& presses) const {
  const Press& first = *presses.front();
  const Json& button = first.settings["button"];
  const int64_t hold_ms = Number(first.settings, "holdInterval", press_rule::kDefaultIntervalMs);
  Json series{{"id", first.id},
              {"entry", first.entry},
              {"name", button.is_object() ? button.value("name", first.entry) : first.entry},
              {"index", button.is_object() ? button.value("index", Json(nullptr)) : Json(nullptr)},
              {"takenOver", first.launcher != 0},
              {"holdInterval", first.settings["holdInterval"]},
              {"dblClickInterval", first.settings["dblClickInterval"]},
              {"assignments", button.is_object() ? button.value("assignments", Json::object()) : Json::object()},
              {"start", first.down_t}};

  // The acting launcher: the first that did anything.
  Decision decision;
  size_t actor_press = 0;
  for (size_t i = 0; i < presses.size(); ++i) {
    auto launcher = launchers_.find(presses[i]->launcher);
    Decision candidate = Decision::Of(launcher != launchers_.end() ? &launcher->second : nullptr);
    if (candidate.Acted() && (!decision.Acted() || candidate.t < decision.t)) {
      decision = candidate;
      actor_press = i;
    }
  }

  Json press_list = Json::array();
  bool waiting = false;
  for (const Press* press : presses) {
    auto found = launchers_.find(press->launcher);
    const Launcher* launcher = found != launchers_.end() ? &found->second : nullptr;
    std::string outcome = "none";
    if (press->launcher == 0) {
      outcome = press->shell.empty() ? "none" : "shell";
    } else if (decision.Acted() && decision.launcher == launcher) {
      outcome = "acted";
    } else if (launcher != nullptr && !launcher->ended) {
      outcome = "waiting";
      waiting = true;
    } else {
      outcome = decision.Acted() ? "gave way" : "ended";
    }
    press_list.push_back(Json{{"down", press->down_t},
                              {"up", press->up_id != 0 ? Json(press->up_t) : Json(nullptr)},
                              {"pid", press->launcher != 0 ? Json(press->launcher) : Json(nullptr)},
                              {"outcome", outcome},
                              {"ended", launcher != nullptr && launcher->ended ? Json(launcher->ended_t) : Json(nullptr)}});
  }
  series["presses"] = press_list;

  // A button not taken over: the shell ran its command, or could not.
  if (first.launcher == 0) {
    series["state"] = "shell";
    series["decision"] = nullptr;
    if (first.shell.empty()) {
      // A key outside the table (a volume or side key) is never the shell's.
      series["summary"] = EntryVirtualKey(device::FromUtf8(first.entry)) < 0
                              ? "outside the button table: the key goes to the program in front, or to one that holds it"
                              : "not taken over: the shell started nothing";
    } else {
      const Action& ran = first.shell.front();
      std::string what = Text(ran.fields, ran.event == "start" ? "program" : "file");
      series["shell"] = Json{{"t", ran.t}, {"event", ran.event}, {"what", what}};
      series["summary"] = "not taken over: the shell " + std::string(ran.event == "start" ? "started " : "opened ") +
                          FileName(what) + ", " + std::to_string(ran.t - first.down_t) + " ms after the press";
    }
    return series;
  }

  if (!decision.Acted()) {
    series["state"] = waiting ? "waiting" : "nothing";
    series["decision"] = nullptr;
    series["summary"] = waiting ? "waiting: TapdeckX is timing the press"
                                : "nothing dispatched: every launcher ended without acting";
    return series;
  }

  // What the launcher did, in words.
  const Launcher& actor = *decision.launcher;
  const Press& acting = *presses[actor_press];
  std::string kind, action, effect, file;
  for (const Action& a : actor.actions) {
    if (!a.own) continue;
    if (a.event == "open") {
      file = Text(a.fields, "file");
      bool ok = Flag(a.fields, "ok");
      kind = ok ? "launch" : "refused";
      action = FileName(file);
      effect = ok ? "opened " + file : "could not open " + file + " (error " + std::to_string(Number(a.fields, "error")) + ")";
      break;
    }
  }
  if (kind.empty()) {
    for (const Action& a : actor.actions) {
      if (!a.own) continue;
      std::string text = Text(a.fields, "text");
      if (a.event == "message" && StartsWith(text, kMissingAssignmentText)) {
        kind = "missing";
        file = actor.report ? actor.report->shortcut : std::string();
        action = file.empty() ? "a missing file" : FileName(file);
        effect = "not found: the launcher showed the missing-file message";
      } else if (a.event == "message" && StartsWith(text, kTooLongAssignmentText)) {
        kind = "too long";
        action = actor.report ? FileName(actor.report->shortcut) : "a path";
        effect = "too long a path: the launcher said so";
      } else if (a.event == "start" && SameText(FileName(Text(a.fields, "program")), device::ToUtf8(kRotationProgram))) {
        kind = "special";
        action = device::ToUtf8(GetSpecialActionName(SpecialAction::kRotateScreen));
        effect = "started Turnscreen " + Text(a.fields, "args");
        for (const Action& turned : actor.actions)
          if (turned.event == "display" && Flag(turned.fields, "ok"))
            effect += "; the screen turned to " + std::to_string(Number(turned.fields, "orientation")) + "°";
      } else if (a.event == "start") {
        kind = "launch";  // its open entry follows when the start was a shell launch
        file = Text(a.fields, "program");
        action = FileName(file);
        effect = "started " + file;
      } else if (a.event == "foreground") {
        kind = "special";
        action = device::ToUtf8(GetSpecialActionName(SpecialAction::kToday));
        int64_t window = Number(a.fields, "window");
        effect = window == kDesktopWindow ? "the Today screen came to the front"
                                          : "window " + std::to_string(window) + " came to the front";
      } else if (a.event == "sip") {
        kind = "special";
        action = device::ToUtf8(GetSpecialActionName(SpecialAction::kInputPanel));
        effect = Flag(a.fields, "shown") ? "the input panel came up" : "the input panel went down";
      } else if (a.event == "key" && KeyAction(Number(a.fields, "vk", -1)) != nullptr) {
        kind = "special";
        const SpecialActionRow& row = *KeyAction(Number(a.fields, "vk", -1));
        action = device::ToUtf8(row.name);
        effect = "key " + Hex(row.key) + (row.effect == ActionEffect::kKeyDownOnly ? " down, and no key up" : " down and up");
      } else {
        continue;
      }
      break;
    }
  }
  if (kind.empty() && actor.report) {
    const std::string& assigned = actor.report->shortcut;
    if (assigned.empty()) {
      kind = "unassigned";
      action = "nothing";
      effect = "the slot is unassigned";
    } else {
      kind = "special";
      action = assigned;
      const int index = FindSpecialAction(device::FromUtf8(assigned));
      effect = index >= 0 && kSpecialActions[index].effect == ActionEffect::kNothing ? "nothing, as assigned"
                                                                                     : "as the assignment says";
    }
  }
  if (kind.empty()) {
    kind = "other";
    action = actor.actions.empty() ? "something" : actor.actions.front().event;
    effect = "";
  }

  // The slot: the report names it; else the press count is the acting
  // press's place in the series, and the held or not held slot the one
  // that holds what was done, or the launcher's own rule where both or
  // neither do.
  int32_t count = 1;
  bool hold = false;
  std::string source;
  const size_t place = actor_press + 1;
  if (actor.report) {
    count = actor.report->press_count;
    hold = actor.report->hold;
    source = "report";
  } else {
    count = place >= 2 ? 2 : 1;
    const Json& assignments = series["assignments"];
    auto holds = [&](bool held) {
      std::string assigned = Text(assignments, SlotOf(count, held).key);
      if (assigned.empty()) return false;
      return kind == "special" ? SameText(assigned, action) : (!file.empty() && SameText(assigned, file));
    };
    bool held = holds(true), not_held = holds(false);
    if (place >= 3) {
      hold = true;
    } else if (held != not_held) {
      hold = held;
    } else {
      bool waited = decision.t - acting.down_t >= hold_ms / 2;
      bool still_down = acting.up_id == 0 || (decision.id != 0 ? acting.up_id > decision.id : acting.up_t > decision.t);
      hold = waited && still_down;
    }
    source = "journal";
  }
  Slot slot = SlotOf(count, hold);
  const int64_t delay = decision.t - acting.down_t;
  series["state"] = "decided";
  series["decision"] = Json{{"t", decision.t},     {"press", place},     {"pid", actor.pid},
                            {"slot", slot.key},    {"count", count},     {"hold", hold},
                            {"slotWords", slot.words}, {"kind", kind},   {"action", action},
                            {"effect", effect},    {"delay", delay},     {"source", source}};
  series["summary"] = std::string(slot.words) + " → " + (kind == "unassigned" ? "nothing (unassigned)" : action) +
                      ", " + std::to_string(delay) + " ms after " + Ordinal(place, presses.size());
  return series;
}

Json PressTimeline::SeriesJson() const {
  // Presses of one button make one series until a launcher acts: a press
  // after that, or after every launcher of the series ended without acting,
  // starts the next, as the launchers' press counter does.
  std::vector<std::vector<const Press*>> groups;
  std::map<std::string, size_t> open;
  for (const Press& press : presses_) {
    auto current = open.find(press.entry);
    bool joins = false;
    if (current != open.end() && press.launcher != 0 && groups[current->second].front()->launcher != 0) {
      const std::vector<const Press*>& group = groups[current->second];
      Decision decision;
      bool all_ended = true;
      int64_t last_end = 0;
      for (const Press* member : group) {
        auto launcher = launchers_.find(member->launcher);
        if (launcher == launchers_.end()) continue;
        Decision candidate = Decision::Of(&launcher->second);
        if (candidate.Acted() && (!decision.Acted() || candidate.t < decision.t)) decision = candidate;
        all_ended = all_ended && launcher->second.ended;
        last_end = std::max(last_end, launcher->second.ended_t);
      }
      joins = decision.Acted() ? !decision.Before(press) : !(all_ended && last_end <= press.down_t);
    }
    if (joins) {
      groups[current->second].push_back(&press);
    } else {
      groups.push_back({&press});
      open[press.entry] = groups.size() - 1;
    }
  }
  Json series = Json::array();
  size_t from = groups.size() > kShownSeries ? groups.size() - kShownSeries : 0;
  for (size_t i = from; i < groups.size(); ++i) series.push_back(SeriesOf(groups[i]));
  return series;
}

}  // namespace devicesim::serve
