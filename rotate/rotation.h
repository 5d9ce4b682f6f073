// One rotation step of the display: from the current orientation to the
// next one of the chosen set along 0 -> 90 -> 180 -> 270 -> 0 degrees.
#pragma once

#include <cstdint>
#include <string>

// Bits of the orientation mask.
constexpr uint32_t kMask0 = 1;
constexpr uint32_t kMask90 = 2;
constexpr uint32_t kMask180 = 4;
constexpr uint32_t kMask270 = 8;
// Used when the low four bits of the command line's number are all zero.
constexpr uint32_t kDefaultMask = kMask0 | kMask90;

// The command line as a number: leading white space, an optional sign,
// decimal digits up to the first other character; no digits give 0; values
// beyond 32 bits clamp.
int32_t ParseCommandNumber(const std::u16string& command_line);

// The low four bits of the command line's number, or kDefaultMask.
uint32_t MaskFromCommandLine(const std::u16string& command_line);

// The platform orientation value that follows `current` in the cycle and
// whose bit is set in `mask` (the current one again when only its bit is
// set). A current value the platform never reports counts as 0 degrees.
uint32_t NextOrientation(uint32_t current, uint32_t mask);

// Queries, chooses and applies; shows the unsupported-display message when
// the platform refuses the new orientation.
void RotateDisplay(const std::u16string& command_line);
