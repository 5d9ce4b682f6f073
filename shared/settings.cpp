#include "shared/settings.h"

#include <cstdlib>
#include <cstring>

#include "shared/debuglog.h"
#include "shared/text.h"

namespace {

using plat::RegRoot;

// Closes the key on every way out of a registry operation.
class KeyHolder {
 public:
  explicit KeyHolder(plat::RegKey key) : key_(key) {}
  ~KeyHolder() {
    if (key_ != nullptr) plat::RegCloseKey(key_);
  }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  plat::RegKey get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  plat::RegKey key_;
};

constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegMultiSz = 7;

bool IsTextType(uint32_t type) {
  return type == plat::kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Fixed name buffers, in characters including the terminating zero.
constexpr size_t kSlotNameCapacity = 40;
constexpr size_t kParamsNameCapacity = 90;
constexpr size_t kEnumNameCapacity = 290;

// The button letter is 16-bit arithmetic on 'A'. A letter that wraps to zero
// would end the name early and alias another value, so such names are refused.
bool PutButtonLetter(std::u16string& name, size_t position, uint32_t button) {
  const char16_t letter = static_cast<char16_t>(name[position] + (button & 0xFFFFu));
  if (letter == 0) return false;
  name[position] = letter;
  return true;
}

void AppendPressSuffixes(std::u16string& name, int32_t press_count, bool hold) {
  if (press_count == 2) name += u'2';
  if (hold) name += u'h';
}

}  // namespace

// ---- Registry operations ------------------------------------------------

plat::RegKey OpenRegistryKey(RegRoot root, const std::u16string& path, uint32_t access,
                             bool create) {
  return create ? plat::RegCreateKey(root, path, access) : plat::RegOpenKey(root, path, access);
}

bool ReadRegString(RegRoot root, const std::u16string& path, const std::u16string& name,
                   std::u16string& value) {
  value.clear();
  KeyHolder key(OpenRegistryKey(root, path, plat::kKeyQueryValue, false));
  if (!key) return false;

  uint32_t type = 0;
  uint32_t size = 0;
  if (!plat::RegQueryValue(key.get(), name, &type, nullptr, &size)) return false;
  // A number or raw bytes shown as text would be a wrong path or command.
  if (!IsTextType(type)) {
    plat::SetLastError(plat::kErrorInvalidData);
    return false;
  }
  if (size == 0) return true;

  // One extra unit beyond the stored size keeps a zero after any text, even
  // one stored without its terminator.
  const uint64_t units = static_cast<uint64_t>(size) + 1;
  const uint64_t bytes = units * 2;
  if (bytes > UINT32_MAX) {
    plat::SetLastError(plat::kErrorNotEnoughMemory);
    return false;
  }
  // calloc, not new: a value too large to hold is a failed read, not the
  // end of the program.
  auto* buffer = static_cast<char16_t*>(std::calloc(static_cast<size_t>(units), 2));
  if (buffer == nullptr) {
    plat::SetLastError(plat::kErrorNotEnoughMemory);
    return false;
  }
  uint32_t read_size = static_cast<uint32_t>(bytes);
  const bool ok = plat::RegQueryValue(key.get(), name, nullptr, buffer, &read_size);
  if (ok) {
    // The value may have grown between the two queries; never scan past the buffer.
    size_t length = 0;
    while (length < units && buffer[length] != 0) ++length;
    value.assign(buffer, length);
  }
  std::free(buffer);
  return ok;
}

bool WriteRegString(RegRoot root, const std::u16string& path, const std::u16string& name,
                    const std::u16string& value) {
  const uint64_t bytes = (static_cast<uint64_t>(value.size()) + 1) * 2;
  if (bytes > UINT32_MAX) {
    plat::SetLastError(plat::kErrorInvalidParameter);
    return false;
  }
  KeyHolder key(OpenRegistryKey(root, path, plat::kKeySetValue, true));
  if (!key) return false;
  return plat::RegSetValue(key.get(), name, plat::kRegSz, value.c_str(),
                           static_cast<uint32_t>(bytes));
}

bool ReadRegDword(RegRoot root, const std::u16string& path, const std::u16string& name,
                  uint32_t& value) {
  KeyHolder key(OpenRegistryKey(root, path, plat::kKeyQueryValue, false));
  if (!key) return false;
  // Read into a number of our own: data shorter than 4 bytes must not leave
  // a mix of stored bytes and the caller's default.
  uint32_t data = 0;
  uint32_t size = sizeof(data);
  uint32_t type = 0;
  if (!plat::RegQueryValue(key.get(), name, &type, &data, &size)) return false;
  if (size != sizeof(data) || IsTextType(type)) {
    plat::SetLastError(plat::kErrorInvalidData);
    return false;
  }
  value = data;
  return true;
}

bool IsMissingOrOddValue(uint32_t error) {
  return error == plat::kErrorFileNotFound || error == plat::kErrorInvalidData;
}

bool WriteRegDword(RegRoot root, const std::u16string& path, const std::u16string& name,
                   uint32_t value) {
  KeyHolder key(OpenRegistryKey(root, path, plat::kKeySetValue, true));
  if (!key) return false;
  return plat::RegSetValue(key.get(), name, plat::kRegDword, &value, sizeof(value));
}

bool ListRegSubkeys(RegRoot root, const std::u16string& path, bool full_path,
                    std::list<std::u16string>& names) {
  // Listing needs enumeration rights; a key opened only to set values cannot
  // be enumerated on every platform.
  KeyHolder key(OpenRegistryKey(root, path, plat::kKeyRead, false));
  if (!key) return false;
  char16_t name[kEnumNameCapacity];
  for (uint32_t index = 0;; ++index) {
    std::memset(name, 0, sizeof(name));
    if (!plat::RegEnumKey(key.get(), index, name, kEnumNameCapacity)) {
      // Only the end of the list ends it well: a list cut short by a failure
      // would pass for a shorter one.
      return plat::GetLastError() == plat::kErrorNoMoreItems;
    }
    name[kEnumNameCapacity - 1] = 0;
    if (full_path) {
      names.push_back(path + u'\\' + name);
    } else {
      names.emplace_back(name);
    }
  }
  return true;
}

bool DeleteRegKey(RegRoot root, const std::u16string& path) {
  return plat::RegDeleteKey(root, path);
}

bool CopyRegValue(RegRoot root, const std::u16string& from_path, const std::u16string& from_name,
                  const std::u16string& to_path, const std::u16string& to_name) {
  KeyHolder from(OpenRegistryKey(root, from_path, plat::kKeyQueryValue, false));
  if (!from) return false;
  uint32_t type = 0;
  uint32_t size = 0;
  if (!plat::RegQueryValue(from.get(), from_name, &type, nullptr, &size)) return false;
  // malloc, not new: a value too large to hold is a failed copy, not the
  // end of the program. One byte more, so that an empty value has a buffer.
  void* data = std::malloc(static_cast<size_t>(size) + 1);
  if (data == nullptr) {
    plat::SetLastError(plat::kErrorNotEnoughMemory);
    return false;
  }
  uint32_t read_size = size;
  bool ok = plat::RegQueryValue(from.get(), from_name, &type, data, &read_size);
  if (ok) {
    KeyHolder to(OpenRegistryKey(root, to_path, plat::kKeySetValue, true));
    ok = to && plat::RegSetValue(to.get(), to_name, type, data, read_size);
  }
  std::free(data);
  return ok;
}

bool DeleteRegValue(RegRoot root, const std::u16string& path, const std::u16string& name) {
  KeyHolder key(OpenRegistryKey(root, path, plat::kKeySetValue, false));
  if (!key) return plat::GetLastError() == plat::kErrorFileNotFound;
  if (plat::RegDeleteValue(key.get(), name)) return true;
  return plat::GetLastError() == plat::kErrorFileNotFound;
}

// ---- Value names --------------------------------------------------------

std::u16string SlotValueName(uint32_t button, int32_t press_count, bool hold) {
  std::u16string name = u"ButtonA";
  if (!PutButtonLetter(name, 6, button)) return {};
  AppendPressSuffixes(name, press_count, hold);
  return name;
}

std::u16string LaunchParamsValueName(const std::u16string& key, uint32_t button,
                                     int32_t press_count, bool hold) {
  std::u16string name = u"ButtonA-";
  // The name, with "2h" and its zero, must fit the 90-character buffer.
  if (name.size() + key.size() + 2 + 1 > kParamsNameCapacity) return {};
  if (!PutButtonLetter(name, 6, button)) return {};
  name += key;
  AppendPressSuffixes(name, press_count, hold);
  return name;
}

std::u16string ButtonValueName(const char16_t* name_template, uint32_t button) {
  if (name_template == nullptr) return {};
  std::u16string name = name_template;
  // The letter is the template's last character ("EnabledA", "StateA", "VirtualKeyA").
  if (name.empty() || name.size() + 1 > kSlotNameCapacity || name.back() != u'A') return {};
  if (!PutButtonLetter(name, name.size() - 1, button)) return {};
  return name;
}

// ---- Accessors ------------------------------------------------------------

namespace {

std::u16string& ShortcutResult() {
  static std::u16string result;
  return result;
}

std::u16string& ParamsResult() {
  static std::u16string result;
  return result;
}

void LogRegistryFailure(const char16_t* format, const std::u16string& name) {
  // Take the code before logging, which makes platform calls of its own.
  const uint32_t error = plat::GetLastError();
  LogFormat(format, false, name, error);
}

uint32_t ReadButtonDword(const char16_t* name_template, uint32_t button, uint32_t default_value) {
  uint32_t value = default_value;
  const std::u16string name = ButtonValueName(name_template, button);
  if (!name.empty()) ReadRegDword(RegRoot::Product, kSettingsKey, name, value);
  return value;
}

void WriteButtonDword(const char16_t* name_template, uint32_t button, uint32_t value) {
  const std::u16string name = ButtonValueName(name_template, button);
  if (!name.empty()) WriteSettingDword(name, value);
}

}  // namespace

void SetShortcut(uint32_t button, int32_t press_count, bool hold, const std::u16string& text) {
  const std::u16string name = SlotValueName(button, press_count, hold);
  if (name.empty()) return;
  if (!WriteRegString(RegRoot::Product, kSettingsKey, name, text)) {
    LogRegistryFailure(u"SetShortcut() Error writing reg string %s: %ld\n", name);
  }
}

const std::u16string& GetShortcut(uint32_t button, int32_t press_count, bool hold) {
  std::u16string& result = ShortcutResult();
  result.clear();
  const std::u16string name = SlotValueName(button, press_count, hold);
  if (name.empty()) return result;
  if (!ReadRegString(RegRoot::Product, kSettingsKey, name, result)) {
    LogRegistryFailure(u"GetShortcut() Error reading reg string %s: %ld\n", name);
  }
  return result;
}

void SetLaunchParams(const std::u16string& key, uint32_t button, int32_t press_count, bool hold,
                     const std::u16string& text) {
  const std::u16string name = LaunchParamsValueName(key, button, press_count, hold);
  if (name.empty()) return;
  if (!WriteRegString(RegRoot::Product, kSettingsKey, name, text)) {
    LogRegistryFailure(u"SetLaunchParams() Error writing reg string %s: %ld\n", name);
  }
}

const std::u16string& GetLaunchParams(const std::u16string& key, uint32_t button,
                                      int32_t press_count, bool hold) {
  // The key may be the caller's copy of this very result; build the name first.
  const std::u16string name = LaunchParamsValueName(key, button, press_count, hold);
  std::u16string& result = ParamsResult();
  result.clear();
  if (name.empty()) return result;
  if (!ReadRegString(RegRoot::Product, kSettingsKey, name, result)) {
    LogRegistryFailure(u"GetLaunchParams() Error reading reg string %s: %ld\n", name);
  }
  return result;
}

void SetEnabled(uint32_t button, bool enabled) {
  WriteButtonDword(u"EnabledA", button, enabled ? 1 : 0);
}

bool GetEnabled(uint32_t button) {
  bool enabled = true;
  ReadEnabled(button, &enabled);
  return enabled;
}

bool ReadEnabled(uint32_t button, bool* enabled) {
  uint32_t value = 1;
  const std::u16string name = ButtonValueName(u"EnabledA", button);
  if (!name.empty() && !ReadRegDword(RegRoot::Product, kSettingsKey, name, value)) {
    if (!IsMissingOrOddValue(plat::GetLastError())) return false;
    value = 1;
  }
  *enabled = value != 0;
  return true;
}

void SetState(uint32_t button, uint32_t state) { WriteButtonDword(u"StateA", button, state); }

uint32_t GetState(uint32_t button) { return ReadButtonDword(u"StateA", button, 0); }

void SetVirtualKey(uint32_t button, uint32_t code) {
  WriteButtonDword(u"VirtualKeyA", button, code & 0xFFu);
}

uint32_t GetVirtualKey(uint32_t button) {
  return ReadButtonDword(u"VirtualKeyA", button, 0) & 0xFFu;
}

bool WriteSettingDword(const std::u16string& name, uint32_t value) {
  if (WriteRegDword(RegRoot::Product, kSettingsKey, name, value)) return true;
  LogRegistryFailure(u"Error writing reg dword %s: %ld\n", name);
  return false;
}

uint32_t ReadSettingDword(const std::u16string& name, uint32_t default_value) {
  uint32_t value = default_value;
  ReadRegDword(RegRoot::Product, kSettingsKey, name, value);
  return value;
}

