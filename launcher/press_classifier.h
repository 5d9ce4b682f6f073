// Works out which kind of press one launcher process stands for, from the
// button's press counter, the two timings and, where its press is dated,
// when the key really went down and up; and dispatches at most one press
// slot. Several processes of one series cooperate only through the counter:
// a process acts only while the counter still holds its own value.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "shared/press_rule.h"

// Dispatches one press slot; the classification ignores the result.
using DispatchFunction = bool (*)(uint32_t button, int32_t press_count, bool hold);
using SleepFunction = void (*)(uint32_t ms);
// This process's dated press, as plat::GetOwnPress.
using OwnPressFunction = bool (*)(plat::OwnPress* press);
// Milliseconds, as plat::TickCount.
using ClockFunction = uint64_t (*)();

struct ClassifierHooks {
  DispatchFunction dispatch;
  SleepFunction sleep;
  OwnPressFunction own_press = nullptr;  // none: the press is timed from now
  ClockFunction clock = nullptr;         // none: plat::TickCount
};

constexpr uint32_t kMaxWaitMs = press_rule::kMaxWaitMs;
// How long a released press waits for the launcher of a next press that
// went down in its window to count itself in, from that key down; one that
// never comes (no launcher followed the key) leaves the press as it stands.
constexpr uint32_t kNextLauncherWaitMs = 3000;
// A launcher whose record shows earlier presses of its series that have not
// counted themselves in waits for them at least this long, and at most
// kNextLauncherWaitMs.
constexpr uint32_t kEarlierLauncherMinWaitMs = 100;
// How often it looks at the counter meanwhile.
constexpr uint32_t kNextLauncherPollMs = 5;

// The button index that the launcher's command line names: leading white
// space, an optional sign and decimal digits; no digits give 0.
uint32_t ButtonFromCommandLine(const std::u16string& command_line);

// Classifies one press of `button`; true when this process dispatched.
bool ClassifyPress(uint32_t button, const ClassifierHooks& hooks);
// The same with the real dispatch, the platform's sleep and its dates.
bool ClassifyPress(uint32_t button);
