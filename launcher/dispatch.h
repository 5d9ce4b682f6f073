// Carries out one press slot: a special action through the platform, or the
// assigned file opened through the shell, then the closing report in
// "launch.log" where the action leads to one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "shared/settings.h"

// Working copies of an assignment hold this many characters with the zero.
constexpr size_t kWorkingBufferChars = kMaxLaunchableAssignment + 1;

// Copies `text` with its terminating zero into `buffer` of `capacity`
// characters. A text that does not fit is cut to capacity - 1 characters
// and false is returned; nothing is written past the buffer.
bool CopyToBuffer(char16_t* buffer, size_t capacity, const std::u16string& text);

// "Error opening shortcut \"<file>\": <code in lower-case hex>".
std::u16string ShellFailureText(const std::u16string& file, uint32_t error);

// Dispatches the slot (button, press count 1 or 2, hold); false on failure.
// An assignment too long for the working buffers is refused with a message,
// never cut and launched: a cut path could name another file.
bool DispatchPressSlot(uint32_t button, int32_t press_count, bool hold);

// Tells the person that the press met a damaged registry (the error, as
// plat::RegistryDamage gives it).
void ReportRegistryDamage(uint32_t error);
