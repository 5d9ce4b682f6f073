#include "devicesim/press.h"

#include <vector>

#include <nlohmann/json.hpp>

#include "platform/host/device.h"

namespace devicesim {
namespace {

const char16_t kButtonTable[] = u"SOFTWARE\\Microsoft\\Shell\\Keys";

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

void JournalButton(const HardwareButton& button, bool down) {
  nlohmann::ordered_json fields = {{"name", device::ToUtf8(button.entry)}, {"vk", button.virtual_key}, {"down", down}};
  std::string members = fields.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  device::Journal("button", members.substr(1, members.size() - 2));  // stored without the braces
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
  if (!device::ListSubkeys(plat::RegRoot::LocalMachine, kButtonTable, &entries)) entries.clear();
  bool found = false;
  for (const std::u16string& entry : entries) {
    if (plat::CompareNoCase(entry, wanted) == 0) {
      button->entry = entry;
      found = true;
    }
  }
  if (!found) {
    *error = "no button table entry '" + name + "' in HKLM\\" + device::ToUtf8(kButtonTable);
    return FindButtonResult::kNoEntry;
  }
  button->virtual_key = EntryVirtualKey(button->entry);
  if (button->virtual_key < 0) {
    *error = "the entry name '" + device::ToUtf8(button->entry) +
             "' is not hexadecimal, so it names no virtual key";
    return FindButtonResult::kNotAButton;
  }
  std::vector<device::RegValue> values;
  device::ListValues(plat::RegRoot::LocalMachine, std::u16string(kButtonTable) + u"\\" + button->entry,
                     &values);
  std::u16string current, reset;
  for (const device::RegValue& value : values) {
    if (value.type != plat::kRegSz) continue;
    if (value.name.empty()) current = TextOf(value.data);
    if (plat::CompareNoCase(value.name, u"ResetCmd") == 0) reset = TextOf(value.data);
  }
  // The shell treats an empty command, or a pair of quotes, as "use the reset".
  button->command = current.empty() || current == u"\"\"" ? reset : current;
  return FindButtonResult::kFound;
}

void KeyGoesDown(const HardwareButton& button) {
  device::SetKeyDown(button.virtual_key, true);
  JournalButton(button, true);
}

bool ButtonDown(const HardwareButton& button, std::string* problem) {
  KeyGoesDown(button);
  return RunButtonCommand(button, problem);
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

void ButtonUp(const HardwareButton& button) {
  device::SetKeyDown(button.virtual_key, false);
  JournalButton(button, false);
}

}  // namespace devicesim
