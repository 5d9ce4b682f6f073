// The rule that reads presses from their key times, one press at a time and
// over whole series: the launcher's table of outcomes, with the time each
// outcome is due.
#include "shared/press_rule.h"

#include <gtest/gtest.h>

namespace {

using press_rule::ExtraSlots;
using press_rule::Look;
using press_rule::Outcome;
using press_rule::PlayedPress;
using press_rule::ReadSeries;
using press_rule::Timing;

constexpr uint64_t T = 100000;  // any moment; 0 means "not seen"

TEST(PressRule, TheHoldTestComesTheHoldIntervalAfterTheKeyWentDown) {
  const Timing timing{400, 400};
  // Still down, before the test: wait for it; at it: held.
  EXPECT_EQ(press_rule::JudgeHold({T, 0, 0}, T + 10, timing).look, Look::kWait);
  EXPECT_EQ(press_rule::JudgeHold({T, 0, 0}, T + 10, timing).until, T + 400);
  EXPECT_EQ(press_rule::JudgeHold({T, 0, 0}, T + 400, timing).look, Look::kHeld);
  // Let go before the test, or exactly at it: released, however late the look.
  EXPECT_EQ(press_rule::JudgeHold({T, T + 399, 0}, T + 5000, timing).look, Look::kReleased);
  EXPECT_EQ(press_rule::JudgeHold({T, T + 400, 0}, T + 5000, timing).look, Look::kReleased);
  // Let go after it: held, also when the launcher looks only now.
  EXPECT_EQ(press_rule::JudgeHold({T, T + 401, 0}, T + 5000, timing).look, Look::kHeld);
  EXPECT_EQ(press_rule::JudgeHold({T, T + 401, 0}, T + 10, timing).look, Look::kWait);
}

TEST(PressRule, ALetGoPressClosesItsSeriesAtTheLargerInterval) {
  for (const Timing timing : {Timing{400, 400}, Timing{300, 500}, Timing{600, 300}}) {
    const uint64_t end = T + std::max(timing.hold_ms, timing.double_ms);
    const plat::PressDates quick{T, T + 80, 0};
    EXPECT_EQ(press_rule::WindowEnd(T, timing), end);
    EXPECT_EQ(press_rule::Judge(quick, T + 90, timing).look, Look::kWait);
    EXPECT_EQ(press_rule::Judge(quick, T + 90, timing).until, end);
    EXPECT_EQ(press_rule::Judge(quick, end, timing).look, Look::kReleased);
    // The key down again inside the window is the series' next press, also
    // before the hold test and also after it; at the window's end it is not.
    EXPECT_EQ(press_rule::Judge({T, T + 80, T + 150}, T + 90, timing).look, Look::kNextPress);
    EXPECT_EQ(press_rule::Judge({T, T + 80, end - 1}, end + 900, timing).look, Look::kNextPress);
    EXPECT_EQ(press_rule::Judge({T, T + 80, end}, end + 900, timing).look, Look::kReleased);
  }
}

TEST(PressRule, CorruptIntervalsAreCutNotEndless) {
  // As signed numbers 0xFFFFFFFF is -1: the double-press interval is the
  // larger and its rest (401) follows the first wait, which is cut.
  const Timing corrupt{0xFFFFFFFF, 400};
  EXPECT_EQ(press_rule::HoldDeadline(T, corrupt), T + press_rule::kMaxWaitMs);
  EXPECT_EQ(press_rule::WindowEnd(T, corrupt), T + press_rule::kMaxWaitMs + 401);
  EXPECT_EQ(press_rule::WindowEnd(T, Timing{400, 0x7FFFFFFF}), T + 400 + press_rule::kMaxWaitMs);
  EXPECT_EQ(press_rule::WindowEnd(T, Timing{0, 0}), T);
}

// Presses of the same length, `gap` apart, the last one held for `last`.
std::vector<PlayedPress> Series(int count, uint64_t tap, uint64_t gap, uint64_t last) {
  std::vector<PlayedPress> presses;
  uint64_t at = T;
  for (int i = 0; i < count; ++i) {
    const uint64_t length = i + 1 == count ? last : tap;
    presses.push_back({at, at + length});
    at += length + gap;
  }
  return presses;
}

TEST(PressRule, TheLaunchersTableForEachKindOfPress) {
  const Timing timing{400, 400};
  const ExtraSlots all;
  const struct {
    const char* what;
    std::vector<PlayedPress> presses;
    std::vector<Outcome> outcomes;
  } cases[] = {
      {"single", Series(1, 100, 0, 100), {{1, false, 0, T + 400}}},
      {"hold", Series(1, 0, 0, 800), {{1, true, 0, T + 400}}},
      {"double", Series(2, 100, 130, 100), {{2, false, 1, T + 230 + 400}}},
      {"double and hold", Series(2, 100, 130, 800), {{2, true, 1, T + 230 + 400}}},
      {"triple", Series(3, 100, 130, 100), {{2, true, 2, T + 460}}},
      // A slow person's second press after the window: two single presses.
      {"slow double", Series(2, 170, 250, 170), {{1, false, 0, T + 400}, {1, false, 1, T + 420 + 400}}},
      // A hold, then a quick tap: the hold was decided before the tap began.
      {"hold then tap", {{T, T + 700}, {T + 800, T + 900}}, {{1, true, 0, T + 400}, {1, false, 1, T + 1200}}},
      // Four quick presses: the third ends a series, the fourth starts one.
      {"four", Series(4, 100, 130, 100), {{2, true, 2, T + 460}, {1, false, 3, T + 690 + 400}}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadSeries(c.presses, timing, all), c.outcomes) << c.what;
}

TEST(PressRule, UnassignedExtraSlotsCutTheSeriesShort) {
  const Timing timing{400, 400};
  const std::vector<PlayedPress> two = Series(2, 100, 130, 100);
  // Only the single press: every press goes at once, the counter untouched.
  EXPECT_EQ(ReadSeries(two, timing, ExtraSlots{false, false, false}),
            (std::vector<Outcome>{{1, false, 0, T}, {1, false, 1, T + 230}}));
  // No double press and hold: the second press goes at once.
  EXPECT_EQ(ReadSeries(two, timing, ExtraSlots{true, true, false}), (std::vector<Outcome>{{2, false, 1, T + 230}}));
  // Only the hold: a quick double still gives the (unassigned) double press.
  EXPECT_EQ(ReadSeries(two, timing, ExtraSlots{true, false, false}), (std::vector<Outcome>{{2, false, 1, T + 230}}));
  // A third press after a series the second press ended starts a new one.
  EXPECT_EQ(ReadSeries(Series(3, 100, 130, 100), timing, ExtraSlots{true, true, false}),
            (std::vector<Outcome>{{2, false, 1, T + 230}, {1, false, 2, T + 460 + 400}}));
}

TEST(PressRule, TheIntervalsDecideWhereASeriesEnds) {
  // A tap of 170 and a gap of 250: the second press comes 420 after the first.
  const std::vector<PlayedPress> slow = Series(2, 170, 250, 170);
  EXPECT_EQ(ReadSeries(slow, Timing{400, 400}, ExtraSlots{}).size(), 2u);
  EXPECT_EQ(ReadSeries(slow, Timing{450, 850}, ExtraSlots{}),
            (std::vector<Outcome>{{2, false, 1, T + 420 + 850}}));
  // A hurried hold of 350 is a single press at 400 and a hold at 300.
  const std::vector<PlayedPress> hurried = Series(1, 0, 0, 350);
  EXPECT_EQ(ReadSeries(hurried, Timing{400, 400}, ExtraSlots{}),
            (std::vector<Outcome>{{1, false, 0, T + 400}}));
  EXPECT_EQ(ReadSeries(hurried, Timing{300, 500}, ExtraSlots{}),
            (std::vector<Outcome>{{1, true, 0, T + 300}}));
}

// What each press's launcher should find in the counter, given the presses
// before it: the launcher waits for any it finds missing.
TEST(PressRule, TheCounterEachPressFinds) {
  const Timing timing{400, 400};
  const auto counter = [&](const std::vector<PlayedPress>& played, const ExtraSlots& extra) {
    std::vector<uint32_t> found;
    for (size_t k = 0; k < played.size(); ++k) {
      const std::vector<PlayedPress> earlier(played.begin(), played.begin() + k);
      found.push_back(press_rule::CounterAtKeyDown(earlier, played[k].down, timing, extra));
    }
    return found;
  };
  // Taps in quick succession: first, second, third, then a new series.
  EXPECT_EQ(counter(Series(5, 100, 130, 100), ExtraSlots{}), (std::vector<uint32_t>{0, 1, 2, 0, 1}));
  // A press after a hold, or after the window closed, begins a series.
  EXPECT_EQ(counter({{T, T + 500}, {T + 600, T + 700}}, ExtraSlots{}), (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(counter({{T, T + 100}, {T + 400, T + 500}}, ExtraSlots{}), (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(counter({{T, T + 100}, {T + 399, T + 500}}, ExtraSlots{}), (std::vector<uint32_t>{0, 1}));
  // Where the second press ends the series, or every press goes at once,
  // no launcher ever finds a third press.
  EXPECT_EQ(counter(Series(4, 100, 130, 100), ExtraSlots{true, true, false}),
            (std::vector<uint32_t>{0, 1, 0, 1}));
  EXPECT_EQ(counter(Series(3, 100, 130, 100), ExtraSlots{false, false, false}),
            (std::vector<uint32_t>{0, 0, 0}));
}

}  // namespace
