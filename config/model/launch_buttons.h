// The device shell's table of hardware buttons (HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Shell\Keys"), as the configuration program reads and
// rewrites it. The one LaunchButtons object is its only reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/model/sortable.h"

// True when an entry's (default) command stands for its reset command: the
// shell runs "ResetCmd" for an empty command or a pair of double quotes.
bool CommandMeansReset(const std::u16string& command);

// One hardware button: an entry of the table that has a reset command.
class ButtonRecord : public SortableItem {
 public:
  ButtonRecord() = default;
  ButtonRecord(std::u16string key_path, std::u16string name, std::u16string reset_command);

  // Full path below HKEY_LOCAL_MACHINE: the table's key, '\', the entry.
  const std::u16string& KeyPath() const { return key_path_; }
  // The entry's "Name"; sets the button order.
  const std::u16string& Name() const { return name_; }
  // The file name of the reset command without its extension ("Calendar").
  const std::u16string& Title() const { return title_; }
  // The entry's "ResetCmd" exactly as read.
  const std::u16string& ResetCommand() const { return reset_command_; }

  // By name, code unit by code unit: "Button 2" < "Zed" < "button 1".
  int Compare(const SortableItem& other) const override;

  // Text after the last '\', '/' or ':', cut before its last '.'.
  static std::u16string TitleOf(const std::u16string& command);

 private:
  std::u16string key_path_;
  std::u16string name_;
  std::u16string title_;
  std::u16string reset_command_;
};

class LaunchButtons {
 public:
  // Reads the table once and logs what it finds. The buttons, the letter
  // slots and the Record command stay as built for the object's life.
  LaunchButtons();
  LaunchButtons(const LaunchButtons&) = delete;
  LaunchButtons& operator=(const LaunchButtons&) = delete;

  size_t GetButtonCount() const { return buttons_.size(); }
  // The button with that index; an empty record for an index at or past the
  // count.
  const ButtonRecord& GetButton(size_t index) const;

  // The button's current command, or its reset command when the current one
  // is empty or `""`. nullptr for an index at or past the count. The text
  // lives until the next read through this object.
  const std::u16string* GetShortcut(uint32_t index);
  // Logs the call, then stores the command (see WriteCommand). An index at or
  // past the count writes nothing.
  void SetShortcut(uint32_t index, const std::u16string& command);
  // The command that starts the device's Record function, or nullptr.
  const std::u16string* GetRecordCommand() const;
  // Asks the shell which virtual key starts the button's entry by pointing
  // the entry at a dummy program for a moment; the entry's command is put
  // back afterwards. 0 when the shell names no key.
  uint8_t ProbeVirtualKey(uint32_t index);

  // Raw table access by key path. ReadCommand answers in the command buffer.
  const std::u16string& ReadCommand(const std::u16string& key_path);
  // Stores the command in double quotes unless it begins with one, and resets
  // "Flags", "WndCls" and "BtnWnd". Each failed write is logged; the rest are
  // still made.
  void WriteCommand(const std::u16string& key_path, const std::u16string& command);

 private:
  std::u16string letter_slots_[4];
  std::u16string command_buffer_;
  std::vector<ButtonRecord> buttons_;
  std::u16string record_command_;
};
