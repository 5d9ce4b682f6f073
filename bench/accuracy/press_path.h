// A way for the benchmark's presses to reach the programs: it plays a planned
// series on a button whose four slots are all assigned, each to an action
// that sends a key of its own, and reports the presses as they were really
// played and the slots dispatched.
#pragma once

#include <cstdint>
#include <string>

#include "bench/accuracy/series_plan.h"
#include "bench/accuracy/series_score.h"
#include "shared/press_rule.h"

namespace accuracy {

// Each slot's action, and the key its dispatch sends, on both builds.
struct SlotAction {
  Slot slot;
  const char* action;
  int key;
};
constexpr SlotAction kSlotActions[] = {
    {{1, false}, "<Page Up>", 0x21},
    {{1, true}, "<Page Down>", 0x22},
    {{2, false}, "<Scroll Up>", 0x26},
    {{2, true}, "<Scroll Down>", 0x28},
};
// The slot whose dispatch sends `key`; false for any other key.
bool SlotOfKey(int key, Slot* slot);

// CLOCK_MONOTONIC in nanoseconds.
int64_t NowNs();
// Sleeps until `deadline_ns` on that clock; false when a stop was asked for
// (SIGINT, SIGTERM), so that a path lets its key go and returns.
bool SleepUntilNs(int64_t deadline_ns);
void AskToStop();
bool StopAsked();

class PressPath {
 public:
  virtual ~PressPath() = default;
  // The intervals the button is set to.
  virtual press_rule::Timing timing() const = 0;
  // Plays `series` and waits until every launcher it started has ended.
  // False with the reason when the path itself failed; what was seen is in
  // *observed either way.
  virtual bool Play(const PlannedSeries& series, Observed* observed, std::string* problem) = 0;
};

}  // namespace accuracy
