#include "devicesim/shell/press.h"

#include <cstdlib>
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

std::string KeyProblem(bool down, uint32_t error) {
  return std::string("cannot put the key ") + (down ? "down" : "up") + ": " + device::ErrorText(error);
}

struct KeyMove {
  const HardwareButton& button;
  bool down;
  int64_t at;           // when the key moved
  std::string problem;  // set when the move or its line failed
};

bool MoveAndJournal(void* context) {
  KeyMove& move = *static_cast<KeyMove*>(context);
  if (!device::SetKeyDown(move.button.virtual_key, move.down, move.at)) {
    move.problem = KeyProblem(move.down, plat::GetLastError());
    return false;
  }
  const std::u16string& name = move.button.entry.empty() ? move.button.key_name : move.button.entry;
  nlohmann::ordered_json fields = {{"name", device::ToUtf8(name)}, {"vk", move.button.virtual_key}, {"down", move.down}};
  std::string members = fields.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  uint32_t error = 0;
  if (!device::JournalAt(move.at, "button", members.substr(1, members.size() - 2), &error)) {  // stored without the braces
    move.problem = "cannot journal the key: " + device::ErrorText(error);
    return false;
  }
  return true;
}

// Moves the key and journals it in one commit: a press is timed from when
// its key went down and the page times it from the journal line, so a line
// written later, under load, made a hold look early. All or nothing; false
// with the reason when either fails.
bool MoveKey(const HardwareButton& button, bool down, std::string* problem) {
  // Dated before the commit, which may wait for the registry.
  KeyMove move{button, down, device::NoteKeyMove(button.virtual_key, down), {}};
  if (device::Transaction(MoveAndJournal, &move)) return true;
  *problem = move.problem.empty() ? KeyProblem(down, plat::GetLastError()) : move.problem;
  return false;
}


// The table's entry for a key: the one named "40" and its hex digits (a
// plain press), else the first that ends in them; empty when none.
std::u16string EntryOfKey(const std::vector<std::u16string>& entries, int code) {
  std::u16string found;
  for (const std::u16string& entry : entries) {
    if (EntryVirtualKey(entry) != code) continue;
    if (entry.size() == 4 && entry.compare(0, 2, u"40") == 0) return entry;
    if (found.empty()) found = entry;
  }
  return found;
}

// False with the reason when the device could not tell.
bool LiveHotKey(int virtual_key, device::HotKey* key, bool* found, std::string* problem) {
  if (device::FindHotKey(virtual_key, 0, key, found)) return true;
  *problem = "cannot read the device's hot keys: " + device::ErrorText(plat::GetLastError());
  return false;
}

}  // namespace

int KeyCodeOf(const std::string& text) {
  if (text.empty()) return -1;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const bool number = digits.size() <= 4 && digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") ==
                                                std::string::npos;
  const long code = number ? std::strtol(digits.c_str(), nullptr, hex ? 16 : 10)
                           : device::KeyCodeByName(device::FromUtf8(text));
  return code >= 1 && code <= 0xFE ? static_cast<int>(code) : -1;
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
    const int code = KeyCodeOf(name);
    if (code < 0) {
      *error = "no button table entry '" + name + "' in HKLM\\" + device::ToUtf8(plat::kButtonTableKey) +
               ", and no key of that code or name";
      return FindButtonResult::kNoEntry;
    }
    button->entry = EntryOfKey(entries, code);
    if (button->entry.empty()) {
      button->virtual_key = code;
      button->command.clear();
      button->key_name = plat::GetKeyName(static_cast<uint32_t>(code));
      return FindButtonResult::kFound;
    }
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


bool RunButtonCommand(const HardwareButton& button, std::string* problem, KeyTaker* taker) {
  KeyTaker ignored;
  if (taker == nullptr) taker = &ignored;
  *taker = {};
  device::KeyCaptor captor;
  bool captured = false;
  if (!device::FindKeyCaptor(button.virtual_key, &captor, &captured)) {
    *problem = "cannot read which keys the device's dialogs took: " + device::ErrorText(plat::GetLastError());
    return false;
  }
  if (captured) {
    *taker = {KeyTaker::Kind::kCaptor, captor.pid};
    return true;
  }
  device::HotKey hot_key;
  bool registered = false;
  if (!LiveHotKey(button.virtual_key, &hot_key, &registered, problem)) return false;
  if (registered) {
    if (device::SendHotKey(hot_key)) {
      *taker = {KeyTaker::Kind::kHotKey, hot_key.pid};
      return true;
    }
    // A program that holds the key but takes no messages any more lets it
    // go on as if it held none.
    if (plat::GetLastError() != plat::kErrorInvalidWindowHandle) {
      *problem = "cannot send the hot key to " + hot_key.program + " (pid " + std::to_string(hot_key.pid) +
                 "): " + device::ErrorText(plat::GetLastError());
      return false;
    }
  }
  if (button.entry.empty()) {
    bool taken = false;
    if (!device::PostKeyToForeground(button.virtual_key, false, &taken)) {
      *problem = "cannot give the key to the foreground window: " + device::ErrorText(plat::GetLastError());
      return false;
    }
    if (taken) {
      plat::Window foreground = 0;
      device::Foreground(&foreground);
      *taker = {KeyTaker::Kind::kForeground, static_cast<int64_t>(foreground >> 20)};
    }
    return true;
  }
  taker->kind = KeyTaker::Kind::kShell;
  if (button.command.empty()) {
    *problem = "the entry has no command to run";
    return false;
  }
  // The program the command starts is this press's launcher: it times the
  // press from when the key went down.
  int64_t down_at = 0;
  if (device::KeyDownAt(button.virtual_key, &down_at) && down_at > 0)
    device::DatePressOfNextStart(button.virtual_key, down_at);
  const bool ran = device::RunShellCommand(button.command);
  device::DatePressOfNextStart(0, 0);
  if (!ran) {
    *problem = "the shell could not run " + device::ToUtf8(button.command) + " (error " +
               std::to_string(plat::GetLastError()) + ")";
    return false;
  }
  return true;
}

bool ButtonUp(const HardwareButton& button, std::string* problem) {
  if (!MoveKey(button, false, problem)) return false;
  if (!button.entry.empty()) return true;  // the shell took it
  device::KeyCaptor captor;
  bool captured = false;
  if (device::FindKeyCaptor(button.virtual_key, &captor, &captured) && captured) return true;  // it had the up
  device::HotKey hot_key;
  bool registered = false;
  if (!LiveHotKey(button.virtual_key, &hot_key, &registered, problem)) return false;
  if (registered) return true;  // a hot key's owner sees no key up
  bool taken = false;
  if (device::PostKeyToForeground(button.virtual_key, true, &taken)) return true;
  *problem = "cannot give the key up to the foreground window: " + device::ErrorText(plat::GetLastError());
  return false;
}

}  // namespace devicesim
