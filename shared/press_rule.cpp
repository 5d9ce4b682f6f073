#include "shared/press_rule.h"

#include <limits>
#include <utility>

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

namespace {

// The counter protocol with launchers that count themselves in the moment
// their key goes down.
class Series {
 public:
  Series(const std::vector<PlayedPress>& presses, const Timing& timing, const ExtraSlots& extra)
      : presses_(presses), timing_(timing), extra_(extra) {}

  // Press k's key down: the waiting launcher learns of it, then press k's
  // launcher reads the counter.
  void KeyDown(size_t k) {
    if (waiting_) Settle(presses_[k].down);
    const uint64_t at = presses_[k].down;
    if (counter_ >= 2) {
      counter_ = 0;
      waiting_ = false;
      outcomes_.push_back({2, true, k, at});
    } else if (counter_ == 0 && !extra_.held && !extra_.double_press && !extra_.double_held) {
      outcomes_.push_back({1, false, k, at});
    } else if (counter_ == 1 && !extra_.double_held) {
      counter_ = 0;
      waiting_ = false;
      outcomes_.push_back({2, false, k, at});
    } else {
      counter_ += 1;
      waiting_ = true;
      waiter_ = k;
    }
  }

  // The waiting launcher's answer, knowing the key's next down (0: none).
  void Settle(uint64_t next_down) {
    if (!waiting_) return;
    const plat::PressDates dates{presses_[waiter_].down, presses_[waiter_].up, next_down};
    const Verdict verdict = Judge(dates, std::numeric_limits<uint64_t>::max(), timing_);
    if (verdict.look == Look::kNextPress) return;  // the next press reads the counter
    const bool held = verdict.look == Look::kHeld;
    outcomes_.push_back({static_cast<int>(counter_), held, waiter_,
                         held ? HoldDeadline(dates.down, timing_) : WindowEnd(dates.down, timing_)});
    counter_ = 0;
    waiting_ = false;
  }

  uint32_t counter() const { return counter_; }
  std::vector<Outcome>& outcomes() { return outcomes_; }

 private:
  const std::vector<PlayedPress>& presses_;
  const Timing& timing_;
  const ExtraSlots& extra_;
  std::vector<Outcome> outcomes_;
  uint32_t counter_ = 0;
  bool waiting_ = false;
  size_t waiter_ = 0;  // the press whose launcher waits, with press number counter_
};

}  // namespace

std::vector<Outcome> ReadSeries(const std::vector<PlayedPress>& presses, const Timing& timing,
                                const ExtraSlots& extra) {
  Series series(presses, timing, extra);
  for (size_t k = 0; k < presses.size(); ++k) series.KeyDown(k);
  series.Settle(0);
  return std::move(series.outcomes());
}

uint32_t CounterAtKeyDown(const std::vector<PlayedPress>& earlier, uint64_t down, const Timing& timing,
                          const ExtraSlots& extra) {
  Series series(earlier, timing, extra);
  for (size_t k = 0; k < earlier.size(); ++k) series.KeyDown(k);
  series.Settle(down);
  return series.counter();
}

}  // namespace press_rule
