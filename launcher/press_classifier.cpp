#include "launcher/press_classifier.h"

#include <algorithm>

#include "launcher/dispatch.h"
#include "platform/platform.h"
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

}  // namespace

uint32_t ButtonFromCommandLine(const std::u16string& command_line) {
  return static_cast<uint32_t>(TextToLong(command_line));
}

bool ClassifyPress(uint32_t button, const ClassifierHooks& hooks) {
  const uint32_t n = GetState(button);

  // A third press: whoever waits as the second press gives way.
  if (n >= 2) {
    SetState(button, 0);
    hooks.dispatch(button, 2, true);
    return true;
  }

  // Each read overwrites the shared result, so each is copied at once.
  const std::u16string held = GetShortcut(button, 1, true);
  const std::u16string double_press = GetShortcut(button, 2, false);
  const std::u16string double_held = GetShortcut(button, 2, true);
  const bool held_free = IsUnassigned(held);
  const bool double_free = IsUnassigned(double_press);
  const bool double_held_free = IsUnassigned(double_held);

  if (n == 0 && held_free && double_free && double_held_free) {
    hooks.dispatch(button, 1, false);
    return true;
  }
  if (n == 1 && double_held_free) {
    SetState(button, 0);
    hooks.dispatch(button, 2, false);
    return true;
  }

  const uint32_t m = n + 1;
  press_rule::Timing timing;
  timing.hold_ms = ReadSettingDword(u"HoldInterval", press_rule::kDefaultIntervalMs);
  SetState(button, m);
  // The waits count from when the key went down, however late this process
  // began; a press that no one dated counts from now.
  Press press(hooks);
  const uint64_t hold_deadline = press_rule::HoldDeadline(press.dates().down, timing);
  int undated_key = 0;
  Verdict verdict{Look::kWait};
  for (;;) {
    if (!press.dated() && press.now() >= hold_deadline) undated_key = static_cast<uint8_t>(GetVirtualKey(button));
    press.Look(hold_deadline, undated_key);
    verdict = press_rule::JudgeHold(press.dates(), press.now(), timing);
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
  timing.double_ms = ReadSettingDword(u"DblClickInterval", press_rule::kDefaultIntervalMs);
  for (;;) {
    verdict = press_rule::JudgeWindow(press.dates(), press.now(), timing);
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
