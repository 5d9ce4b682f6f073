#include "shared/press_rule.h"

#include <limits>

namespace press_rule {
namespace {

uint64_t Cut(int64_t ms) { return ms <= 0 ? 0 : ms > kMaxWaitMs ? kMaxWaitMs : static_cast<uint64_t>(ms); }

}  // namespace

uint64_t HoldDeadline(uint64_t down, const Timing& timing) {
  return down + Cut(static_cast<int64_t>(timing.hold_ms));
}

uint64_t WindowEnd(uint64_t down, const Timing& timing) {
  // The stored intervals are compared as signed numbers, as they always were:
  // a corrupt hold interval of 0xFFFFFFFF is -1, so the double-press
  // interval is the larger and its rest follows the cut first wait.
  const int64_t h = static_cast<int32_t>(timing.hold_ms);
  const int64_t d = static_cast<int32_t>(timing.double_ms);
  return HoldDeadline(down, timing) + (d > h ? Cut(d - h) : 0);
}

Verdict JudgeHold(const plat::PressDates& dates, uint64_t now, const Timing& timing) {
  const uint64_t deadline = HoldDeadline(dates.down, timing);
  if (dates.up != 0 && dates.up <= deadline) return {Look::kReleased};
  if (now < deadline) return {Look::kWait, deadline};
  return {Look::kHeld};
}

Verdict JudgeWindow(const plat::PressDates& dates, uint64_t now, const Timing& timing) {
  const uint64_t end = WindowEnd(dates.down, timing);
  if (dates.next_down != 0 && dates.next_down < end) return {Look::kNextPress};
  if (now < end) return {Look::kWait, end};
  return {Look::kReleased};
}

Verdict Judge(const plat::PressDates& dates, uint64_t now, const Timing& timing) {
  const Verdict hold = JudgeHold(dates, now, timing);
  return hold.look == Look::kReleased ? JudgeWindow(dates, now, timing) : hold;
}

std::vector<Outcome> ReadSeries(const std::vector<PlayedPress>& presses, const Timing& timing,
                                const ExtraSlots& extra) {
  std::vector<Outcome> outcomes;
  uint32_t counter = 0;
  bool waiting = false;
  size_t waiter = 0;  // the press whose launcher waits, with press number counter
  // The waiting launcher's answer, knowing the key's next down (0: none).
  const auto settle = [&](uint64_t next_down) {
    const plat::PressDates dates{presses[waiter].down, presses[waiter].up, next_down};
    const Verdict verdict = Judge(dates, std::numeric_limits<uint64_t>::max(), timing);
    if (verdict.look == Look::kNextPress) return;  // the next press reads the counter
    const bool held = verdict.look == Look::kHeld;
    outcomes.push_back({static_cast<int>(counter), held, waiter,
                        held ? HoldDeadline(dates.down, timing) : WindowEnd(dates.down, timing)});
    counter = 0;
    waiting = false;
  };
  for (size_t k = 0; k < presses.size(); ++k) {
    if (waiting) settle(presses[k].down);
    const uint64_t at = presses[k].down;
    if (counter >= 2) {
      counter = 0;
      waiting = false;
      outcomes.push_back({2, true, k, at});
    } else if (counter == 0 && !extra.held && !extra.double_press && !extra.double_held) {
      outcomes.push_back({1, false, k, at});
    } else if (counter == 1 && !extra.double_held) {
      counter = 0;
      waiting = false;
      outcomes.push_back({2, false, k, at});
    } else {
      counter += 1;
      waiting = true;
      waiter = k;
    }
  }
  if (waiting) settle(0);
  return outcomes;
}

}  // namespace press_rule
