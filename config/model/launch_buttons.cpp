#include "config/model/launch_buttons.h"

#include <list>

#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/text.h"

namespace {

using plat::RegRoot;

constexpr RegRoot kRoot = RegRoot::LocalMachine;

// Reset commands of the device's four application buttons, by letter slot.
constexpr const char16_t* kSlotPatterns[4] = {u"calendar.lnk", u"contacts.lnk", u"tasks.lnk",
                                              u"notes.lnk"};

constexpr char16_t kWindowsFolder[] = u"\\Windows";
constexpr char16_t kRecordLinkBelowWindows[] = u"\\AppButtons\\Record.lnk";
constexpr char16_t kDummyProgram[] = u"QuadrakeyDummyExeName.exe";

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

bool CommandMeansReset(const std::u16string& command) {
  return command.empty() || command == u"\"\"";
}

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

  std::list<std::u16string> key_paths;
  ListRegSubkeys(kRoot, plat::kButtonTableKey, true, key_paths);

  for (const std::u16string& key_path : key_paths) {
    LogFormat(u"  subkey: %s\n", false, key_path);
    std::u16string reset_command;
    std::u16string current_command;
    std::u16string name;
    ReadRegString(kRoot, key_path, u"ResetCmd", reset_command);
    ReadRegString(kRoot, key_path, u"", current_command);
    ReadRegString(kRoot, key_path, u"Name", name);
    LogFormat(u"      origcmd: %s\n", false, reset_command);
    LogFormat(u"      currcmd: %s\n", false, current_command);
    LogFormat(u"      name: %s\n", false, name);

    // Entries without a reset command, and the shell's hold entries, are not
    // buttons of their own.
    if (reset_command.empty() || Contains(name, u"(Hold)")) continue;

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

const ButtonRecord& LaunchButtons::GetButton(size_t index) const {
  static const ButtonRecord kNoButton;
  return index < buttons_.size() ? buttons_[index] : kNoButton;
}

const std::u16string* LaunchButtons::GetShortcut(uint32_t index) {
  if (index >= buttons_.size()) return nullptr;
  return &ReadCommand(buttons_[index].KeyPath());
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
  const std::u16string* current = GetShortcut(index);
  if (current == nullptr) return 0;
  const std::u16string saved = *current;
  const std::u16string& key_path = buttons_[index].KeyPath();
  WriteCommand(key_path, kDummyProgram);
  const uint8_t key = static_cast<uint8_t>(plat::GetAppKey(kDummyProgram) & 0xFF);
  WriteCommand(key_path, saved);
  return key;
}

const std::u16string& LaunchButtons::ReadCommand(const std::u16string& key_path) {
  ReadRegString(kRoot, key_path, u"", command_buffer_);
  if (!CommandMeansReset(command_buffer_)) {
    LogFormat(u"  returning curr %s\n", false, command_buffer_);
    return command_buffer_;
  }
  ReadRegString(kRoot, key_path, u"ResetCmd", command_buffer_);
  LogFormat(u"  returning original %s\n", false, command_buffer_);
  return command_buffer_;
}

void LaunchButtons::WriteCommand(const std::u16string& key_path, const std::u16string& command) {
  const std::u16string stored =
      !command.empty() && command[0] == u'"' ? command : u"\"" + command + u"\"";
  if (!WriteRegString(kRoot, key_path, u"", stored)) {
    LogFormat(u"  Error writing reg string %s: %ld\n", false, key_path, plat::GetLastError());
  }
  if (!WriteRegDword(kRoot, key_path, u"Flags", 0)) {
    LogFormat(u"  Error writing reg dword %s: %ld\n", false, u"Flags", plat::GetLastError());
  }
  if (!WriteRegString(kRoot, key_path, u"WndCls", u"")) {
    LogFormat(u"  Error writing reg string %s: %ld\n", false, u"WndCls", plat::GetLastError());
  }
  if (!WriteRegDword(kRoot, key_path, u"BtnWnd", 0)) {
    LogFormat(u"  Error writing reg dword %s: %ld\n", false, u"BtnWnd", plat::GetLastError());
  }
}
