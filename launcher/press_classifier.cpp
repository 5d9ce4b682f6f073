#include "launcher/press_classifier.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "launcher/dispatch.h"
#include "platform/platform.h"
#include "shared/button_model.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"

namespace {

using press_rule::Look;
using press_rule::Verdict;

bool IsUnassigned(const std::u16string& assignment) {
  return assignment.empty() ||
         FindSpecialAction(assignment) == static_cast<int>(SpecialAction::kDoNothing);
}

void PlatformSleep(uint32_t ms) { plat::Sleep(ms); }

// The press this process stands for, and the clock it is judged by. A test's
// sleeps take no time, so the clock also moves by what was slept.
class Press {
 public:
  explicit Press(const ClassifierHooks& hooks)
      : hooks_(hooks), clock_(hooks.clock != nullptr ? hooks.clock : plat::TickCount), now_(clock_()) {
    dated_ = hooks.own_press != nullptr && hooks.own_press(&own_);
    // Undated, the press is as old as this process's first look.
    if (!dated_) own_.dates.down = now_;
  }

  bool dated() const { return dated_; }
  const plat::OwnPress& own() const { return own_; }
  // An undated press is as old as the launcher's first look at its timing.
  void Restart() {
    now_ = std::max(now_, clock_());
    if (!dated_) own_.dates.down = now_;
  }
  int key() const { return own_.virtual_key; }
  uint64_t now() const { return now_; }
  const plat::PressDates& dates() const { return own_.dates; }

  // What the record knows now. At the hold test and after it, a key that
  // the record has not seen go up is asked for: up already, it went up at a
  // time the record missed (none kept, or its keeper ended), and counts as
  // let go in time, as it always did without dates.
  void Look(uint64_t hold_deadline, int undated_key) {
    now_ = std::max(now_, clock_());
    if (dated_) {
      plat::OwnPress again;
      if (hooks_.own_press(&again) && again.dates.down == own_.dates.down) own_ = again;
    }
    if (now_ < hold_deadline || own_.dates.up != 0) return;
    const int key = dated_ ? own_.virtual_key : undated_key;
    if ((plat::GetAsyncKeyState(key) & 0x8000) == 0) own_.dates.up = own_.dates.down;
  }

  void Wait(uint64_t until) {
    if (until <= now_) return;
    const uint64_t ms = std::min<uint64_t>(until - now_, kMaxWaitMs);
    hooks_.sleep(static_cast<uint32_t>(ms));
    now_ = std::max(now_ + ms, clock_());
  }

 private:
  const ClassifierHooks& hooks_;
  const ClockFunction clock_;
  plat::OwnPress own_;
  bool dated_ = false;
  uint64_t now_;
};

// Which of the three extra slots hold an assignment. Each read overwrites
// the shared result, so each is tested at once.
press_rule::ExtraSlots ReadExtraSlots(uint32_t button) {
  press_rule::ExtraSlots extra;
  extra.held = !IsUnassigned(GetShortcut(button, 1, true));
  extra.double_press = !IsUnassigned(GetShortcut(button, 2, false));
  extra.double_held = !IsUnassigned(GetShortcut(button, 2, true));
  return extra;
}

// The counter this press's launcher should find, from the presses of its
// series that the record holds; 0 where the series' start is not held.
uint32_t ExpectedCounter(const plat::OwnPress& own, const press_rule::Timing& timing,
                         const press_rule::ExtraSlots& extra) {
  constexpr uint64_t kLater = ~uint64_t{0};
  int linked = 0;
  while (linked < own.earlier_count &&
         press_rule::Judge(own.earlier[linked], kLater, timing).look == Look::kNextPress)
    ++linked;
  if (linked == plat::OwnPress::kEarlier) return 0;
  std::vector<press_rule::PlayedPress> series;
  for (int i = linked - 1; i >= 0; --i) series.push_back({own.earlier[i].down, own.earlier[i].up});
  return press_rule::CounterAtKeyDown(series, own.dates.down, timing, extra);
}

// The button's own intervals where it has them, else the global ones.
press_rule::Timing ReadTiming(uint32_t button) {
  press_rule::Timing timing;
  timing.hold_ms = ReadButtonSetting(kHoldIntervalSetting, button);
  timing.double_ms = ReadButtonSetting(kDoubleIntervalSetting, button);
  return timing;
}

}  // namespace

uint32_t ButtonFromCommandLine(const std::u16string& command_line) {
  return static_cast<uint32_t>(TextToLong(command_line));
}

bool ClassifyPress(uint32_t button, const ClassifierHooks& hooks) {
  Press press(hooks);
  // Read when first needed: an at-once dispatch needs neither.
  std::optional<press_rule::Timing> timing;
  std::optional<press_rule::ExtraSlots> extra;
  uint32_t n = GetState(button);

  // A launcher can start before the launcher of the press before it has
  // counted itself in (two processes started late by different amounts):
  // where the record shows that press in this one's series, wait for it.
  if (n < 2 && press.dated() && press.own().earlier_count > 0) {
    extra = ReadExtraSlots(button);
    timing = ReadTiming(button);
    const uint32_t expected = ExpectedCounter(press.own(), *timing, *extra);
    // Launchers started under the same load start about as late: one that
    // has not come by four times this one's lateness is not coming (a
    // launcher that took an old counter for a third press has already gone).
    const uint64_t late = press.now() - std::min(press.now(), press.dates().down);
    const uint64_t give_up =
        press.now() + std::clamp<uint64_t>(4 * late, kEarlierLauncherMinWaitMs, kNextLauncherWaitMs);
    while (n < expected && press.now() < give_up) {
      press.Wait(std::min<uint64_t>(press.now() + kNextLauncherPollMs, give_up));
      n = GetState(button);
    }
  }

  // A third press: whoever waits as the second press gives way.
  if (n >= 2) {
    SetState(button, 0);
    hooks.dispatch(button, 2, true);
    return true;
  }

  if (!extra) extra = ReadExtraSlots(button);
  if (n == 0 && !extra->held && !extra->double_press && !extra->double_held) {
    hooks.dispatch(button, 1, false);
    return true;
  }
  if (n == 1 && !extra->double_held) {
    SetState(button, 0);
    hooks.dispatch(button, 2, false);
    return true;
  }

  const uint32_t m = n + 1;
  if (!timing) timing = ReadTiming(button);
  SetState(button, m);
  // The waits count from when the key went down, however late this process
  // began; a press that no one dated counts from its first look.
  press.Restart();
  const uint64_t hold_deadline = press_rule::HoldDeadline(press.dates().down, *timing);
  int undated_key = 0;
  Verdict verdict{Look::kWait};
  for (;;) {
    if (!press.dated() && press.now() >= hold_deadline) undated_key = static_cast<uint8_t>(GetVirtualKey(button));
    press.Look(hold_deadline, undated_key);
    verdict = press_rule::JudgeHold(press.dates(), press.now(), *timing);
    if (verdict.look != Look::kWait) break;
    press.Wait(verdict.until);
    if (GetState(button) != m) return false;
  }
  if (verdict.look == Look::kHeld) {
    SetState(button, 0);
    hooks.dispatch(button, static_cast<int32_t>(m), true);
    return true;
  }

  // Let go in time: the series closes the larger interval after the press,
  // unless the key went down again before then.
  for (;;) {
    verdict = press_rule::JudgeWindow(press.dates(), press.now(), *timing);
    if (verdict.look != Look::kWait) break;
    press.Wait(verdict.until);
    press.Look(hold_deadline, undated_key);
  }
  if (verdict.look == Look::kNextPress) {
    // The next press's launcher counts itself in as soon as it runs, which
    // on a busy machine can be long after its key went down.
    const uint64_t give_up = std::max(press.now(), press.dates().next_down) + kNextLauncherWaitMs;
    while (press.now() < give_up) {
      if (GetState(button) != m) return false;
      press.Wait(std::min<uint64_t>(press.now() + kNextLauncherPollMs, give_up));
    }
  }
  if (GetState(button) != m) return false;

  SetState(button, 0);
  hooks.dispatch(button, static_cast<int32_t>(m), false);
  return true;
}

bool ClassifyPress(uint32_t button) {
  return ClassifyPress(button, ClassifierHooks{DispatchPressSlot, PlatformSleep, plat::GetOwnPress});
}
