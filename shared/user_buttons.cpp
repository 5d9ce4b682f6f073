#include "shared/user_buttons.h"

#include <algorithm>

#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/settings.h"

const char16_t kUserButtonsKey[] = u"Software\\Quadrakey\\Hotkeys";

namespace {

constexpr plat::RegRoot kRoot = plat::RegRoot::Product;

std::u16string NumberedName(char16_t letter, size_t position) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + position % 10));
    position /= 10;
  } while (position != 0);
  return letter + digits;
}

}  // namespace

uint32_t UserButtonList::KeyCodeAt(size_t position) const {
  return position < entries_.size() ? entries_[position].key_code : 0;
}

const std::u16string& UserButtonList::NameAt(size_t position) const {
  static const std::u16string kNoName;
  return position < entries_.size() ? entries_[position].name : kNoName;
}

void UserButtonList::Add(uint32_t key_code, const std::u16string& name) {
  Remove(key_code);
  entries_.push_back({key_code, name});
}

void UserButtonList::Remove(uint32_t key_code) {
  std::erase_if(entries_, [key_code](const Entry& entry) { return entry.key_code == key_code; });
}

int UserButtonList::Find(uint32_t key_code) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].key_code == key_code) return static_cast<int>(i);
  return -1;
}

bool UserButtonList::Rename(uint32_t key_code, const std::u16string& name) {
  const int position = Find(key_code);
  if (position < 0) return false;
  entries_[static_cast<size_t>(position)].name = name;
  return true;
}

void UserButtonList::Load(const std::u16string& key) {
  Clear();
  read_error_ = 0;
  for (size_t position = 0;; ++position) {
    std::u16string name;
    uint32_t key_code = 0;
    if (!ReadRegString(kRoot, key, NumberedName(u'B', position), name) ||
        !ReadRegDword(kRoot, key, NumberedName(u'H', position), key_code)) {
      const uint32_t error = plat::GetLastError();
      if (!IsMissingOrOddValue(error)) {
        read_error_ = error;
        LogFormat(u"  The list of buttons could not be read past position %ld (error %ld)\n", false,
                  static_cast<int32_t>(position), error);
      }
      break;
    }
    Add(key_code, name);
  }
}

bool UserButtonList::Save(const std::u16string& key) const {
  bool all_written = true;
  // A missing key is already empty; any other failure leaves values of the
  // old list that the new one may not cover.
  if (!DeleteRegKey(kRoot, key)) {
    const uint32_t error = plat::GetLastError();
    if (error != plat::kErrorFileNotFound) {
      LogFormat(u"  Error deleting reg key %s: %ld\n", false, key, error);
      all_written = false;
    }
  }
  // The registry operations log nothing themselves, so a failed write would
  // otherwise leave no trace.
  for (size_t position = 0; position < entries_.size(); ++position) {
    const Entry& entry = entries_[position];
    const std::u16string name_value = NumberedName(u'B', position);
    if (!WriteRegString(kRoot, key, name_value, entry.name)) {
      LogFormat(u"  Error writing reg string %s: %ld\n", false, name_value, plat::GetLastError());
      all_written = false;
    }
    const std::u16string code_value = NumberedName(u'H', position);
    if (!WriteRegDword(kRoot, key, code_value, entry.key_code)) {
      LogFormat(u"  Error writing reg dword %s: %ld\n", false, code_value, plat::GetLastError());
      all_written = false;
    }
  }
  return all_written;
}
