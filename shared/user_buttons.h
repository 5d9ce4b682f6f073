// User-defined buttons: a name and a key code each, stored under
// "Software\Quadrakey\Hotkeys" of the product root (plat::RegRoot::Product) as B0/H0, B1/H1, ...
// The assignment page lists them after the hardware buttons.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern const char16_t kUserButtonsKey[];  // u"Software\\Quadrakey\\Hotkeys"

class UserButtonList {
 public:
  UserButtonList() = default;

  size_t Count() const { return entries_.size(); }
  // Position below the count; 0 and the empty text past it.
  uint32_t KeyCodeAt(size_t position) const;
  const std::u16string& NameAt(size_t position) const;

  // Replaces any entry with that key code by a new one at the end.
  void Add(uint32_t key_code, const std::u16string& name);
  // Removes every entry with that key code; the rest keep their order.
  void Remove(uint32_t key_code);
  void Clear() { entries_.clear(); }

  // Replaces the content with the stored list, which ends at the first
  // position whose name or key code is missing or unreadable.
  void Load(const std::u16string& key = kUserButtonsKey);
  // Why the last Load ended before the list's end, when the registry could
  // not be read there; 0 when it read the list as stored (a missing value,
  // or one of the wrong kind, ends every read there alike). A list read
  // short must never be saved: the entries past the failure would be lost.
  uint32_t ReadError() const { return read_error_; }
  // Replaces the stored list with this one: the key is deleted first, so no
  // value of a longer earlier list remains. False when the deletion or any
  // write failed; each failure is logged and the remaining writes are still
  // made.
  bool Save(const std::u16string& key = kUserButtonsKey) const;
  // The position of the entry with that key code; -1 when none.
  int Find(uint32_t key_code) const;
  // Gives the entry with that key code a new name where it stands; false
  // when there is none.
  bool Rename(uint32_t key_code, const std::u16string& name);

 private:
  struct Entry {
    uint32_t key_code;
    std::u16string name;
  };
  std::vector<Entry> entries_;
  uint32_t read_error_ = 0;
};
