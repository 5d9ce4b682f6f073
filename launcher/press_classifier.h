// Works out which kind of press one launcher process stands for, from the
// button's press counter and the two timings, and dispatches at most one
// press slot. Several processes of one series cooperate only through the
// counter: a process acts only while the counter still holds its own value.
#pragma once

#include <cstdint>
#include <string>

// Dispatches one press slot; the classification ignores the result.
using DispatchFunction = bool (*)(uint32_t button, int32_t press_count, bool hold);
using SleepFunction = void (*)(uint32_t ms);
// How long ago the key last went down, 0 when unknown (plat::GetPressAge).
using PressAgeFunction = uint32_t (*)(int virtual_key);

struct ClassifierHooks {
  DispatchFunction dispatch;
  SleepFunction sleep;
  PressAgeFunction press_age = nullptr;  // none: waits count from now
};

// The longest single wait. A corrupt timing (0xFFFFFFFF would be an
// endless sleep on the device) must not leave a launcher hanging with the
// counter taken.
constexpr uint32_t kMaxWaitMs = 60000;

// The button index that the launcher's command line names: leading white
// space, an optional sign and decimal digits; no digits give 0.
uint32_t ButtonFromCommandLine(const std::u16string& command_line);

// Classifies one press of `button`; true when this process dispatched.
bool ClassifyPress(uint32_t button, const ClassifierHooks& hooks);
// The same with the real dispatch and the platform's sleep.
bool ClassifyPress(uint32_t button);
