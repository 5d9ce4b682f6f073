// The device shell's table of hardware buttons (HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Shell\Keys"), as the configuration program reads and
// rewrites it. The one LaunchButtons object is its only reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/model/sortable.h"
#include "shared/button_model.h"

// One hardware button: an entry of the table that has a reset command.
class ButtonRecord : public SortableItem {
 public:
  ButtonRecord() = default;
  ButtonRecord(std::u16string key_path, std::u16string name, std::u16string reset_command);

  // Full path below HKEY_LOCAL_MACHINE: the table's key, '\', the entry.
  const std::u16string& KeyPath() const { return key_path_; }
  // The entry's own name, the path's last part ("40C1").
  std::u16string Entry() const { return key_path_.substr(key_path_.find_last_of(u'\\') + 1); }
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

  // 0 when the whole table was read (a missing table, entry or value reads
  // as empty); else the error of the first read that failed otherwise. The
  // numbering of a table read with gaps may be wrong: nothing may be stored
  // or rewritten under it.
  uint32_t ReadError() const { return read_error_; }

  size_t GetButtonCount() const { return buttons_.size(); }
  // The button with that index; an empty record for an index at or past the
  // count.
  const ButtonRecord& GetButton(size_t index) const;

  // The button's current command, or its reset command when the current one
  // is empty or `""`. nullptr for an index at or past the count, and when
  // the command cannot be read (logged). The text lives until the next read
  // through this object.
  const std::u16string* GetShortcut(uint32_t index);
  // Logs the call, then stores the command (see WriteCommand). An index at or
  // past the count writes nothing.
  void SetShortcut(uint32_t index, const std::u16string& command);
  // The command that starts the device's Record function, or nullptr.
  const std::u16string* GetRecordCommand() const;
  // Asks the shell which virtual key starts the button's entry by pointing
  // the entry at a dummy program for a moment; the entry's command is put
  // back afterwards. 0 when the shell names no key, and when the probe
  // cannot be made safely (the command unreadable or not kept, another
  // entry still naming the dummy): the code is then asked for next start.
  // The command is kept in the settings key while the entry names the
  // dummy, so that the next start puts it back after a kill or a failed write.
  uint8_t ProbeVirtualKey(uint32_t index);

  // Mends what a probe of an earlier run left when it was cut short (a kill,
  // a failed write): the command it kept goes back to its entry, and any
  // other button still naming the dummy gets its reset command. Logged. The
  // configuration program calls it before it probes; readers of the table
  // never write it.
  void RepairAfterProbe();

  // Raw table access by key path. ReadCommand answers in the command buffer;
  // `read` (when given) tells whether the entry could be read.
  const std::u16string& ReadCommand(const std::u16string& key_path, bool* read = nullptr);
  // Stores the command in double quotes unless it begins with one, and resets
  // "Flags", "WndCls" and "BtnWnd". Each failed write is logged; the rest are
  // still made. True when the command itself was stored.
  bool WriteCommand(const std::u16string& key_path, const std::u16string& command);

  // The dummy program's name, as the probe points an entry at it.
  static bool IsProbeCommand(const std::u16string& command);

 private:
  // The entry whose kept command is still to be put back, or empty.
  std::u16string PutBackProbedCommand();

  uint32_t read_error_ = 0;
  // Entries still naming the dummy: the shell would answer a probe with
  // their key.
  std::vector<std::u16string> dummy_entries_;
  std::u16string letter_slots_[4];
  std::u16string command_buffer_;
  std::vector<ButtonRecord> buttons_;
  std::u16string record_command_;
};
