#include "devicesim/shell/press.h"

#include <vector>

#include <nlohmann/json.hpp>

#include "platform/host/device/device.h"

namespace devicesim {
namespace {

// The shell runs an entry's command; an empty one, or a pair of double
// quotes, stands for the entry's "ResetCmd". The shell's own rule, written
// here apart from tapdeck's, so that a test pressing a button checks one
// against the other.
bool StandsForReset(const std::u16string& command) { return command.empty() || command == u"\"\""; }

// Moves the key and journals it; false with the reason when either fails.
bool MoveKey(const HardwareButton& button, bool down, std::string* problem) {
  if (!device::SetKeyDown(button.virtual_key, down)) {
    *problem = std::string("cannot put the key ") + (down ? "down" : "up") + ": " +
               device::ErrorText(plat::GetLastError());
    return false;
  }
  nlohmann::ordered_json fields = {{"name", device::ToUtf8(button.entry)}, {"vk", button.virtual_key}, {"down", down}};
  std::string members = fields.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  uint32_t error = 0;
  if (!device::Journal("button", members.substr(1, members.size() - 2), &error)) {  // stored without the braces
    *problem = "cannot journal the key: " + device::ErrorText(error);
    return false;
  }
  return true;
}

}  // namespace

int EntryVirtualKey(const std::u16string& entry) {
  if (entry.empty() || entry.size() > 8) return -1;
  unsigned long code = 0;
  for (char16_t c : entry) {
    int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10
              : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
    if (digit < 0) return -1;
    code = code * 16 + static_cast<unsigned long>(digit);
  }
  return static_cast<int>(code & 0xFF);
}

FindButtonResult FindHardwareButton(const std::string& name, HardwareButton* button, std::string* error) {
  std::vector<std::u16string> entries;
  std::u16string wanted = device::FromUtf8(name);
  if (!device::ListSubkeys(plat::RegRoot::LocalMachine, plat::kButtonTableKey, &entries)) {
    if (plat::GetLastError() != plat::kErrorFileNotFound) {
      *error = "cannot read the button table: " + device::ErrorText(plat::GetLastError());
      return FindButtonResult::kUnreadable;
    }
    entries.clear();
  }
  bool found = false;
  for (const std::u16string& entry : entries) {
    if (plat::CompareNoCase(entry, wanted) == 0) {
      button->entry = entry;
      found = true;
    }
  }
  if (!found) {
    *error = "no button table entry '" + name + "' in HKLM\\" + device::ToUtf8(plat::kButtonTableKey);
    return FindButtonResult::kNoEntry;
  }
  button->virtual_key = EntryVirtualKey(button->entry);
  if (button->virtual_key < 0) {
    *error = "the entry name '" + device::ToUtf8(button->entry) +
             "' is not hexadecimal, so it names no virtual key";
    return FindButtonResult::kNotAButton;
  }
  std::vector<device::RegValue> values;
  if (!device::ListValues(plat::RegRoot::LocalMachine,
                          std::u16string(plat::kButtonTableKey) + u"\\" + button->entry, &values)) {
    *error = "cannot read the entry " + device::ToUtf8(button->entry) + ": " +
             device::ErrorText(plat::GetLastError());
    return FindButtonResult::kUnreadable;
  }
  std::u16string current, reset;
  for (const device::RegValue& value : values) {
    if (value.type != plat::kRegSz) continue;
    if (value.name.empty()) current = device::RegTextOf(value.data);
    if (plat::CompareNoCase(value.name, u"ResetCmd") == 0) reset = device::RegTextOf(value.data);
  }
  button->command = StandsForReset(current) ? reset : current;
  return FindButtonResult::kFound;
}

bool KeyGoesDown(const HardwareButton& button, std::string* problem) {
  return MoveKey(button, true, problem);
}


bool RunButtonCommand(const HardwareButton& button, std::string* problem) {
  if (button.command.empty()) {
    *problem = "the entry has no command to run";
    return false;
  }
  if (!device::RunShellCommand(button.command)) {
    *problem = "the shell could not run " + device::ToUtf8(button.command) + " (error " +
               std::to_string(plat::GetLastError()) + ")";
    return false;
  }
  return true;
}

bool ButtonUp(const HardwareButton& button, std::string* problem) {
  return MoveKey(button, false, problem);
}

}  // namespace devicesim
