#include "platform/common/key_history.h"

namespace common {

void DateOwnPress(const KeyMove* moves, size_t count, size_t own, plat::OwnPress* press) {
  press->recorded = true;
  press->dates.down = moves[own].at;
  for (size_t i = own + 1; i < count; ++i) {
    if (moves[i].up && press->dates.up == 0) {
      press->dates.up = moves[i].at;
    } else if (!moves[i].up && press->dates.up != 0) {
      press->dates.next_down = moves[i].at;
      break;
    }
  }
  // Back from the press: each earlier down with the up that followed it (0
  // when none was seen) and the down that came next.
  uint64_t up = 0;
  uint64_t next_down = press->dates.down;
  press->earlier_count = 0;
  for (size_t i = own; i > 0 && press->earlier_count < plat::OwnPress::kEarlier; --i) {
    const KeyMove& move = moves[i - 1];
    if (move.up) {
      up = move.at;
      continue;
    }
    press->earlier[press->earlier_count++] = {move.at, up, next_down};
    next_down = move.at;
    up = 0;
  }
}

}  // namespace common
