// What a launcher learns of its press from a key's recorded downs and ups,
// whichever platform keeps them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace common {

// One recorded move of the press's key, in this process's TickCount().
struct KeyMove {
  uint64_t at;
  bool up;
};

// Fills `press` from the moves of its key, oldest first, of which
// moves[own] is the press's own key down: the up and next down after it,
// and the presses before it, the latest first.
void DateOwnPress(const KeyMove* moves, size_t count, size_t own, plat::OwnPress* press);

}  // namespace common
