// Real button presses through the emulated shell: each press starts its own
// TapdeckX process, and the processes of a series settle among themselves
// which one acts. Hold 300 ms, double press 400 ms; press lengths and gaps
// stay far from both so that a loaded machine does not change the outcome.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/e2e/e2e_support.h"

namespace {

constexpr int kHold = 300;
constexpr int kDouble = 400;
// How late an at-once dispatch may come after its key down, and a timed
// one after its nominal time, on a busy two-core machine.
constexpr int kAtOnceSlack = 200;
constexpr int kTimedSlack = 250;

constexpr int kPageUp = 33, kPageDown = 34, kScrollUp = 38, kScrollDown = 40;

class PressE2E : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    TakeOver("40C2", 1);
  }
  void AssignAll() {
    SetSetting("ButtonB", "<Page Up>");
    SetSetting("ButtonBh", "<Page Down>");
    SetSetting("ButtonB2", "<Scroll Up>");
    SetSetting("ButtonB2h", "<Scroll Down>");
  }
  // The process ids of the launchers the shell started, in press order.
  static std::vector<std::string> Launchers(const std::vector<Event>& events) {
    std::vector<std::string> launchers;
    for (const Event& event : OfKind(events, "start"))
      if (event.Member("program").find("TapdeckX.exe") != std::string::npos)
        launchers.push_back(event.Member("child"));
    return launchers;
  }
  // A series of `presses` presses started one launcher per press; exactly one
  // key went down, by the launcher of the last press (the one that acts in
  // every row of the series table), within [from, to) ms of the first key
  // down. The other launchers ended without leaving any trace.
  static void ExpectOneDispatch(const std::vector<Event>& events, int presses, int vk, int from,
                                int to) {
    std::vector<Event> downs = KeyDowns(events);
    ASSERT_EQ(downs.size(), 1u) << Dump(events);
    const std::vector<std::string> launchers = Launchers(events);
    ASSERT_EQ(launchers.size(), static_cast<size_t>(presses)) << Dump(events);
    const std::string acting = launchers.back();
    EXPECT_EQ(std::to_string(downs[0].pid), acting) << Dump(events);
    EXPECT_EQ(downs[0].Member("vk"), std::to_string(vk)) << Dump(events);
    EXPECT_GE(downs[0].t, from) << Dump(events);
    EXPECT_LT(downs[0].t, to) << Dump(events);
    for (const Event& event : events) {
      const std::string pid = std::to_string(event.pid);
      if (pid != acting) {
        EXPECT_EQ(std::find(launchers.begin(), launchers.end(), pid), launchers.end())
            << "a launcher that should have ended quietly acted:\n" << Dump(events);
      }
      // Its key up comes from the same process.
      if (event.event == "key") {
        EXPECT_EQ(pid, acting) << Dump(events);
      }
      EXPECT_NE(event.event, "message") << Dump(events);
    }
  }
  static std::string Dump(const std::vector<Event>& events) {
    std::string text;
    for (const Event& event : events) text += event.line + "\n";
    return text;
  }
};

TEST_F(PressE2E, SingleAssignmentLaunchesAtOnceOnEveryPress) {
  SetSetting("ButtonB", "<Page Up>");
  std::vector<Event> events = Series("40C2", {50});
  ExpectOneDispatch(events, 1, kPageUp, 0, kAtOnceSlack);
  // A quick double press is two single presses.
  events = Series("40C2", {50, 100, 50});
  std::vector<Event> downs = KeyDowns(events);
  ASSERT_EQ(downs.size(), 2u) << Dump(events);
  const std::vector<std::string> launchers = Launchers(events);
  ASSERT_EQ(launchers.size(), 2u) << Dump(events);
  EXPECT_EQ(std::to_string(downs[0].pid), launchers[0]) << Dump(events);
  EXPECT_EQ(std::to_string(downs[1].pid), launchers[1]) << Dump(events);
  EXPECT_LT(downs[0].t, kAtOnceSlack);
  EXPECT_GE(downs[1].t, 150);
  EXPECT_LT(downs[1].t, 150 + kAtOnceSlack);
  // The counter was never needed.
  EXPECT_EQ(RunProgram({Program("devicesim"), "--device", folder_, "reg", "get",
                        "HKLM\\Software\\Quadrakey", "StateB"}, "").status, 1);
}

TEST_F(PressE2E, SinglePressHeldOrReleased) {
  AssignAll();
  ExpectOneDispatch(Series("40C2", {700}), 1, kPageDown, kHold, kHold + kTimedSlack);
  ExpectOneDispatch(Series("40C2", {50}), 1, kPageUp, kDouble, kDouble + kTimedSlack);
  EXPECT_EQ(GetSetting("StateB"), "0");
}

TEST_F(PressE2E, DoublePressWithoutDoubleHoldGoesAtOnce) {
  SetSetting("ButtonBh", "<Page Down>");
  SetSetting("ButtonB2", "<Scroll Up>");
  // Second key down at 100 ms; the first process would act at 400.
  ExpectOneDispatch(Series("40C2", {50, 50, 50}), 2, kScrollUp, 100, 100 + kAtOnceSlack);
  EXPECT_EQ(GetSetting("StateB"), "0");
}

TEST_F(PressE2E, DoublePressHeldOrReleasedWithDoubleHoldAssigned) {
  AssignAll();
  // Second key down at 150 ms.
  ExpectOneDispatch(Series("40C2", {50, 100, 700}), 2, kScrollDown, 150 + kHold, 150 + kHold + kTimedSlack);
  ExpectOneDispatch(Series("40C2", {50, 100, 50}), 2, kScrollUp, 150 + kDouble, 150 + kDouble + kTimedSlack);
  EXPECT_EQ(GetSetting("StateB"), "0");
}

TEST_F(PressE2E, TriplePressGoesAtOnceToDoubleHold) {
  AssignAll();
  // Third key down at 300 ms; the second process would act at 550.
  ExpectOneDispatch(Series("40C2", {50, 100, 50, 100, 50}), 3, kScrollDown, 300, 300 + kAtOnceSlack);
  EXPECT_EQ(GetSetting("StateB"), "0");
}

TEST_F(PressE2E, CounterLeftByAStoppedProcessMakesTheNextPressAThird) {
  AssignAll();
  SetSettingDword("StateB", 2);
  ExpectOneDispatch(Series("40C2", {50}), 1, kScrollDown, 0, kAtOnceSlack);
  EXPECT_EQ(GetSetting("StateB"), "0");
  // The next press starts a fresh series.
  ExpectOneDispatch(Series("40C2", {50}), 1, kPageUp, kDouble, kDouble + kTimedSlack);
}

TEST_F(PressE2E, DoNothingIsQuietAndReported) {
  SetSetting("ButtonB", "<Page Up>");
  SetSetting("ButtonB2", "<do nothing>");
  SetSetting("ButtonB2h", "<Do Nothing>");
  // Every extra slot is unassigned, so this double press is two singles.
  std::vector<Event> events = Series("40C2", {50, 100, 50});
  EXPECT_EQ(KeyDowns(events).size(), 2u) << Dump(events);

  SetSetting("ButtonBh", "<Page Down>");
  events = Series("40C2", {50, 100, 50});
  EXPECT_TRUE(KeyDowns(events).empty()) << Dump(events);
  EXPECT_TRUE(OfKind(events, "message").empty()) << Dump(events);
  EXPECT_EQ(DeviceFile("\\Program Files\\Quadrakey\\launch.log"),
            "Launch button 1, press 2, hold 0\n  shortcut: <do nothing>\n  app: <do nothing>\n"
            "  (no exe)\n  (no cmdline)\nSuccess");
}

TEST_F(PressE2E, MissingFileShowsTheMessage) {
  SetSetting("ButtonB", "\\My Documents\\moved away.txt");
  std::vector<Event> events = Series("40C2", {50});
  std::vector<Event> messages = OfKind(events, "message");
  ASSERT_EQ(messages.size(), 1u) << Dump(events);
  EXPECT_NE(messages[0].Member("text").find("Cannot find the shortcut or program assigned"), std::string::npos);
  EXPECT_EQ(messages[0].Member("caption"), "\"Quadrakey\"");
  EXPECT_EQ(messages[0].Member("flags"), std::to_string(plat::kMbOk | plat::kMbIconExclamation | plat::kMbTopmost));
  EXPECT_LT(messages[0].t, kAtOnceSlack);
}

TEST_F(PressE2E, ExistingDocumentOpensThroughTheShell) {
  // A stock program of the device: started (journalled) by the shell.
  SetSetting("ButtonB", "\\Windows\\Start Menu\\Calendar.lnk");
  std::vector<Event> events = Series("40C2", {50});
  bool opened = false;
  for (const Event& event : OfKind(events, "open"))
    opened = opened || (event.Member("file") == "\"\\\\Windows\\\\Start Menu\\\\Calendar.lnk\"" &&
                        event.Is("ok", "true"));
  EXPECT_TRUE(opened) << Dump(events);
  EXPECT_TRUE(OfKind(events, "message").empty()) << Dump(events);
}

TEST_F(PressE2E, DocumentOpensInItsAssociatedProgram) {
  // A stock document of the device, associated with its viewer in HKCR.
  SetSetting("ButtonB", "\\My Documents\\Shopping list.txt");
  std::vector<Event> events = Series("40C2", {50});
  const std::vector<std::string> launchers = Launchers(events);
  ASSERT_EQ(launchers.size(), 1u) << Dump(events);
  std::vector<Event> opens;
  for (const Event& event : OfKind(events, "open"))
    if (std::to_string(event.pid) == launchers[0]) opens.push_back(event);
  ASSERT_EQ(opens.size(), 1u) << Dump(events);
  EXPECT_EQ(opens[0].Member("file"), "\"\\\\My Documents\\\\Shopping list.txt\"");
  EXPECT_TRUE(opens[0].Is("ok", "true")) << Dump(events);
  bool viewer_started = false;
  for (const Event& event : OfKind(events, "start"))
    viewer_started = viewer_started ||
                     (std::to_string(event.pid) == launchers[0] &&
                      event.Member("args").find("Shopping list.txt") != std::string::npos);
  EXPECT_TRUE(viewer_started) << Dump(events);
  EXPECT_TRUE(OfKind(events, "message").empty()) << Dump(events);
}

TEST_F(PressE2E, CommandLineNamesTheButtonAndTheExitCodeIsZero) {
  SetSetting("ButtonA", "<OK/Enter>");
  SetSetting("ButtonM", "<ESC/Cancel>");
  struct Case {
    std::vector<std::string> args;
    int vk;  // 0: nothing assigned for that button
  };
  const Case cases[] = {{{" 12"}, 27}, {{"x"}, 13}, {{}, 13}, {{"-3"}, 0}, {{std::string(400, '9')}, 0}};
  for (const Case& c : cases) {
    Sim({"journal", "--clear"});
    std::vector<std::string> argv = {Program("TapdeckX")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunResult result = RunProgram(argv, folder_);
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<Event> downs = KeyDowns(ParseEvents(Sim({"journal", "--json"})));
    if (c.vk == 0) {
      EXPECT_TRUE(downs.empty());
    } else {
      ASSERT_EQ(downs.size(), 1u);
      EXPECT_EQ(downs[0].Member("vk"), std::to_string(c.vk));
    }
  }
}

TEST_F(PressE2E, ButtonsPressedTogetherDoNotDisturbEachOther) {
  AssignAll();
  TakeOver("40C3", 2);
  SetSetting("ButtonC", "<OK/Enter>");
  SetSetting("ButtonCh", "<ESC/Cancel>");
  SetSetting("ButtonC2", "<Start Menu>");
  SetSetting("ButtonC2h", "<Power Off>");
  std::string sim = Program("devicesim");
  // B: a double press (released); C: a press and hold; D: a triple press.
  TakeOver("40C4", 3);
  SetSetting("ButtonD", "<Page Up>");
  SetSetting("ButtonD2h", "<Input Panel>");
  std::vector<RunResult> results = RunTogether(
      {{sim, "--device", folder_, "series", "40C2", "50", "100", "50", "--json"},
       {sim, "--device", folder_, "series", "40C3", "700", "--json"},
       {sim, "--device", folder_, "series", "40C4", "50", "100", "50", "100", "50", "--json"}},
      "");
  for (const RunResult& result : results) EXPECT_EQ(result.status, 0) << result.err;
  std::vector<Event> all = ParseEvents(Sim({"journal", "--json"}));
  std::vector<int> vks;
  for (const Event& event : KeyDowns(all)) vks.push_back(std::atoi(event.Member("vk").c_str()));
  std::sort(vks.begin(), vks.end());
  EXPECT_EQ(vks, (std::vector<int>{27, kScrollUp})) << Dump(all);
  EXPECT_EQ(OfKind(all, "sip").size(), 1u) << Dump(all);
  EXPECT_EQ(GetSetting("StateB"), "0");
  EXPECT_EQ(GetSetting("StateC"), "0");
  EXPECT_EQ(GetSetting("StateD"), "0");
}

}  // namespace
