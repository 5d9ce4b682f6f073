// Names of virtual keys as a person knows them, shared by both backends.
// Private to platform/.
#pragma once

#include <cstdint>
#include <string>

namespace plat::common {

// The standard name of a key ("F6", "Enter", "A", "Volume Up"); "Key 0xNN"
// for a code without one (and "Key 0x1NN" style for codes above 0xFF).
std::u16string StandardKeyName(uint32_t virtual_key);

// True when `a` and `b` name the same key: letter case, blanks, '-' and '_'
// do not count ("volume-up" is "Volume Up").
bool SameKeyName(const std::u16string& a, const std::u16string& b);

// The code whose standard name is `name` (as SameKeyName compares), or a
// "Key 0xNN" name read back; false when none.
bool KeyCodeOfName(const std::u16string& name, uint32_t* virtual_key);

}  // namespace plat::common
