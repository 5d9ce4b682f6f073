#include "devicesim/serve/serve_views.h"

#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>

#include "config/model/button_rows.h"
#include "config/model/launch_buttons.h"
#include "devicesim/shell/press.h"
#include "devicesim/cli/report.h"
#include "shared/button_model.h"
#include "shared/press_rule.h"
#include "shared/settings.h"
#include "shared/special_actions.h"

namespace devicesim::serve {
namespace {

constexpr int kVkOff = 0xDF;
// Past this many the oldest launcher processes are forgotten; they ended long ago.
constexpr size_t kMaxFollowedProcesses = 4096;

std::string Utf8(const std::u16string& text) { return device::ToUtf8(text); }

std::u16string FileName(const std::u16string& path) {
  size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

std::u16string TextOf(const std::string& data) {
  std::u16string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                       (static_cast<unsigned char>(data[i + 1]) << 8));
    if (c == u'\0') break;
    text += c;
  }
  return text;
}

// The settings key's values, looked up as the registry does: any letter case.
class SettingsValues {
 public:
  SettingsValues() { device::ListValues(plat::RegRoot::LocalMachine, kSettingsKey, &values_); }
  const device::RegValue* Find(const std::u16string& name) const {
    if (name.empty()) return nullptr;
    for (const device::RegValue& value : values_)
      if (plat::CompareNoCase(value.name, name) == 0) return &value;
    return nullptr;
  }
  std::string Text(const std::u16string& name) const {
    const device::RegValue* value = Find(name);
    return value != nullptr && value->type == plat::kRegSz ? Utf8(TextOf(value->data)) : std::string();
  }
  Json Dword(const std::u16string& name, uint32_t fallback) const {
    const device::RegValue* value = Find(name);
    if (value == nullptr || value->type != plat::kRegDword || value->data.size() != 4) return fallback;
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value->data[i]);
    return number;
  }

 private:
  std::vector<device::RegValue> values_;
};

}  // namespace

std::unique_lock<std::mutex> LockDevice() {
  static std::mutex device;
  return std::unique_lock<std::mutex>(device);
}

std::string Dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json EntryJson(const device::JournalEntry& entry) {
  Json fields = Json::parse("{" + entry.fields + "}", nullptr, false);
  if (fields.is_discarded() || !fields.is_object()) fields = Json{{"text", entry.fields}};
  return Json{{"id", entry.id}, {"t", entry.t_ms}, {"pid", entry.pid}, {"event", entry.event},
              {"fields", std::move(fields)}};
}

void PressFollower::ExcludeOwnStarts(int64_t after, int64_t upto) {
  if (upto > after) own_starts_.emplace_back(after, upto);
}

std::string PressFollower::ProgramOf(int64_t pid) const {
  if (pid == static_cast<int64_t>(getpid())) return "devicesim serve";
  auto known = programs_.find(pid);
  return known != programs_.end() ? known->second : std::string();
}

void PressFollower::Follow(const device::JournalEntry& entry, const Json& fields) {
  while (!own_starts_.empty() && own_starts_.front().second < entry.id) own_starts_.erase(own_starts_.begin());
  if (programs_.size() >= kMaxFollowedProcesses) programs_.clear();
  if (entry.event == "start" && fields.contains("child") && fields["child"].is_number_integer())
    programs_[fields["child"].get<int64_t>()] = Utf8(FileName(device::FromUtf8(fields.value("program", std::string()))));
  else if (entry.event == "button" && programs_.count(entry.pid) == 0)
    programs_[entry.pid] = "devicesim";
  if (entry.event == "button") {
    bool down = fields.value("down", false);
    if (down) {
      ++pressing_[entry.pid];
      display_on_ = true;  // a button wakes the device
    } else if (pressing_.count(entry.pid) != 0 && --pressing_[entry.pid] <= 0) {
      pressing_.erase(entry.pid);
    }
    return;
  }
  if (entry.event == "key") {
    if (fields.value("vk", -1) == kVkOff && !fields.value("up", true)) display_on_ = !display_on_;
    return;
  }
  if (entry.event != "start") return;
  bool own = entry.pid == static_cast<int64_t>(getpid());
  for (const auto& [after, upto] : own_starts_)
    if (own && entry.id > after && entry.id <= upto) return;
  if (pressing_.count(entry.pid) == 0 && started_by_press_.count(entry.pid) == 0) return;
  if (fields.contains("child") && fields["child"].is_number_integer()) {
    if (started_by_press_.size() >= kMaxFollowedProcesses) started_by_press_.clear();
    started_by_press_.insert(fields["child"].get<int64_t>());
  }
  std::string program = fields.value("program", std::string());
  // The launcher is how a press acts, not what it starts.
  if (plat::CompareNoCase(FileName(device::FromUtf8(program)), u"TapdeckX.exe") == 0) return;
  last_started_ = Json{{"program", program}, {"args", fields.value("args", std::string())},
                       {"t", entry.t_ms}, {"pid", entry.pid}};
}

Json DeviceJson(const PressFollower& follower) {
  device::DisplayState display{plat::kDmdo0, true};
  std::vector<int> down;
  bool sip = false;
  plat::Window foreground = 0;
  // A state that cannot be read is said so, not shown as a device at rest.
  if (!device::GetDisplay(&display) || !device::KeysDown(&down) || !device::IsSipShown(&sip) ||
      !device::Foreground(&foreground))
    return Json{{"error", "cannot read the device's state: " + device::ErrorText(plat::GetLastError())}};
  Json keys = Json::array();
  for (int key : down) keys.push_back(key);
  Json program = nullptr;
  std::vector<device::WindowRecord> windows = device::LiveWindows();
  if (!windows.empty()) {
    const device::WindowRecord& newest = windows.back();
    program = Json{{"pid", newest.pid}, {"title", Utf8(newest.title)}, {"class", Utf8(newest.class_name)}};
  }
  return Json{{"orientation", OrientationDegrees(display.orientation)},
              {"rotationSupported", display.rotation_supported},
              {"sip", sip},
              {"keysDown", keys},
              {"foreground", static_cast<int64_t>(foreground)},
              {"program", program},
              {"lastStarted", follower.LastStarted()},
              {"displayOn", follower.DisplayOn()}};
}

// The special actions and what each visibly does, as the launcher carries
// them out: the page names a launcher's key, window or start by them.
Json ActionsJson() {
  Json actions = Json::array();
  for (const SpecialActionRow& row : kSpecialActions) {
    const char* effect = "open";
    switch (row.effect) {
      case ActionEffect::kOpenAssignment: effect = "open"; break;
      case ActionEffect::kShowToday: effect = "today"; break;
      case ActionEffect::kToggleInputPanel: effect = "inputPanel"; break;
      case ActionEffect::kKeyPress: effect = "key"; break;
      case ActionEffect::kKeyDownOnly: effect = "keyDown"; break;
      case ActionEffect::kStartRotation: effect = "start"; break;
      case ActionEffect::kNothing: effect = "nothing"; break;
    }
    Json action{{"name", Utf8(row.name)}, {"effect", effect}};
    if (row.key != 0) action["key"] = row.key;
    if (row.effect == ActionEffect::kStartRotation) action["program"] = Utf8(kRotationProgram);
    actions.push_back(action);
  }
  return actions;
}

Json ButtonsJson() {
  LaunchButtons table;
  SettingsValues settings;
  Json buttons = Json::array();
  // The intervals a button's presses are read by, as the launcher reads them.
  const auto interval = [&settings](const ButtonSetting& setting, uint32_t button) {
    const Json global = settings.Dword(setting.global_name, setting.default_value);
    return settings.Dword(ButtonSettingName(setting, button), global.get<uint32_t>());
  };
  for (const ButtonRow& row : ReadButtonRows(table)) {
    const uint32_t button = static_cast<uint32_t>(row.index);
    const Json enabled = settings.Dword(ButtonSettingName(kEnabledSetting, button), kEnabledSetting.default_value);
    buttons.push_back(Json{
        {"index", row.index},
        {"holdInterval", interval(kHoldIntervalSetting, button)},
        {"dblClickInterval", interval(kDoubleIntervalSetting, button)},
        {"letter", Utf8(std::u16string(1, row.letter))},
        {"entry", Utf8(row.entry)},
        {"name", Utf8(row.name)},
        {"title", Utf8(row.title)},
        {"vk", EntryVirtualKey(row.entry)},
        {"command", Utf8(row.command)},
        {"takenOver", row.taken_over},
        {"enabled", enabled.get<uint32_t>() != 0},
        {"assignments",
         Json{{"single", settings.Text(SlotValueName(button, 1, false))},
              {"hold", settings.Text(SlotValueName(button, 1, true))},
              {"double", settings.Text(SlotValueName(button, 2, false))},
              {"doubleHold", settings.Text(SlotValueName(button, 2, true))}}}});
  }
  const std::u16string* record = table.GetRecordCommand();
  // A table read with gaps numbers its buttons otherwise: the page says so.
  return Json{{"buttons", buttons},
              {"readError", table.ReadError()},
              {"holdInterval", settings.Dword(kHoldIntervalSetting.global_name, kHoldIntervalSetting.default_value)},
              {"dblClickInterval",
               settings.Dword(kDoubleIntervalSetting.global_name, kDoubleIntervalSetting.default_value)},
              {"recordCommand", record != nullptr ? Json(Utf8(*record)) : Json(nullptr)},
              {"actions", ActionsJson()}};
}

Json KeysJson(const Json& buttons) {
  Json keys = Json::array();
  std::set<int> table_keys;
  if (buttons.is_object() && buttons.contains("buttons") && buttons["buttons"].is_array()) {
    for (const Json& b : buttons["buttons"]) {
      table_keys.insert(b.value("vk", -1));
      std::string entry = b.value("entry", std::string()), name = b.value("name", std::string());
      keys.push_back(Json{{"id", entry}, {"kind", "button"}, {"place", "front"}, {"vk", b.value("vk", -1)},
                          {"label", name},
                          {"title", name + " (" + entry + ")" + (b.value("takenOver", false) ? ", taken over by Quadrakey" : "")}});
    }
  }
  // The device's other keys: the shell does not take them, so a press goes
  // to a hot key's owner or the foreground window.
  std::vector<device::DeviceKey> device_keys;
  if (device::DeviceKeys(&device_keys)) {
    for (const device::DeviceKey& key : device_keys) {
      if (table_keys.count(key.virtual_key) != 0 || key.virtual_key == kVkOff) continue;
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", key.virtual_key);
      const std::string name = Utf8(key.name);
      keys.push_back(Json{{"id", code}, {"kind", "key"}, {"place", "side"}, {"vk", key.virtual_key}, {"label", name},
                          {"title", name + " (" + code + "), not in the button table"}});
    }
  }
  keys.push_back(Json{{"id", "power"}, {"kind", "power"}, {"place", "top"}, {"vk", kVkOff}, {"label", "Power key"},
                      {"title", "Power key (0xDF)"}});
  return keys;
}

}  // namespace devicesim::serve
