#include "launcher/press_classifier.h"

#include "launcher/dispatch.h"
#include "platform/platform.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"

namespace {

constexpr uint32_t kDefaultIntervalMs = 400;

bool IsUnassigned(const std::u16string& assignment) {
  return assignment.empty() ||
         FindSpecialAction(assignment) == static_cast<int>(SpecialAction::kDoNothing);
}

void Wait(const ClassifierHooks& hooks, int64_t ms) {
  if (ms <= 0) return;
  hooks.sleep(ms > kMaxWaitMs ? kMaxWaitMs : static_cast<uint32_t>(ms));
}

void PlatformSleep(uint32_t ms) { plat::Sleep(ms); }

// Both dates of a press are whole milliseconds.
constexpr uint64_t kDateSlackMs = 3;

// Whether the key last went down after the press this process dated itself
// by, or, undated, after the process first looked: the next press, not this
// one held.
bool DownAgain(const ClassifierHooks& hooks, uint8_t key, uint32_t dated, uint64_t dated_at) {
  if (hooks.press_age == nullptr) return false;
  const uint32_t age_now = hooks.press_age(key);
  if (age_now == 0) return false;
  const uint64_t own_age = dated + (plat::TickCount() - dated_at);
  return age_now + kDateSlackMs < own_age;
}

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
  const uint32_t h = ReadSettingDword(u"HoldInterval", kDefaultIntervalMs);
  SetState(button, m);
  // The hold is tested h after the press, not h after this process got
  // going, which comes some milliseconds after the key went down. A press
  // the platform cannot date, or one already older than h (a key held since
  // before this process, or a start too late to keep time), gets the full h.
  // A hold needs no other process: the key has been down since the press.
  const uint8_t key = static_cast<uint8_t>(GetVirtualKey(button));
  const uint32_t age = hooks.press_age != nullptr ? hooks.press_age(key) : 0;
  const uint32_t dated = age < h ? age : 0;  // 0: no date to go by
  const uint64_t dated_at = plat::TickCount();
  Wait(hooks, static_cast<int64_t>(h) - dated);
  if (GetState(button) != m) return false;

  // Down again is not still down: the next press of a quick series may go
  // down just before h, and its process count itself in only after this test.
  const bool down = (plat::GetAsyncKeyState(key) & 0x8000) != 0;
  if (down && !DownAgain(hooks, key, dated, dated_at)) {
    SetState(button, 0);
    hooks.dispatch(button, static_cast<int32_t>(m), true);
    return true;
  }

  // Released: the last look at the counter comes the larger interval after
  // the press. A next press that went down by then belongs to the series,
  // but its process needs as long to start and count itself in as this one
  // took: then the look waits until this process's own clock ends the
  // window, as it would for an undated press.
  const uint32_t d = ReadSettingDword(u"DblClickInterval", kDefaultIntervalMs);
  const int32_t signed_d = static_cast<int32_t>(d);
  const int32_t signed_h = static_cast<int32_t>(h);
  const int64_t rest = signed_d > signed_h ? static_cast<int64_t>(signed_d) - signed_h : 0;
  Wait(hooks, rest);
  if (GetState(button) != m) return false;
  if (dated != 0 && DownAgain(hooks, key, dated, dated_at)) {
    Wait(hooks, dated);
    if (GetState(button) != m) return false;
  }

  SetState(button, 0);
  hooks.dispatch(button, static_cast<int32_t>(m), false);
  return true;
}

bool ClassifyPress(uint32_t button) {
  return ClassifyPress(button, ClassifierHooks{DispatchPressSlot, PlatformSleep, plat::GetPressAge});
}
