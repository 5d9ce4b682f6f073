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

// The clock of the dated cases: it moves only as the launcher sleeps.
uint64_t clock_now = 0;
uint64_t Clock() { return clock_now; }

void RecordSleep(uint32_t ms) {
  sleeps.push_back(ms);
  clock_now += ms;
  if (during_sleep) during_sleep(sleeps.size() - 1);
}

// The dated press the record hook gives: times relative to the moment the
// test began the press (negative: before it), 0 for an event not seen.
plat::OwnPress own;
bool dated = false;
uint64_t origin = 0;

void DatePress(int key, int64_t down, int64_t up = 0, int64_t next_down = 0) {
  clock_now = origin = 1000000;
  const auto at = [](int64_t offset) { return offset == 0 ? 0 : static_cast<uint64_t>(origin + offset); };
  own = plat::OwnPress{};
  own.virtual_key = key;
  own.dates = {at(down), at(up), at(next_down)};
  own.recorded = true;
  dated = true;
}

bool RecordedPress(plat::OwnPress* press) {
  if (dated) *press = own;
  return dated;
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
    dated = false;
    SetVirtualKey(kButton, kKey);
    WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"HoldInterval", 30);
    WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"DblClickInterval", 50);
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
    plat::RegKey key = plat::RegOpenKey(plat::RegRoot::Product, kSettingsKey, plat::kKeySetValue);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(plat::RegDeleteValue(key, name));
    plat::RegCloseKey(key);
  }
  static bool CounterStored() {
    std::vector<device::RegValue> values;
    device::ListValues(plat::RegRoot::Product, kSettingsKey, &values);
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

// The waits count from when the key went down, however late the launcher
// began; a launcher that began after its hold test reads the press from the
// key's times alone. Undated, they count from the launcher's start.
TEST_F(ClassifierTest, TheWaitsCountFromTheKeyDown) {
  AssignAll();  // h 30, d 50
  const struct {
    const char* what;
    int64_t down, up;  // ms from the launcher's start; up 0: still down
    bool held;
    std::vector<uint32_t> sleeps;
  } cases[] = {
      {"down 12 ms before, held", -12, 0, true, {18}},
      {"down 12 ms before, let go", -12, -5, false, {38}},
      {"began 300 ms late, held for 50", -300, -250, true, {}},
      {"began 300 ms late, let go after 10", -300, -290, false, {}},
      {"let go exactly at the hold test", -300, -270, false, {}},
  };
  for (const auto& c : cases) {
    sleeps.clear();
    dispatched.clear();
    device::SetKeyDown(kKey, c.up == 0);
    DatePress(kKey, c.down, c.up);
    EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, RecordedPress, Clock})) << c.what;
    EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, c.held}})) << c.what;
    EXPECT_EQ(sleeps, c.sleeps) << c.what;
    EXPECT_EQ(GetState(kButton), 0u) << c.what;
  }
  // Undated: the full waits from now, and the key asked at the hold test.
  sleeps.clear();
  dispatched.clear();
  dated = false;
  device::SetKeyDown(kKey, false);
  EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, RecordedPress, Clock}));
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{30, 20}));
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
}

// A key down again since the press is the next press, not a hold: released
// in time, the press waits for the next press's launcher to count itself
// in, however late that launcher starts; one that never comes leaves the
// press to go as it stands.
TEST_F(ClassifierTest, AKeyDownAgainIsTheNextPressNotAHold) {
  AssignAll();
  static size_t counts_in_at = 0;  // the sleep during which the next launcher counts in; 0: never
  during_sleep = [](size_t sleep) {
    if (counts_in_at != 0 && sleep + 1 == counts_in_at) SetState(kButton, 2);
  };
  for (size_t counts_in : {1u, 40u, 0u}) {
    sleeps.clear();
    dispatched.clear();
    SetState(kButton, 0);
    counts_in_at = counts_in;
    device::SetKeyDown(kKey, true);  // the next press is down
    DatePress(kKey, -12, -8, -2);
    const bool acted = ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, RecordedPress, Clock});
    if (counts_in != 0) {
      EXPECT_FALSE(acted) << counts_in;
      EXPECT_TRUE(dispatched.empty()) << counts_in;
      EXPECT_EQ(sleeps.size(), counts_in);
      EXPECT_EQ(GetState(kButton), 2u) << "the counter is the next press's";
    } else {
      EXPECT_TRUE(acted);
      EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, false}}));
      uint64_t waited = 0;
      for (uint32_t ms : sleeps) waited += ms;
      // From when this launcher found the next press: it may be as late.
      EXPECT_EQ(waited, kNextLauncherWaitMs);
      EXPECT_EQ(GetState(kButton), 0u);
    }
  }
}

// Two launchers started late by different amounts: the second press's can
// run before the first press's has counted itself in. It waits for it, as
// long as the first one's press is in its series.
TEST_F(ClassifierTest, ALauncherThatRunsFirstWaitsForThePressBeforeIt) {
  AssignAll();  // h 30, d 50
  static size_t counts_in_at = 0;  // the sleep during which the first launcher counts in; 0: never
  during_sleep = [](size_t sleep) {
    if (counts_in_at != 0 && sleep + 1 == counts_in_at) SetState(kButton, 1);
  };
  const struct {
    const char* what;
    int64_t down;          // this press, a tap of 5 ms
    int64_t earlier_down;  // the press before, a tap of 10 ms
    size_t counts_in;
    Dispatched dispatched;
    size_t sleeps;
  } cases[] = {
      {"the first launcher counts in later", -60, -100, 4, {kButton, 2, false}, 4},
      // It waits four times its own lateness, at least 100 ms, at most 3 s.
      {"it never comes", -60, -100, 0, {kButton, 1, false}, 240 / kNextLauncherPollMs},
      {"20 ms late, it never comes", -20, -60, 0, {kButton, 1, false}, kEarlierLauncherMinWaitMs / kNextLauncherPollMs},
      {"300 ms late, it never comes", -300, -340, 0, {kButton, 1, false}, 1200 / kNextLauncherPollMs},
      {"900 ms late, it never comes", -900, -940, 0, {kButton, 1, false}, kNextLauncherWaitMs / kNextLauncherPollMs},
      {"the press before was in another series", -60, -200, 4, {kButton, 1, false}, 0},
  };
  for (const auto& c : cases) {
    sleeps.clear();
    dispatched.clear();
    SetState(kButton, 0);
    counts_in_at = c.counts_in;
    DatePress(kKey, c.down, c.down + 5);
    own.earlier[0] = {origin + c.earlier_down, origin + c.earlier_down + 10, origin + c.down};
    own.earlier_count = 1;
    EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, RecordedPress, Clock})) << c.what;
    EXPECT_EQ(dispatched, (std::vector<Dispatched>{c.dispatched})) << c.what;
    EXPECT_EQ(sleeps.size(), c.sleeps) << c.what;
    EXPECT_EQ(GetState(kButton), 0u) << c.what;
  }
}

// The record is gone or behind: a key it has not seen go up but that is up
// at the hold test went up in time, as without dates; one that is down is
// held.
TEST_F(ClassifierTest, AKeyUpThatTheRecordMissedCountsAsLetGoInTime) {
  AssignAll();
  for (bool recorded : {true, false}) {
    for (bool down : {false, true}) {
      sleeps.clear();
      dispatched.clear();
      device::SetKeyDown(kKey, down);
      DatePress(kKey, -100);
      own.recorded = recorded;
      EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, RecordedPress, Clock}));
      EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, down}})) << recorded << down;
      EXPECT_TRUE(sleeps.empty()) << "the window closed before the launcher began";
    }
  }
  // Dated, the press's own key is asked, whatever VirtualKeyB says.
  dispatched.clear();
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"VirtualKeyB", 0x20);
  device::SetKeyDown(kKey, true);
  DatePress(kKey, -100);
  EXPECT_TRUE(ClassifyPress(kButton, ClassifierHooks{RecordDispatch, RecordSleep, RecordedPress, Clock}));
  EXPECT_EQ(dispatched, (std::vector<Dispatched>{{kButton, 1, true}}));
}

TEST_F(ClassifierTest, NoSecondSleepWhenHoldIsTheLongerInterval) {
  AssignAll();
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"HoldInterval", 600);
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"DblClickInterval", 300);
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
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"HoldInterval", 0xFFFFFFFF);
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"DblClickInterval", 400);
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
  WriteRegDword(plat::RegRoot::Product, kSettingsKey, u"VirtualKeyB", 453);  // 197 in the low bits
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
