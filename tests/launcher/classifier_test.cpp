// The classification of one press, with the sleeps replaced by a hook that
// records them and can play the part of other launcher processes (a later
// press writing the counter, the user letting go of the button).
#include <chrono>
#include <climits>
#include <functional>
#include <thread>
#include <vector>

#include "launcher/press_classifier.h"
#include "shared/settings.h"
#include "tests/launcher/launcher_fixture.h"

namespace {

struct Dispatched {
  uint32_t button;
  int32_t press_count;
  bool hold;
  bool operator==(const Dispatched&) const = default;
};

std::vector<Dispatched> dispatched;
std::vector<uint32_t> sleeps;
// Runs during the sleep with this number (0 = the hold wait).
std::function<void(size_t)> during_sleep;

bool RecordDispatch(uint32_t button, int32_t press_count, bool hold) {
  dispatched.push_back({button, press_count, hold});
  return true;
}

void RecordSleep(uint32_t ms) {
  sleeps.push_back(ms);
  if (during_sleep) during_sleep(sleeps.size() - 1);
}

// Press dates for the age hook: offsets in milliseconds from the moment the
// process first asks (kUndated: no date), one for each question and the last
// one for every question after it; ages grow as real time passes.
constexpr int64_t kUndated = INT64_MIN;
std::vector<int64_t> press_dates;
uint64_t dates_origin = 0;

void DatePresses(std::vector<int64_t> dates) {
  press_dates = std::move(dates);
  dates_origin = 0;
}

uint32_t DatedAge(int) {
  if (dates_origin == 0) dates_origin = plat::TickCount();
  const int64_t date = press_dates.front();
  if (press_dates.size() > 1) press_dates.erase(press_dates.begin());
  return date == kUndated ? 0u
                          : static_cast<uint32_t>(static_cast<int64_t>(plat::TickCount() - dates_origin) - date);
}

constexpr uint32_t kButton = 1;  // letter B
constexpr int kKey = 0xC2;

class ClassifierTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    dispatched.clear();
    sleeps.clear();
    during_sleep = nullptr;
    SetVirtualKey(kButton, kKey);
    WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"HoldInterval", 30);
    WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"DblClickInterval", 50);
  }
  void TearDown() override {
    device::SetKeyDown(kKey, false);
    during_sleep = nullptr;
    LauncherTest::TearDown();
  }
  bool Press() { return ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep}); }
  static void AssignAll() {
    SetShortcut(kButton, 1, false, u"<Page Up>");
    SetShortcut(kButton, 1, true, u"<Page Down>");
    SetShortcut(kButton, 2, false, u"<Scroll Up>");
    SetShortcut(kButton, 2, true, u"<Scroll Down>");
  }
  static void DeleteSetting(const std::u16string& name) {
    plat::RegKey key = plat::RegOpenKey(plat::RegRoot::LocalMachine, kSettingsKey, plat::kKeySetValue);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(plat::RegDeleteValue(key, name));
    plat::RegCloseKey(key);
  }
  static bool CounterStored() {
    std::vector<device::RegValue> values;
    device::ListValues(plat::RegRoot::LocalMachine, kSettingsKey, &values);
    for (const auto& value : values) {
      if (plat::CompareNoCase(value.name, u"StateB") == 0) return true;
    }
    return false;
  }
};

TEST(LauncherCommandLine, ButtonIndexFromText) {
  EXPECT_EQ(ButtonFromCommandLine(u"3"), 3u);
  EXPECT_EQ(ButtonFromCommandLine(u" 12"), 12u);
  EXPECT_EQ(ButtonFromCommandLine(u""), 0u);
  EXPECT_EQ(ButtonFromCommandLine(u"x"), 0u);
  EXPECT_EQ(ButtonFromCommandLine(u"7 extra"), 7u);
}

TEST_F(ClassifierTest, SingleAssignmentLaunchesAtOnceWithoutTouchingTheCounter) {
  SetShortcut(kButton, 1, false, u"<Page Up>");
  // "<Do Nothing>" in any case is as good as unassigned.
  SetShortcut(kButton, 2, true, u"<do nothing>");
  EXPECT_TRUE(Press());
  EXPECT_TRUE(Press());  // a quick second press launches again
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}, {kButton, 1, false}}));
  EXPECT_TRUE(sleeps.empty());
  EXPECT_FALSE(CounterStored());
}

TEST_F(ClassifierTest, ThirdPressDispatchesDoubleHoldAtOnce) {
  for (uint32_t counter : {2u, 3u, 0xFFFFFFFFu}) {
    dispatched.clear();
    SetState(kButton, counter);
    EXPECT_TRUE(Press()) << counter;
    EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 2, true}})) << counter;
    EXPECT_EQ(GetState(kButton), 0u);
  }
  EXPECT_TRUE(sleeps.empty());
}

TEST_F(ClassifierTest, SecondPressWithoutDoubleHoldDispatchesAtOnce) {
  SetShortcut(kButton, 1, true, u"<Page Down>");
  SetShortcut(kButton, 2, false, u"<Scroll Up>");
  SetState(kButton, 1);
  EXPECT_TRUE(Press());
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 2, false}}));
  EXPECT_EQ(GetState(kButton), 0u);
  EXPECT_TRUE(sleeps.empty());
}

TEST_F(ClassifierTest, FirstPressHeldAndReleased) {
  AssignAll();
  // Held through the hold wait: the counter is 1 while waiting.
  uint32_t seen = 99;
  during_sleep = [&](size_t) {
    seen = GetState(kButton);
    device::SetKeyDown(kKey, true);
  };
  EXPECT_TRUE(Press());
  EXPECT_EQ(seen, 1u);
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, true}}));
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{30}));
  EXPECT_EQ(GetState(kButton), 0u);

  // Released: the wait is stretched to the double-press interval.
  dispatched.clear();
  sleeps.clear();
  during_sleep = nullptr;
  device::SetKeyDown(kKey, false);
  EXPECT_TRUE(Press());
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{30, 20}));
  EXPECT_EQ(GetState(kButton), 0u);
}

// The hold test comes h after the press went down, however late the process
// began, and released, the last look at the counter the larger interval
// after it; a press that cannot be dated, or one older than h, gets the full
// waits.
TEST_F(ClassifierTest, TheHoldWaitCountsFromThePress) {
  AssignAll();
  static int asked_for = -1;
  static uint32_t age = 0;
  const auto press_age = [](int virtual_key) {
    asked_for = virtual_key;
    return age;
  };
  const struct {
    uint32_t age;
    uint32_t first_wait, second_wait;
  } cases[] = {{0, 30, 20},  {1, 29, 20},  {12, 18, 20},         {29, 1, 20},
               {30, 30, 20}, {45, 30, 20}, {0xFFFFFFFF, 30, 20}};
  for (const auto& c : cases) {
    sleeps.clear();
    dispatched.clear();
    asked_for = -1;
    age = c.age;
    EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, press_age}));
    EXPECT_EQ(asked_for, kKey) << "age " << c.age;
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{c.first_wait, c.second_wait})) << "age " << c.age;
    EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}})) << "age " << c.age;
  }
  // The at-once paths never ask.
  asked_for = -1;
  SetShortcut(kButton, 1, true, u"");
  SetShortcut(kButton, 2, false, u"");
  SetShortcut(kButton, 2, true, u"");
  EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, press_age}));
  EXPECT_EQ(asked_for, -1);
}

// At the hold test the key is down; held only if it has been down since
// this process's press, not when it went down again for the next press.
TEST_F(ClassifierTest, AKeyDownAgainIsNotAHold) {
  AssignAll();
  WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"HoldInterval", 300);
  WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"DblClickInterval", 400);
  static int pause_ms = 0;
  during_sleep = [](size_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    device::SetKeyDown(kKey, true);
  };
  const struct {
    std::vector<int64_t> dates;  // of the press at the start, of the key down at the hold test
    int pause_ms;                // real time in the hold wait
    bool held;
  } cases[] = {
      {{-12, -12}, 0, true},          // the same press, still down
      {{-12, -10}, 0, true},          // within the rounding of two dates
      {{-12, -2}, 0, false},          // down again ten milliseconds later: the next press
      {{-12, kUndated}, 0, true},     // the second date unknown: down is down
      {{kUndated, -2}, 0, true},      // undated, down since before the process looked
      {{kUndated, 10}, 40, false},    // undated (released at once), down again after it looked
      {{-400, -2}, 0, true},          // older than h: undated, and down since before
  };
  for (const auto& c : cases) {
    sleeps.clear();
    dispatched.clear();
    device::SetKeyDown(kKey, false);
    DatePresses(c.dates);
    pause_ms = c.pause_ms;
    EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, DatedAge}));
    EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, c.held}})) << c.dates[0] << " " << c.dates[1];
    // Released, it waits out the double-press interval, and dated, the next
    // press's process start.
    EXPECT_EQ(sleeps.size(), c.held ? 1u : c.dates[0] == kUndated ? 2u : 3u);
  }
}

// Released, a key down again since the press is the next press of the
// series on its way: its process gets as long to count itself in as this
// one took to start, and only a press whose process never counts in is
// dispatched as it stands.
TEST_F(ClassifierTest, ANextPressOnItsWayGetsItsProcessStart) {
  AssignAll();
  static bool counted_in = false;  // the next press's process, in the last wait
  during_sleep = [](size_t sleep) {
    if (sleep == 2 && counted_in) SetState(kButton, 2);
  };
  const struct {
    std::vector<int64_t> dates;  // of the press at the start, of the last key down at the last look
    bool counted_in;
    std::vector<uint32_t> sleeps;
    bool dispatched;
  } cases[] = {
      {{-12, -12}, false, {18, 20}, true},      // no press since: a single press, at once
      {{-12, -2}, true, {18, 20, 12}, false},   // the next press counts itself in: the series goes on
      {{-12, -2}, false, {18, 20, 12}, true},   // a key down that no process followed
      {{kUndated, -2}, false, {30, 20}, true},  // undated: its own clock gave the time already
  };
  for (const auto& c : cases) {
    sleeps.clear();
    dispatched.clear();
    SetState(kButton, 0);
    DatePresses(c.dates);
    counted_in = c.counted_in;
    EXPECT_EQ(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, DatedAge}), c.dispatched);
    EXPECT_EQ(sleeps, c.sleeps) << c.dates[0] << " " << c.dates[1];
    if (c.dispatched) {
      EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}})) << c.dates[0] << " " << c.dates[1];
      EXPECT_EQ(GetState(kButton), 0u);
    } else {
      EXPECT_TRUE(dispatched.empty());
      EXPECT_EQ(GetState(kButton), 2u) << "the counter is the next press's";
    }
  }
}

TEST_F(ClassifierTest, NoSecondSleepWhenHoldIsTheLongerInterval) {
  AssignAll();
  WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"HoldInterval", 600);
  WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"DblClickInterval", 300);
  EXPECT_TRUE(Press());
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{600}));
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
}

TEST_F(ClassifierTest, MissingTimingsDefaultTo400) {
  AssignAll();
  DeleteSetting(u"HoldInterval");
  DeleteSetting(u"DblClickInterval");
  EXPECT_TRUE(Press());
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{400}));
}

TEST_F(ClassifierTest, CorruptTimingsNeverSleepEndlessly) {
  AssignAll();
  WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"HoldInterval", 0xFFFFFFFF);
  WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"DblClickInterval", 400);
  EXPECT_TRUE(Press());
  // As a signed number the hold interval is -1, so 400 is the larger one and
  // 401 more milliseconds follow; the first wait is cut, not infinite.
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{kMaxWaitMs, 401}));
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
}

TEST_F(ClassifierTest, SecondPressWaitsWhenDoubleHoldIsAssigned) {
  AssignAll();
  SetState(kButton, 1);
  uint32_t seen = 99;
  during_sleep = [&](size_t) {
    seen = GetState(kButton);
    device::SetKeyDown(kKey, true);
  };
  EXPECT_TRUE(Press());
  EXPECT_EQ(seen, 2u);
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 2, true}}));

  dispatched.clear();
  during_sleep = nullptr;
  device::SetKeyDown(kKey, false);
  SetState(kButton, 1);
  EXPECT_TRUE(Press());
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 2, false}}));
  EXPECT_EQ(GetState(kButton), 0u);
}

TEST_F(ClassifierTest, LaterPressTakesTheSeriesOver) {
  AssignAll();
  // A second press during the hold wait: it writes 2 and this process yields
  // at once, even though the key is down again (the second press is held).
  during_sleep = [](size_t) {
    SetState(kButton, 2);
    device::SetKeyDown(kKey, true);
  };
  EXPECT_FALSE(Press());
  EXPECT_TRUE(dispatched.empty());
  EXPECT_EQ(sleeps.size(), 1u);
  EXPECT_EQ(GetState(kButton), 2u);  // left to the process that wrote it
  device::SetKeyDown(kKey, false);

  // The same during the stretch to the double-press interval.
  sleeps.clear();
  SetState(kButton, 0);
  during_sleep = [](size_t number) {
    if (number == 1) SetState(kButton, 0);
  };
  EXPECT_FALSE(Press());
  EXPECT_EQ(sleeps.size(), 2u);
  EXPECT_TRUE(dispatched.empty());
}

TEST_F(ClassifierTest, HoldTestUsesTheLowEightBitsOfTheStoredKey) {
  AssignAll();
  WriteRegDword(plat::RegRoot::LocalMachine, kSettingsKey, u"VirtualKeyB", 453);  // 197 in the low bits
  during_sleep = [](size_t) { device::SetKeyDown(197, true); };
  EXPECT_TRUE(Press());
  device::SetKeyDown(197, false);
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, true}}));
}

TEST_F(ClassifierTest, UnknownKeyIsNeverHeld) {
  AssignAll();
  DeleteSetting(u"VirtualKeyB");
  during_sleep = [](size_t) { device::SetKeyDown(kKey, true); };
  EXPECT_TRUE(Press());
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
}

TEST_F(ClassifierTest, MissingFileCountsAsAssigned) {
  SetShortcut(kButton, 1, false, u"<Page Up>");
  SetShortcut(kButton, 2, false, u"\\My Documents\\gone.pxl");
  SetState(kButton, 1);
  // (2, held) is unassigned, so the double press goes at once.
  EXPECT_TRUE(Press());
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 2, false}}));
  // A first press waits, because an extra slot is assigned.
  dispatched.clear();
  EXPECT_TRUE(Press());
  EXPECT_EQ(sleeps.size(), 2u);
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
}

TEST_F(ClassifierTest, ButtonsKeepSeparateCounters) {
  AssignAll();
  SetState(2, 1);  // button C is mid-series
  during_sleep = [](size_t) { EXPECT_EQ(GetState(2), 1u); };
  EXPECT_TRUE(Press());
  EXPECT_EQ(GetState(2), 1u);
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
}

}  // namespace
