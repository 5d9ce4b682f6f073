// The settings store: the product's values under "Software\Quadrakey" of
// the platform's product root (plat::RegRoot::Product: the device's
// HKEY_LOCAL_MACHINE, a PC user's HKEY_CURRENT_USER), and the registry
// operations through which every registry access of the device programs goes.
//
// Nothing is cached: each accessor opens the key, reads or writes one value
// and closes it again, so every process sees the latest write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "platform/platform.h"

// u"Software\\Quadrakey", below plat::RegRoot::Product.
inline constexpr const auto& kSettingsKey = plat::kProductKey;

// ---- Registry operations (true on success) --------------------------------
// With `create` clear, opens the existing key; with it set, opens or creates.
plat::RegKey OpenRegistryKey(plat::RegRoot root, const std::u16string& path,
                             uint32_t access, bool create);
// `value` is emptied first; on success it holds the text up to its first zero.
// A value that is not text (a number, raw bytes) fails with kErrorInvalidData.
bool ReadRegString(plat::RegRoot root, const std::u16string& path,
                   const std::u16string& name, std::u16string& value);
bool WriteRegString(plat::RegRoot root, const std::u16string& path,
                    const std::u16string& name, const std::u16string& value);
// On failure (missing, data other than 4 bytes, or a text value) `value`
// keeps its content.
bool ReadRegDword(plat::RegRoot root, const std::u16string& path,
                  const std::u16string& name, uint32_t& value);
// Whether a failed read's error is the value's own (missing, or of the wrong
// kind), which every run meets alike, rather than the registry failing.
bool IsMissingOrOddValue(uint32_t error);
bool WriteRegDword(plat::RegRoot root, const std::u16string& path,
                   const std::u16string& name, uint32_t value);
// Appends subkey names (or "path\name" with `full_path`) in enumeration order.
// False, with the list untouched, when the key cannot be opened; false too,
// with the names before it appended, when the enumeration fails before its
// end. The last error then says why.
bool ListRegSubkeys(plat::RegRoot root, const std::u16string& path, bool full_path,
                    std::list<std::u16string>& names);
// Deletes the key with its values and subkeys.
bool DeleteRegKey(plat::RegRoot root, const std::u16string& path);
// Copies a value as it is stored (its type and bytes) to another key and
// name, creating that key as needed. False with kErrorFileNotFound when the
// value is missing, with the last error when a read or write failed.
bool CopyRegValue(plat::RegRoot root, const std::u16string& from_path, const std::u16string& from_name,
                  const std::u16string& to_path, const std::u16string& to_name);
// True when the value is gone afterwards, also when it was never there.
bool DeleteRegValue(plat::RegRoot root, const std::u16string& path, const std::u16string& name);

// ---- Value names ------------------------------------------------------------
// "ButtonA" + letter, "2" for a double press, "h" when held. The builders give
// the empty text when the letter would wrap to zero; accessors then touch
// nothing.
std::u16string SlotValueName(uint32_t button, int32_t press_count, bool hold);
// "ButtonA-" + letter + key + count and hold suffixes. Empty when the key
// has more than 79 characters: the accessors then write nothing, read the
// empty text and log nothing.
std::u16string LaunchParamsValueName(const std::u16string& key, uint32_t button,
                                     int32_t press_count, bool hold);
// Per-button value names: template "EnabledA", "StateA" or "VirtualKeyA".
std::u16string ButtonValueName(const char16_t* name_template, uint32_t button);

// The longest assignment a button press can open: the launcher's working
// copies hold 300 characters with the terminating zero, and a longer path
// is refused rather than cut into another file's name.
constexpr size_t kMaxLaunchableAssignment = 299;

// ---- Accessors --------------------------------------------------------------
// The returned text lives in a module-owned result that the next call of the
// same operation overwrites; copy it to keep it.
void SetShortcut(uint32_t button, int32_t press_count, bool hold, const std::u16string& text);
const std::u16string& GetShortcut(uint32_t button, int32_t press_count, bool hold);
void SetLaunchParams(const std::u16string& key, uint32_t button, int32_t press_count,
                     bool hold, const std::u16string& text);
const std::u16string& GetLaunchParams(const std::u16string& key, uint32_t button,
                                      int32_t press_count, bool hold);
void SetEnabled(uint32_t button, bool enabled);
bool GetEnabled(uint32_t button);           // true when missing
// GetEnabled with a failed read told apart: false, with the last error set,
// when the registry could not be read. A missing value, or one of the wrong
// kind, reads as true, as GetEnabled has it.
bool ReadEnabled(uint32_t button, bool* enabled);
void SetState(uint32_t button, uint32_t state);
uint32_t GetState(uint32_t button);         // 0 when missing
void SetVirtualKey(uint32_t button, uint32_t code);  // stores the low 8 bits
uint32_t GetVirtualKey(uint32_t button);    // low 8 bits, 0 when missing

// Settings-key DWORDs with a default ("HoldInterval", "DblClickInterval").
uint32_t ReadSettingDword(const std::u16string& name, uint32_t default_value);
// Writes a settings-key DWORD; a failure is logged with the name and code.
bool WriteSettingDword(const std::u16string& name, uint32_t value);
