// The rule that reads a press from its key's dated events: when the key went
// down, when it went up again and when it next went down. One pure function
// of those times and the two intervals, so that the launcher, which applies
// it to one press at a time, and a model of a whole series (benchmarks,
// tests) cannot disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace press_rule {

// The longest single wait. A corrupt interval (0xFFFFFFFF would be an
// endless sleep on the device) must not leave a launcher hanging with the
// counter taken.
constexpr uint32_t kMaxWaitMs = 60000;
constexpr uint32_t kDefaultIntervalMs = 400;

// The two intervals as stored, in milliseconds.
struct Timing {
  uint32_t hold_ms = kDefaultIntervalMs;
  uint32_t double_ms = kDefaultIntervalMs;
};

// When the hold test falls: the hold interval after the key went down.
uint64_t HoldDeadline(uint64_t down, const Timing& timing);
// When a released press's series closes: the larger interval after the key
// went down (the intervals compared as signed numbers, each wait cut at
// kMaxWaitMs).
uint64_t WindowEnd(uint64_t down, const Timing& timing);

enum class Look {
  kWait,       // not decided yet: look again at `until`
  kHeld,       // the key was still down at the hold test
  kReleased,   // let go before the hold test, and no next press in the window
  kNextPress,  // let go, and the key went down again within the window: the
               // series goes on with that press
};
struct Verdict {
  Look look;
  uint64_t until = 0;  // kWait: when the answer can change
};

// The hold test of the press `dates` as the record holds it at `now` (all
// in TickCount() milliseconds; an up or next down of 0 is one not seen yet):
// kWait, kHeld, or kReleased for a key let go by then (JudgeWindow tells
// what follows). A key let go exactly at the hold test counts as let go.
// It needs only the hold interval.
Verdict JudgeHold(const plat::PressDates& dates, uint64_t now, const Timing& timing);
// What follows a press let go before its hold test: kWait, kNextPress or
// kReleased.
Verdict JudgeWindow(const plat::PressDates& dates, uint64_t now, const Timing& timing);
// The whole rule: JudgeHold, then JudgeWindow for a press let go in time.
Verdict Judge(const plat::PressDates& dates, uint64_t now, const Timing& timing);

// ---- A whole series, as ideal launchers would read it -------------------

// Which of the three extra slots hold an assignment.
struct ExtraSlots {
  bool held = true;
  bool double_press = true;
  bool double_held = true;
};

// One press as played: key down and key up, in milliseconds.
struct PlayedPress {
  uint64_t down;
  uint64_t up;
};

// One dispatch: the slot, which press's launcher makes it (0-based) and
// when the rule makes it.
struct Outcome {
  int press_count;
  bool hold;
  size_t by_press;
  uint64_t at;
  bool operator==(const Outcome&) const = default;
};

// What the launcher's counter protocol gives for `presses` (in order, each
// up before the next down) when every launcher counts itself in the moment
// its key goes down: the table of the launcher's rule applied to the key
// times as played.
std::vector<Outcome> ReadSeries(const std::vector<PlayedPress>& presses, const Timing& timing,
                                const ExtraSlots& extra);

// The counter that the launcher of a press going down at `down` reads when
// every launcher before it counted itself in: `earlier` are the key's
// presses before it, from one that began a series on.
uint32_t CounterAtKeyDown(const std::vector<PlayedPress>& earlier, uint64_t down, const Timing& timing,
                          const ExtraSlots& extra);

}  // namespace press_rule
