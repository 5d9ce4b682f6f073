#include "shared/button_model.h"

#include <algorithm>
#include <limits>
#include <list>

#include "platform/platform.h"
#include "shared/press_rule.h"
#include "shared/settings.h"

namespace {

constexpr uint32_t kAnyNumber = std::numeric_limits<uint32_t>::max();
// The key "<Rotate Screen>" keeps its parameters under.
constexpr char16_t kRotateScreenKey[] = u"RotateScreen";

constexpr ButtonSetting Assignment(const char16_t* name, int32_t press_count, bool hold) {
  return {ButtonValueKind::kAssignment, name, press_count, hold, 0, 0, 0, nullptr, true};
}
constexpr ButtonSetting Rotation(const char16_t* name, int32_t press_count, bool hold) {
  return {ButtonValueKind::kRotation, name, press_count, hold, 0, 0, 0, nullptr, true};
}
constexpr ButtonSetting Number(const char16_t* name, uint32_t default_value, uint32_t minimum, uint32_t maximum,
                               const char16_t* global_name = nullptr) {
  return {ButtonValueKind::kDword, name, 0, false, default_value, minimum, maximum, global_name, true};
}

// One value: read without changing `value` when it is missing or not a
// number.
bool ReadNumber(const std::u16string& name, uint32_t& value) {
  return !name.empty() && ReadRegDword(plat::RegRoot::Product, kSettingsKey, name, value);
}

}  // namespace

// ---- The shell's button table ---------------------------------------------------

bool CommandMeansReset(const std::u16string& command) { return command.empty() || command == u"\"\""; }

int EntryVirtualKey(const std::u16string& entry) {
  if (entry.empty() || entry.size() > 8) return -1;
  unsigned long code = 0;
  for (char16_t c : entry) {
    const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                      : c >= u'a' && c <= u'f' ? c - u'a' + 10
                      : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                               : -1;
    if (digit < 0) return -1;
    code = code * 16 + static_cast<unsigned long>(digit);
  }
  return static_cast<int>(code & 0xFF);
}

std::u16string ButtonTableEntry::Entry() const { return key_path.substr(key_path.find_last_of(u'\\') + 1); }

bool ButtonTableEntry::IsButton() const {
  return !reset_command.empty() && name.find(u"(Hold)") == std::u16string::npos;
}

std::vector<const ButtonTableEntry*> ButtonTable::Buttons() const {
  std::vector<const ButtonTableEntry*> buttons;
  for (const ButtonTableEntry& entry : entries)
    if (entry.IsButton()) buttons.push_back(&entry);
  std::stable_sort(buttons.begin(), buttons.end(),
                   [](const ButtonTableEntry* a, const ButtonTableEntry* b) { return a->name < b->name; });
  return buttons;
}

ButtonTable ReadButtonTable() {
  ButtonTable table;
  std::list<std::u16string> key_paths;
  if (!ListRegSubkeys(plat::kButtonTableRoot, plat::kButtonTableKey, true, key_paths)) {
    const uint32_t error = plat::GetLastError();
    if (error != plat::kErrorFileNotFound) table.read_error = error == 0 ? plat::kErrorGenFailure : error;
  }
  for (const std::u16string& key_path : key_paths) {
    ButtonTableEntry entry;
    entry.key_path = key_path;
    const struct {
      const char16_t* name;
      std::u16string* value;
    } values[] = {{u"ResetCmd", &entry.reset_command}, {u"", &entry.command}, {u"Name", &entry.name}};
    for (const auto& value : values) {
      if (ReadRegString(plat::kButtonTableRoot, key_path, value.name, *value.value)) continue;
      const uint32_t error = plat::GetLastError();
      // Missing, or a number where text belongs: the same every run, so it
      // cannot shift the positions.
      if (IsMissingOrOddValue(error) || entry.failed_value != nullptr) continue;
      entry.failed_value = value.name;
      entry.error = error == 0 ? plat::kErrorGenFailure : error;
      if (table.read_error == 0) table.read_error = entry.error;
    }
    table.entries.push_back(std::move(entry));
  }
  return table;
}

// ---- Values stored for a button -------------------------------------------------

const ButtonSetting kSingleAssignment = Assignment(u"ButtonA", 1, false);
const ButtonSetting kHoldAssignment = Assignment(u"ButtonAh", 1, true);
const ButtonSetting kDoubleAssignment = Assignment(u"ButtonA2", 2, false);
const ButtonSetting kDoubleHoldAssignment = Assignment(u"ButtonA2h", 2, true);
const ButtonSetting kSingleRotation = Rotation(u"ButtonA-RotateScreen", 1, false);
const ButtonSetting kHoldRotation = Rotation(u"ButtonA-RotateScreenh", 1, true);
const ButtonSetting kDoubleRotation = Rotation(u"ButtonA-RotateScreen2", 2, false);
const ButtonSetting kDoubleHoldRotation = Rotation(u"ButtonA-RotateScreen2h", 2, true);
const ButtonSetting kEnabledSetting = Number(u"EnabledA", 1, 0, 1);
const ButtonSetting kStateSetting = Number(u"StateA", 0, 0, kAnyNumber);
const ButtonSetting kVirtualKeySetting = Number(u"VirtualKeyA", 0, 0, 0xFF);
const ButtonSetting kHoldIntervalSetting =
    Number(u"HoldIntervalA", press_rule::kDefaultIntervalMs, kHoldIntervalMinMs, kHoldIntervalMaxMs, u"HoldInterval");
const ButtonSetting kDoubleIntervalSetting =
    Number(u"DblClickIntervalA", press_rule::kDefaultIntervalMs, kDoubleIntervalMinMs, kDoubleIntervalMaxMs,
           u"DblClickInterval");

const std::vector<const ButtonSetting*>& ButtonSettings() {
  static const std::vector<const ButtonSetting*> all = {
      &kSingleAssignment, &kSingleRotation,    &kHoldAssignment,       &kHoldRotation,
      &kDoubleAssignment, &kDoubleRotation,    &kDoubleHoldAssignment, &kDoubleHoldRotation,
      &kEnabledSetting,   &kStateSetting,      &kVirtualKeySetting,    &kHoldIntervalSetting,
      &kDoubleIntervalSetting};
  return all;
}

const ButtonSetting& AssignmentSetting(int32_t press_count, bool hold) {
  if (press_count == 2) return hold ? kDoubleHoldAssignment : kDoubleAssignment;
  return hold ? kHoldAssignment : kSingleAssignment;
}

const ButtonSetting& RotationSetting(int32_t press_count, bool hold) {
  if (press_count == 2) return hold ? kDoubleHoldRotation : kDoubleRotation;
  return hold ? kHoldRotation : kSingleRotation;
}

std::u16string ButtonSettingName(const ButtonSetting& setting, uint32_t position) {
  switch (setting.kind) {
    case ButtonValueKind::kAssignment:
      return SlotValueName(position, setting.press_count, setting.hold);
    case ButtonValueKind::kRotation:
      return LaunchParamsValueName(kRotateScreenKey, position, setting.press_count, setting.hold);
    case ButtonValueKind::kDword:
      return ButtonValueName(setting.position0_name, position);
  }
  return {};
}

std::vector<std::u16string> ButtonSettingNames(uint32_t position) {
  std::vector<std::u16string> names;
  for (const ButtonSetting* setting : ButtonSettings())
    if (setting->moves_with_button) names.push_back(ButtonSettingName(*setting, position));
  return names;
}

uint32_t ReadGlobalSetting(const ButtonSetting& setting) {
  uint32_t value = setting.default_value;
  if (setting.global_name != nullptr) ReadNumber(setting.global_name, value);
  return value;
}

uint32_t ReadButtonSetting(const ButtonSetting& setting, uint32_t position) {
  uint32_t value = 0;
  if (ReadNumber(ButtonSettingName(setting, position), value)) return value;
  return ReadGlobalSetting(setting);
}

uint32_t ClampToRange(const ButtonSetting& setting, uint32_t value) {
  return std::clamp(value, setting.minimum, setting.maximum);
}
