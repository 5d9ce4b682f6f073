// Real button presses through the emulated shell: each press starts its own
// TapdeckX process, and the processes of a series settle among themselves
// which one acts. Hold 300 ms, double press 400 ms; press lengths and gaps
// stay far from both so that a loaded machine does not change the outcome.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
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
// A launcher times its waits in its own TickCount(), the journal stamps in
// the device's wall-clock milliseconds; each is cut to a whole millisecond,
// so the two may disagree by one.
constexpr int kClockGrainMs = 1;
// An import writes its keys in one transaction, and a press that writes
// meanwhile waits for it: tens of milliseconds here, several times that in a
// sanitized build on a busy machine. The planning before it, which no press
// waits for, is what once took seconds.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kImportWriteSlack = 600;
#else
constexpr int kImportWriteSlack = kAtOnceSlack;
#endif

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
  static std::vector<int64_t> Launchers(const std::vector<Entry>& events) {
    std::vector<int64_t> launchers;
    for (const Entry& event : journal::OfKind(events, "start"))
      if (event.Text("program") == "\\Program Files\\Quadrakey\\TapdeckX.exe")
        launchers.push_back(event.Int("child"));
    return launchers;
  }
  // A series of `presses` presses started one launcher per press; exactly one
  // key went down, by the launcher of the last press (the one that acts in
  // every row of the series table), within [from, to) ms of the first key
  // down. The other launchers ended without leaving any trace.
  static void ExpectOneDispatch(const std::vector<Entry>& events, int presses, int vk, int from,
                                int to) {
    const std::vector<int64_t> launchers = Launchers(events);
    ASSERT_EQ(launchers.size(), static_cast<size_t>(presses)) << Dump(events);
    const int64_t acting = launchers.back();
    // One key goes down and up, sent by the acting launcher, which does
    // nothing else.
    const journal::Expected down = {"key", {{"vk", vk}, {"up", false}}};
    const journal::Expected up = {"key", {{"vk", vk}, {"up", true}}};
    EXPECT_TRUE(journal::Matches(journal::OfKind(events, "key"), {down, up}));
    const std::vector<Entry> acted = OfProcess(events, acting);
    EXPECT_TRUE(journal::Matches(acted, {down, up}));
    ASSERT_FALSE(acted.empty());
    EXPECT_GE(acted[0].t_ms, from - kClockGrainMs) << Dump(events);
    EXPECT_LT(acted[0].t_ms, to) << Dump(events);
    for (const Entry& event : events) {
      if (event.pid != acting) {
        EXPECT_EQ(std::find(launchers.begin(), launchers.end(), event.pid), launchers.end())
            << "a launcher that should have ended quietly acted:\n" << Dump(events);
      }
      EXPECT_NE(event.event, "message") << Dump(events);
    }
  }
  static std::string Dump(const std::vector<Entry>& events) { return journal::Describe(events); }
};

TEST_F(PressE2E, SingleAssignmentLaunchesAtOnceOnEveryPress) {
  SetSetting("ButtonB", "<Page Up>");
  std::vector<Entry> events = Series("40C2", {50});
  ExpectOneDispatch(events, 1, kPageUp, 0, kAtOnceSlack);
  // A quick double press is two single presses.
  events = Series("40C2", {50, 100, 50});
  const std::vector<int64_t> launchers = Launchers(events);
  ASSERT_EQ(launchers.size(), 2u) << Dump(events);
  ASSERT_EQ(KeyDowns(events).size(), 2u) << Dump(events);
  // Each launcher acts for its own press, whichever the machine ran first.
  for (size_t press = 0; press < 2; ++press) {
    const std::vector<Entry> own = KeyDowns(OfProcess(events, launchers[press]));
    ASSERT_EQ(own.size(), 1u) << "press " << press << "\n" << Dump(events);
    const int key_down = press == 0 ? 0 : 150;
    EXPECT_GE(own[0].t_ms, key_down) << Dump(events);
    EXPECT_LT(own[0].t_ms, key_down + kAtOnceSlack) << Dump(events);
  }
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

// An import that takes a while (a chain 1,000 keys deep, each named with its
// whole path: 1 MB) must neither hold a press up nor let its processes
// misread one another: the quick double press is still one double press.
TEST_F(PressE2E, APressDuringALongImportIsNeitherHeldUpNorMisread) {
  SetSetting("ButtonB", "<Page Up>");
  SetSetting("ButtonBh", "<Page Down>");
  SetSetting("ButtonB2", "<Scroll Up>");
  std::string file = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::string path = "HKEY_LOCAL_MACHINE\\Chain";
  for (int level = 0; level < 1000; ++level) {
    path += "\\k";
    file += "[" + path + "]\r\n\"Level\"=dword:" + std::to_string(10000000 + level) + "\r\n\r\n";
  }
  const std::string reg = folder_ + "/chain.reg";
  {
    std::ofstream out(reg, std::ios::binary);
    out << file;
  }
  RunResult imported;
  std::thread import([&] { imported = RunProgram({Program("devicesim"), "--device", folder_, "reg", "import", reg}, ""); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Second key down at 180 ms.
  const std::vector<Entry> events = Series("40C2", {60, 120, 60});
  import.join();
  EXPECT_EQ(imported.status, 0) << imported.err;
  // Timed from the second key down as the shell journalled it: the emulated
  // shell's own journal write may wait for the import, a real key does not.
  std::vector<Entry> downs;
  for (const Entry& event : journal::OfKind(events, {"button"}))
    if (event.Flag("down")) downs.push_back(event);
  ASSERT_EQ(downs.size(), 2u) << Dump(events);
  ExpectOneDispatch(events, 2, kScrollUp, static_cast<int>(downs[1].t_ms),
                    static_cast<int>(downs[1].t_ms) + kImportWriteSlack);
  EXPECT_EQ(GetSetting("StateB"), "0");
  // The import went in whole.
  EXPECT_EQ(Sim({"reg", "get", path, "Level"}), std::to_string(0x10000999) + "\n");
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

// On a busy machine a launcher may start long after its key went down. The
// press is read from the key's times as the device dated them: every kind
// of press gives its own slot, once, with each launcher 300 ms late (later
// than a hold test and than a whole tap and gap). Holds let go before a
// late launcher's own clock would reach its hold test read as held.
TEST_F(PressE2E, LaunchersThatStartLateReadEachPressAsPlayed) {
  AssignAll();
  constexpr int kLate = 300;
  setenv("QUADRAKEY_FAULTS", ("TapdeckX/start-delay:" + std::to_string(kLate)).c_str(), 1);
  const struct {
    const char* what;
    std::vector<int> durations;  // key down, gap, key down, ...
    int presses, vk;
    int due;  // when the rule dispatches, from the first key down
  } cases[] = {
      {"hold", {500}, 1, kPageDown, kHold},
      {"double press", {100, 130, 100}, 2, kScrollUp, 230 + kDouble},
      {"double press and hold", {100, 130, 450}, 2, kScrollDown, 230 + kHold},
      {"triple press", {100, 130, 100, 130, 100}, 3, kScrollDown, 460},
      {"single press", {100}, 1, kPageUp, kDouble},
      // The second key down 20 ms after the first key up.
      {"quick double press", {60, 20, 60}, 2, kScrollUp, 80 + kDouble},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectOneDispatch(Series("40C2", c.durations), c.presses, c.vk, c.due, c.due + kLate + kTimedSlack);
    EXPECT_EQ(GetSetting("StateB"), "0");
  }
  unsetenv("QUADRAKEY_FAULTS");
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
  std::vector<Entry> events = Series("40C2", {50, 100, 50});
  EXPECT_EQ(KeyDowns(events).size(), 2u) << Dump(events);

  SetSetting("ButtonBh", "<Page Down>");
  events = Series("40C2", {50, 100, 50});
  EXPECT_TRUE(journal::Matches(journal::OfKind(events, {"key", "message"}), {})) << "quiet";
  EXPECT_EQ(DeviceFile("\\Program Files\\Quadrakey\\launch.log"),
            "Launch button 1, press 2, hold 0\n  shortcut: <do nothing>\n  app: <do nothing>\n"
            "  (no exe)\n  (no cmdline)\nSuccess");
}

TEST_F(PressE2E, MissingFileShowsTheMessage) {
  SetSetting("ButtonB", "\\My Documents\\moved away.txt");
  std::vector<Entry> events = Series("40C2", {50});
  const std::vector<Entry> messages = journal::OfKind(events, "message");
  EXPECT_TRUE(journal::Matches(
      messages, {{"message",
                  {{"text",
                    "Cannot find the shortcut or program assigned to this key press. It may have been moved "
                    "or deleted since you last assigned it. Please run Quadrakey and make an assignment "
                    "for this key press again."},
                   {"caption", "Quadrakey"},
                   {"flags", plat::kMbOk | plat::kMbIconExclamation | plat::kMbTopmost}}}}));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_LT(messages[0].t_ms, kAtOnceSlack);
}

TEST_F(PressE2E, ExistingDocumentOpensThroughTheShell) {
  // A stock program of the device: started (journalled) by the shell.
  SetSetting("ButtonB", "\\Windows\\Start Menu\\Calendar.lnk");
  std::vector<Entry> events = Series("40C2", {50});
  const std::vector<int64_t> launchers = Launchers(events);
  ASSERT_EQ(launchers.size(), 1u) << Dump(events);
  // The launcher opens the shortcut, which starts the stock program.
  EXPECT_TRUE(journal::Matches(
      OfProcess(events, launchers[0]),
      {{"start", {{"program", "\\Windows\\calendar.exe"}}},
       {"open", {{"file", "\\Windows\\Start Menu\\Calendar.lnk"}, {"ok", true}}}}));
  EXPECT_TRUE(journal::OfKind(events, "message").empty()) << Dump(events);
}

TEST_F(PressE2E, DocumentOpensInItsAssociatedProgram) {
  // A stock document of the device, associated with its viewer in HKCR.
  SetSetting("ButtonB", "\\My Documents\\Shopping list.txt");
  std::vector<Entry> events = Series("40C2", {50});
  const std::vector<int64_t> launchers = Launchers(events);
  ASSERT_EQ(launchers.size(), 1u) << Dump(events);
  // The viewer starts with the document, then the open is done.
  const std::vector<Entry> launched = OfProcess(events, launchers[0]);
  EXPECT_TRUE(journal::Matches(launched, {{"start"}, {"open", {{"file", "\\My Documents\\Shopping list.txt"}, {"ok", true}}}}));
  ASSERT_FALSE(launched.empty());
  EXPECT_NE(launched[0].Text("args").find("Shopping list.txt"), std::string::npos) << Dump(events);
  EXPECT_TRUE(journal::OfKind(events, "message").empty()) << Dump(events);
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
    const std::vector<Entry> keys = journal::OfKind(Journal(), "key");
    if (c.vk == 0) {
      EXPECT_TRUE(journal::Matches(keys, {}));
    } else {
      EXPECT_TRUE(journal::Matches(keys, {{"key", {{"vk", c.vk}, {"up", false}}}, {"key", {{"vk", c.vk}, {"up", true}}}}));
    }
  }
}

// A button's own intervals win over the global ones, each button its own:
// slow global timing, a quick hold on B, quick hold and window on C. (The
// window closes the larger of the two intervals after the key down.)
TEST_F(PressE2E, EachButtonIsReadByItsOwnIntervals) {
  SetSettingDword("HoldInterval", 700);
  SetSettingDword("DblClickInterval", 1000);
  SetSettingDword("HoldIntervalB", 150);
  SetSettingDword("HoldIntervalC", 150);
  SetSettingDword("DblClickIntervalC", 150);
  AssignAll();
  TakeOver("40C3", 2);
  SetSetting("ButtonC", "<Page Up>");
  SetSetting("ButtonCh", "<Page Down>");
  SetSetting("ButtonC2", "<Scroll Down>");
  const auto keys_sent = [](const std::vector<Entry>& events) {
    std::vector<int64_t> vks;
    for (const Entry& event : KeyDowns(events)) vks.push_back(event.Int("vk"));
    return vks;
  };
  // 400 ms is a hold on B (150), where the global 700 would make it a single press.
  std::vector<Entry> events = Series("40C2", {400});
  EXPECT_EQ(keys_sent(events), (std::vector<int64_t>{kPageDown})) << Dump(events);
  // B has no window of its own: the global 1000 makes a second press 600 ms
  // after the first a double press.
  events = Series("40C2", {50, 550, 50});
  EXPECT_EQ(keys_sent(events), (std::vector<int64_t>{kScrollUp})) << Dump(events);
  // On C (150) the same two presses are two single presses, and 400 ms a hold.
  events = Series("40C3", {50, 550, 50});
  EXPECT_EQ(keys_sent(events), (std::vector<int64_t>{kPageUp, kPageUp})) << Dump(events);
  events = Series("40C3", {400});
  EXPECT_EQ(keys_sent(events), (std::vector<int64_t>{kPageDown})) << Dump(events);
  EXPECT_EQ(GetSetting("StateB"), "0");
  EXPECT_EQ(GetSetting("StateC"), "0");
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
  std::vector<Entry> all = Journal();
  std::vector<int64_t> vks;
  for (const Entry& event : KeyDowns(all)) vks.push_back(event.Int("vk"));
  std::sort(vks.begin(), vks.end());
  EXPECT_EQ(vks, (std::vector<int64_t>{27, kScrollUp})) << Dump(all);
  EXPECT_EQ(journal::OfKind(all, "sip").size(), 1u) << Dump(all);
  EXPECT_EQ(GetSetting("StateB"), "0");
  EXPECT_EQ(GetSetting("StateC"), "0");
  EXPECT_EQ(GetSetting("StateD"), "0");
}

}  // namespace
