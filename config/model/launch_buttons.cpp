#include "config/model/launch_buttons.h"

#include <algorithm>
#include <list>

#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/text.h"

namespace {

using plat::RegRoot;

constexpr RegRoot kTableRoot = plat::kButtonTableRoot;
constexpr RegRoot kSettingsRoot = RegRoot::Product;

// Reset commands of the device's four application buttons, by letter slot.
constexpr const char16_t* kSlotPatterns[4] = {u"calendar.lnk", u"contacts.lnk", u"tasks.lnk",
                                              u"notes.lnk"};

constexpr char16_t kWindowsFolder[] = u"\\Windows";
constexpr char16_t kRecordLinkBelowWindows[] = u"\\AppButtons\\Record.lnk";
constexpr char16_t kDummyProgram[] = u"QuadrakeyDummyExeName.exe";
// Where a probe keeps the command it is about to replace with the dummy.
constexpr char16_t kProbeKey[] = u"Software\\Quadrakey\\Probe";

bool Contains(const std::u16string& text, const char16_t* part) {
  return text.find(part) != std::u16string::npos;
}

// Matching covers the whole command, however long: a bounded copy would miss
// a pattern near the end of a long path.
std::u16string LowerCopy(const std::u16string& text) {
  std::u16string lower = text;
  MakeLower(lower);
  return lower;
}

}  // namespace

// ---- ButtonRecord -----------------------------------------------------------

ButtonRecord::ButtonRecord(std::u16string key_path, std::u16string name,
                           std::u16string reset_command)
    : key_path_(std::move(key_path)),
      name_(std::move(name)),
      title_(TitleOf(reset_command)),
      reset_command_(std::move(reset_command)) {}

int ButtonRecord::Compare(const SortableItem& other) const {
  const auto& that = static_cast<const ButtonRecord&>(other);
  const int order = name_.compare(that.name_);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::u16string ButtonRecord::TitleOf(const std::u16string& command) {
  const size_t separator = command.find_last_of(u"\\/:");
  std::u16string title =
      separator == std::u16string::npos ? command : command.substr(separator + 1);
  const size_t dot = title.rfind(u'.');
  if (dot != std::u16string::npos) title.resize(dot);
  return title;
}

// ---- LaunchButtons ------------------------------------------------------------

LaunchButtons::LaunchButtons() {
  std::list<std::u16string> spare_keys;
  std::u16string record_key;
  std::u16string record_link_command;
  bool have_record_link = false;

  LogText(u"LaunchButtons::LaunchButtons() subkeys:\n");

  const ButtonTable table = ReadButtonTable();
  read_error_ = table.read_error;
  const bool entry_failed = std::any_of(table.entries.begin(), table.entries.end(),
                                       [](const ButtonTableEntry& entry) { return entry.error != 0; });
  if (read_error_ != 0 && !entry_failed)
    LogFormat(u"  cannot read %s: error %ld\n", false, std::u16string(plat::kButtonTableKey), read_error_);

  for (const ButtonTableEntry& entry : table.entries) {
    const std::u16string& key_path = entry.key_path;
    const std::u16string& reset_command = entry.reset_command;
    const std::u16string& current_command = entry.command;
    const std::u16string& name = entry.name;
    LogFormat(u"  subkey: %s\n", false, key_path);
    if (entry.failed_value != nullptr)
      LogFormat(u"  cannot read %s: error %ld\n", false,
                key_path + u"\\" + (*entry.failed_value != 0 ? entry.failed_value : u"(default)"), entry.error);
    LogFormat(u"      origcmd: %s\n", false, reset_command);
    LogFormat(u"      currcmd: %s\n", false, current_command);
    LogFormat(u"      name: %s\n", false, name);

    if (!entry.IsButton()) continue;
    if (IsProbeCommand(current_command)) dummy_entries_.push_back(key_path);

    const int32_t buttons_before = static_cast<int32_t>(buttons_.size());
    buttons_.emplace_back(key_path, name, reset_command);

    const std::u16string lower_reset = LowerCopy(reset_command);
    const std::u16string lower_current = LowerCopy(current_command);

    if (Contains(lower_reset, u"\\record.lnk")) {
      LogFormat(u"      found Record link at button number %ld\n", false, buttons_before);
      // The button moves when the list is sorted; its command does not.
      record_link_command = reset_command;
      have_record_link = true;
    }

    bool claimed = false;
    const size_t tapdeck = lower_current.find(u"\\tapdeck ");
    for (int slot = 0; slot < 4; ++slot) {
      if (tapdeck != std::u16string::npos) {
        const size_t letter_at = tapdeck + 9;  // just past "\tapdeck "
        if (letter_at >= lower_current.size()) continue;
        const char16_t letter = lower_current[letter_at];
        if (letter < u'a' || letter > u'd') continue;
        const int letter_slot = letter - u'a';
        if (!letter_slots_[letter_slot].empty()) continue;
        letter_slots_[letter_slot] = key_path;
        LogFormat(u"    found tapdeck match for %ld\n", false, letter_slot);
        claimed = true;
      } else if (letter_slots_[slot].empty() && Contains(lower_reset, kSlotPatterns[slot])) {
        letter_slots_[slot] = key_path;
        LogFormat(u"    found orig match for %ld\n", false, slot);
        claimed = true;
      }
    }

    if (!claimed) {
      if (Contains(lower_reset, u"record")) {
        record_key = key_path;
      } else {
        spare_keys.push_back(key_path);
        LogFormat(u"  unused key: %s\n", false, key_path);
      }
    }
  }

  SortByCompare(buttons_);

  if (!record_key.empty()) {
    LogFormat(u"  unused record key: %s\n", false, record_key);
    spare_keys.push_back(record_key);
  }

  for (int slot = 0; slot < 4; ++slot) {
    if (!letter_slots_[slot].empty() || spare_keys.empty()) continue;
    LogFormat(u"  assigning unused key %s", false, spare_keys.front());
    LogFormat(u" to %ld\n", false, slot);
    letter_slots_[slot] = spare_keys.front();
    spare_keys.pop_front();
  }

  if (have_record_link) {
    record_command_ = record_link_command;
  } else {
    const std::u16string link = std::u16string(kWindowsFolder) + kRecordLinkBelowWindows;
    if (FileExists(link)) record_command_ = u"\"" + link + u"\" -b";
  }

  LogText(u"\n");
}

bool LaunchButtons::IsProbeCommand(const std::u16string& command) {
  std::u16string bare = command;
  if (bare.size() >= 2 && bare.front() == u'"' && bare.back() == u'"') bare = bare.substr(1, bare.size() - 2);
  return plat::CompareNoCase(bare, kDummyProgram) == 0;
}

void LaunchButtons::RepairAfterProbe() {
  const std::u16string pending = PutBackProbedCommand();
  // Left at the dummy with no command kept: the reset command is the one
  // the device itself would give the button.
  std::vector<std::u16string> still;
  for (const std::u16string& key_path : dummy_entries_) {
    std::u16string current;
    if (!ReadRegString(kTableRoot, key_path, u"", current) || !IsProbeCommand(current)) continue;
    if (plat::CompareNoCase(key_path, pending) == 0) {
      still.push_back(key_path);  // its own command is kept for the next start
      continue;
    }
    const ButtonRecord* button = nullptr;
    for (const ButtonRecord& record : buttons_)
      if (record.KeyPath() == key_path) button = &record;
    if (button == nullptr) continue;
    LogFormat(u"%s lost its command at a probe: putting back its reset command\n", false, key_path);
    if (!WriteCommand(key_path, button->ResetCommand())) still.push_back(key_path);
  }
  dummy_entries_ = std::move(still);
}

std::u16string LaunchButtons::PutBackProbedCommand() {
  std::u16string key_path;
  std::u16string command;
  if (!ReadRegString(kSettingsRoot, kProbeKey, u"Entry", key_path)) return {};  // no probe was cut short
  // A read that fails now keeps the record for the next start.
  const bool have_command = ReadRegString(kSettingsRoot, kProbeKey, u"Command", command);
  if (!have_command && plat::GetLastError() != plat::kErrorFileNotFound) return key_path;
  std::u16string current;
  if (!ReadRegString(kTableRoot, key_path, u"", current) && plat::GetLastError() != plat::kErrorFileNotFound)
    return key_path;
  // Only an entry of the table, and only while it still names the dummy.
  const std::u16string table = std::u16string(plat::kButtonTableKey) + u"\\";
  const bool in_table = key_path.size() > table.size() &&
                        plat::CompareNoCase(key_path.substr(0, table.size()), table) == 0;
  if (in_table && have_command && IsProbeCommand(current)) {
    LogFormat(u"Putting back the command of %s, left at the probe's program:\n", false, key_path);
    LogFormat(u"  %s\n", false, command);
    // Kept for the next start when it cannot be put back now.
    if (!WriteCommand(key_path, command)) return key_path;
  }
  DeleteRegKey(kSettingsRoot, kProbeKey);
  return {};
}

const ButtonRecord& LaunchButtons::GetButton(size_t index) const {
  static const ButtonRecord kNoButton;
  return index < buttons_.size() ? buttons_[index] : kNoButton;
}

const std::u16string* LaunchButtons::GetShortcut(uint32_t index) {
  if (index >= buttons_.size()) return nullptr;
  bool read = false;
  const std::u16string& command = ReadCommand(buttons_[index].KeyPath(), &read);
  return read ? &command : nullptr;
}

void LaunchButtons::SetShortcut(uint32_t index, const std::u16string& command) {
  LogFormat(u"LaunchButtons::SetShortcut(%s, %ld)\n", false, command, index);
  if (index >= buttons_.size()) return;
  WriteCommand(buttons_[index].KeyPath(), command);
}

const std::u16string* LaunchButtons::GetRecordCommand() const {
  return record_command_.empty() ? nullptr : &record_command_;
}

uint8_t LaunchButtons::ProbeVirtualKey(uint32_t index) {
  if (index >= buttons_.size()) return 0;
  // The shell answers with the first entry that names the dummy.
  if (!dummy_entries_.empty()) {
    LogFormat(u"  not probed: %s still names the probe's program", false, dummy_entries_.front());
    return 0;
  }
  const std::u16string* current = GetShortcut(index);
  if (current == nullptr) return 0;  // a command not read cannot be put back
  const std::u16string saved = *current;
  const std::u16string& key_path = buttons_[index].KeyPath();
  // Kept first, so that the next start can put it back whatever happens here.
  if (!WriteRegString(kSettingsRoot, kProbeKey, u"Entry", key_path) ||
      !WriteRegString(kSettingsRoot, kProbeKey, u"Command", saved)) {
    LogFormat(u"  not probed: the command could not be kept (error %ld)", false, plat::GetLastError());
    DeleteRegKey(kSettingsRoot, kProbeKey);
    return 0;
  }
  if (!WriteCommand(key_path, kDummyProgram)) {
    // The entry keeps its command; a query now would name another entry.
    DeleteRegKey(kSettingsRoot, kProbeKey);
    return 0;
  }
  const uint8_t key = static_cast<uint8_t>(plat::GetAppKey(kDummyProgram) & 0xFF);
  if (!WriteCommand(key_path, saved)) {
    // The kept command stays for the next start; no later probe of this
    // run may ask the shell while this entry names the dummy.
    dummy_entries_.push_back(key_path);
    return key;
  }
  DeleteRegKey(kSettingsRoot, kProbeKey);
  return key;
}

const std::u16string& LaunchButtons::ReadCommand(const std::u16string& key_path, bool* read) {
  if (read != nullptr) *read = true;
  const char16_t* failed_value = nullptr;
  if (!ReadRegString(kTableRoot, key_path, u"", command_buffer_) && plat::GetLastError() != plat::kErrorFileNotFound)
    failed_value = u"command";
  if (failed_value == nullptr && !CommandMeansReset(command_buffer_)) {
    LogFormat(u"  returning curr %s\n", false, command_buffer_);
    return command_buffer_;
  }
  if (failed_value == nullptr && !ReadRegString(kTableRoot, key_path, u"ResetCmd", command_buffer_) &&
      plat::GetLastError() != plat::kErrorFileNotFound)
    failed_value = u"reset command";
  if (failed_value != nullptr) {
    const uint32_t error = plat::GetLastError();
    command_buffer_.clear();
    LogFormat(u"  cannot read the %s of ", false, std::u16string(failed_value));
    LogFormat(u"%s: error %ld\n", false, key_path, error);
    if (read != nullptr) *read = false;
    return command_buffer_;
  }
  LogFormat(u"  returning original %s\n", false, command_buffer_);
  return command_buffer_;
}

bool LaunchButtons::WriteCommand(const std::u16string& key_path, const std::u16string& command) {
  const std::u16string stored =
      !command.empty() && command[0] == u'"' ? command : u"\"" + command + u"\"";
  const bool written = WriteRegString(kTableRoot, key_path, u"", stored);
  if (!written) {
    LogFormat(u"  Error writing reg string %s: %ld\n", false, key_path, plat::GetLastError());
  }
  if (!WriteRegDword(kTableRoot, key_path, u"Flags", 0)) {
    LogFormat(u"  Error writing reg dword %s: %ld\n", false, u"Flags", plat::GetLastError());
  }
  if (!WriteRegString(kTableRoot, key_path, u"WndCls", u"")) {
    LogFormat(u"  Error writing reg string %s: %ld\n", false, u"WndCls", plat::GetLastError());
  }
  if (!WriteRegDword(kTableRoot, key_path, u"BtnWnd", 0)) {
    LogFormat(u"  Error writing reg dword %s: %ld\n", false, u"BtnWnd", plat::GetLastError());
  }
  return written;
}

