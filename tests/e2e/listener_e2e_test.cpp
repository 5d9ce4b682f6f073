// The resident key listener on a stock device: the side key, which the
// shell's button table does not have, made a user-defined button; each press
// reaches the listener as a hot key, and the listener starts TapdeckX with
// the button's page position, which classifies the presses as it does for a
// taken-over hardware button. Hold 300 ms, double press 400 ms.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

// The stock device has five hardware buttons: the side key, first in the
// list, is button 5, letter F.
constexpr int kPagePosition = 5;
constexpr int kPageUp = 33, kPageDown = 34, kScrollUp = 38, kScrollDown = 40;
const char kHotkeys[] = "HKLM\\Software\\Quadrakey\\Hotkeys";
const char kTapdeckX[] = "\\Program Files\\Quadrakey\\TapdeckX.exe";

bool Runs(int pid) { return pid > 0 && kill(pid, 0) == 0; }

class ListenerE2E : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    Sim({"reg", "set", kHotkeys, "B0", "--sz", "Side"});
    Sim({"reg", "set", kHotkeys, "H0", "--dword", "199"});
    SetSetting("ButtonF", "<Page Up>");
    SetSetting("ButtonFh", "<Page Down>");
    SetSetting("ButtonF2", "<Scroll Up>");
    SetSetting("ButtonF2h", "<Scroll Down>");
  }
  void TearDown() override {
    for (int pid : started_) kill(pid, SIGKILL);
    EndToEndTest::TearDown();
  }

  // Starts TapdeckH as the shell would; its pid once its loop waits.
  int StartListener() {
    const std::string out = Sim({"run", "TapdeckH"});
    const size_t at = out.find(", pid ");
    EXPECT_NE(at, std::string::npos) << out;
    const int pid = at == std::string::npos ? 0 : std::atoi(out.c_str() + at + 6);
    EXPECT_NE(out.find("waits for input"), std::string::npos) << out;
    started_.push_back(pid);
    return pid;
  }

  // Each press went to the listener as a hot key and made it start TapdeckX
  // with the page position; the last launcher alone put one key down and up.
  void ExpectDispatch(const std::vector<Entry>& events, int listener, size_t presses, int vk) {
    const std::vector<Entry> hot_keys = journal::OfKind(events, "hotkey");
    ASSERT_EQ(hot_keys.size(), presses) << journal::Describe(events);
    for (const Entry& hot_key : hot_keys) {
      EXPECT_EQ(hot_key.Int("owner"), listener);
      EXPECT_EQ(hot_key.Int("vk"), 0xC7);
    }
    std::vector<int64_t> launchers;
    for (const Entry& start : journal::OfKind(events, "start")) {
      if (start.Text("program") != kTapdeckX) continue;
      EXPECT_EQ(start.pid, listener) << journal::Describe(events);
      EXPECT_EQ(start.Text("args"), std::to_string(kPagePosition));
      launchers.push_back(start.Int("child"));
    }
    ASSERT_EQ(launchers.size(), presses) << journal::Describe(events);
    const journal::Expected down = {"key", {{"vk", vk}, {"up", false}}};
    const journal::Expected up = {"key", {{"vk", vk}, {"up", true}}};
    EXPECT_TRUE(journal::Matches(journal::OfKind(events, "key"), {down, up}));
    EXPECT_TRUE(journal::Matches(journal::OfKind(OfProcess(events, launchers.back()), "key"), {down, up}));
  }

  std::vector<int> started_;
};

TEST_F(ListenerE2E, EveryPressOfTheSideKeyDispatchesItsSlotThroughTheListener) {
  const int listener = StartListener();
  EXPECT_NE(Sim({"state"}).find("hot key: 0xC7 (Side Key) held by pid " + std::to_string(listener) + " TapdeckH.exe"),
            std::string::npos)
      << Sim({"state"});
  EXPECT_EQ(GetSetting("VirtualKeyF"), "199") << "the launcher's key-state query asks for the side key";

  ExpectDispatch(Series("side-key", {50}), listener, 1, kPageUp);
  ExpectDispatch(Series("side-key", {700}), listener, 1, kPageDown);
  ExpectDispatch(Series("side-key", {50, 100, 50}), listener, 2, kScrollUp);
  ExpectDispatch(Series("side-key", {50, 100, 700}), listener, 2, kScrollDown);
  ExpectDispatch(Series("0xC7", {50, 100, 50, 100, 50}), listener, 3, kScrollDown);
  EXPECT_EQ(GetSetting("StateF"), "0");
  EXPECT_TRUE(Runs(listener));
  EXPECT_NE(DeviceFile("\\Program Files\\Quadrakey\\listener.log").find("  0: key 199 \"Side\" as button 5: listening"),
            std::string::npos);
}

// The listener dates each press it starts a launcher for, so launchers that
// start 300 ms late (a busy machine) still read every press as played.
TEST_F(ListenerE2E, LaunchersStartedLateReadThePressesTheListenerDated) {
  setenv("QUADRAKEY_FAULTS", "TapdeckX/start-delay:300", 1);
  const int listener = StartListener();
  // Let go before a late launcher's own clock reaches its hold test.
  ExpectDispatch(Series("side-key", {500}), listener, 1, kPageDown);
  ExpectDispatch(Series("side-key", {100, 130, 100}), listener, 2, kScrollUp);
  ExpectDispatch(Series("side-key", {100, 130, 450}), listener, 2, kScrollDown);
  ExpectDispatch(Series("side-key", {100, 130, 100, 130, 100}), listener, 3, kScrollDown);
  ExpectDispatch(Series("side-key", {60, 20, 60}), listener, 2, kScrollUp);
  unsetenv("QUADRAKEY_FAULTS");
  EXPECT_EQ(GetSetting("StateF"), "0");
}

TEST_F(ListenerE2E, WithoutAListenerTheKeyGoesToTheForegroundWindowAndNothingStarts) {
  const std::vector<Entry> events = Series("Side Key", {50});
  EXPECT_TRUE(journal::Matches(events, {{"button", {{"name", "Side Key"}, {"vk", 0xC7}, {"down", true}}},
                                        {"button", {{"name", "Side Key"}, {"vk", 0xC7}, {"down", false}}}}));
  RunResult unknown = RunProgram({Program("devicesim"), "--device", folder_, "press", "no-such-key"}, "");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("no key of that code or name"), std::string::npos) << unknown.err;
}

TEST_F(ListenerE2E, StartsThatRaceLeaveOneListener) {
  std::vector<std::vector<std::string>> starts(4, {Program("devicesim"), "--device", folder_, "run", "--no-wait", "TapdeckH"});
  std::vector<int> pids;
  for (const RunResult& result : RunTogether(starts, "")) {
    ASSERT_EQ(result.status, 0) << result.err;
    const size_t at = result.out.find(", pid ");
    ASSERT_NE(at, std::string::npos);
    pids.push_back(std::atoi(result.out.c_str() + at + 6));
  }
  started_ = pids;
  // The ones that lost end by themselves, at once.
  int running = 0;
  for (int waited = 0; waited < 5000; waited += 20) {
    running = 0;
    for (int pid : pids) running += Runs(pid) ? 1 : 0;
    // A lost start that found no window yet may take a moment to end.
    if (running == 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(running, 1);
  const std::string state = Sim({"state"});
  EXPECT_EQ(state.find("hot key: 0xC7"), state.rfind("hot key: 0xC7")) << state;
  EXPECT_NE(state.find("hot key: 0xC7"), std::string::npos) << state;
}

TEST_F(ListenerE2E, AListenerKilledMidSeriesLeavesNothingStuck) {
  // Long intervals, so that the first launcher still waits when it is killed.
  SetSettingDword("HoldInterval", 3000);
  SetSettingDword("DblClickInterval", 3000);
  const int listener = StartListener();
  // A double press and hold: the listener and the waiting launcher are killed
  // between the two presses, leaving the press counter at 1.
  std::thread series([&] { Series("side-key", {50, 3500, 700}); });
  int waiting = 0;
  for (int waited = 0; waited < 2500 && waiting == 0; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const Entry& start : journal::OfKind(Journal(), "start"))
      if (start.Text("program") == kTapdeckX) waiting = static_cast<int>(start.Int("child"));
  }
  ASSERT_NE(waiting, 0) << "the first press never started a launcher";
  for (int waited = 0; waited < 2000 && GetSetting("StateF") != "1"; waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(GetSetting("StateF"), "1") << "the first launcher never waited";
  kill(listener, SIGKILL);
  kill(waiting, SIGKILL);
  series.join();
  EXPECT_EQ(GetSetting("StateF"), "1") << "the killed launcher left its count";
  EXPECT_EQ(Sim({"state"}).find("hot key: 0xC7"), std::string::npos) << "a dead listener holds no key";

  // Started again, the listener gets the key back; the next series settles the
  // counter (its press counts as a second one), and the one after is as new.
  SetSettingDword("HoldInterval", 300);
  SetSettingDword("DblClickInterval", 400);
  const int again = StartListener();
  ExpectDispatch(Series("side-key", {50}), again, 1, kScrollUp);
  EXPECT_EQ(GetSetting("StateF"), "0");
  ExpectDispatch(Series("side-key", {50}), again, 1, kPageUp);
  // Nothing of the list or the assignments was lost.
  EXPECT_EQ(Sim({"reg", "get", kHotkeys, "B0"}), "Side\n");
  EXPECT_EQ(GetSetting("ButtonF2h"), "<Scroll Down>");
}

TEST_F(ListenerE2E, AKeyAnotherProgramHoldsIsReportedAndTakenOnceItIsFree) {
  const std::string helper = Sim({"path", "\\Windows\\helper.exe"});
  std::filesystem::copy_file(std::string(QK_BIN_DIR) + "/qk_host_helper", helper.substr(0, helper.size() - 1),
                             std::filesystem::copy_options::overwrite_existing);
  Sim({"run", "--no-wait", "\\Windows\\helper.exe", "hotkey", "199"});
  for (int waited = 0; waited < 3000 && Sim({"state"}).find("hot key: 0xC7") == std::string::npos; waited += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::string held = Sim({"state"});
  const size_t at = held.find("held by pid ");
  ASSERT_NE(at, std::string::npos) << held;
  const int helper_pid = std::atoi(held.c_str() + at + 12);
  started_.push_back(helper_pid);

  const int listener = StartListener();
  EXPECT_NE(DeviceFile("\\Program Files\\Quadrakey\\listener.log")
                .find("  0: key 199 \"Side\" as button 5: not listened to, another program holds the key (error 1409): "
                      "tried again until it lets go"),
            std::string::npos);
  const std::string state = Sim({"state"});
  EXPECT_NE(state.find("hot key refused: 0xC7 (Side Key) to pid " + std::to_string(listener) +
                       " TapdeckH.exe"),
            std::string::npos)
      << state;
  EXPECT_NE(state.find("error 1409"), std::string::npos) << state;
  // The icon says so, and that the key is tried again.
  std::string tray = Sim({"tray"});
  EXPECT_NE(tray.find("Quadrakey: listening to 0 keys, 1 held by another program\n"
                      "  [Side (Side Key): held by another program, tried again]\n"),
            std::string::npos)
      << tray;
  // Tried every 2 seconds; the icon changes only when what it shows does.
  std::this_thread::sleep_for(std::chrono::milliseconds(4500));
  EXPECT_EQ(journal::OfKind(OfProcess(Journal(), listener), "trayicon").size(), 1u) << journal::Describe(Journal());

  // The other program ends: the listener, still running, takes the key at
  // its next try, and a press of it starts the launcher.
  kill(helper_pid, SIGKILL);
  const std::string taken = "hot key: 0xC7 (Side Key) held by pid " + std::to_string(listener);
  for (int waited = 0; waited < 10000 && Sim({"state"}).find(taken) == std::string::npos; waited += 50)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_NE(Sim({"state"}).find(taken), std::string::npos) << Sim({"state"});
  EXPECT_NE(DeviceFile("\\Program Files\\Quadrakey\\listener.log")
                .find("  0: key 199 \"Side\" as button 5: listening, the other program has let it go"),
            std::string::npos)
      << DeviceFile("\\Program Files\\Quadrakey\\listener.log");
  EXPECT_TRUE(Runs(listener));
  tray = Sim({"tray"});
  EXPECT_NE(tray.find("Quadrakey: listening to 1 key\n  [Side (Side Key)]\n"), std::string::npos) << tray;
}

// ---- The icon and the notice ----------------------------------------------------

const char kLog[] = "\\Program Files\\Quadrakey\\listener.log";

// Waits for `done`, however slow the machine; the last look decides.
template <typename Done>
bool Eventually(Done done, int limit_ms = 10000) {
  for (int waited = 0; waited < limit_ms; waited += 50) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ListenerE2E, TheIconShowsTheKeysAndItsMenuPausesResumesAndQuits) {
  // The sign-in entry stays after a Quit: the listener ends for this session only.
  Sim({"shortcut", "\\Windows\\StartUp\\Quadrakey Key Listener.lnk", "\"\\Program Files\\Quadrakey\\TapdeckH.exe\""});
  const int listener = StartListener();
  const std::string held = "hot key: 0xC7 (Side Key) held by pid " + std::to_string(listener);
  std::string tray = Sim({"tray"});
  EXPECT_TRUE(Contains(tray, "TapdeckH.exe (pid " + std::to_string(listener) + "): Quadrakey: listening to 1 key\n"
                             "  [Side (Side Key)]\n  ----\n  Open Quadrakey\n  Pause\n  Quit\n"))
      << tray;

  // Pause gives the key back: a press goes to the foreground window and no launcher starts.
  Sim({"tray", "choose", "Pause"});
  EXPECT_TRUE(Eventually([&] { return Contains(Sim({"tray"}), "Quadrakey: paused"); })) << Sim({"tray"});
  EXPECT_TRUE(Contains(Sim({"tray"}), "  [Side (Side Key): paused]\n  ----\n  Open Quadrakey\n  Resume\n"));
  EXPECT_FALSE(Contains(Sim({"state"}), held));
  Sim({"journal", "--clear"});
  Series("side-key", {50});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<Entry> events = Journal();
  EXPECT_TRUE(journal::OfKind(events, "hotkey").empty()) << journal::Describe(events);
  EXPECT_TRUE(journal::OfKind(events, "start").empty()) << journal::Describe(events);
  EXPECT_TRUE(Contains(DeviceFile(kLog), "Paused from the icon's menu: every key is given back until Resume."));

  // Resume takes it again, and a press starts the launcher once more.
  Sim({"tray", "choose", "resume"});
  EXPECT_TRUE(Eventually([&] { return Contains(Sim({"state"}), held); })) << Sim({"state"});
  EXPECT_TRUE(Contains(Sim({"tray"}), "Quadrakey: listening to 1 key"));
  Sim({"journal", "--clear"});
  Series("side-key", {50});
  EXPECT_TRUE(Eventually([&] { return !journal::OfKind(Journal(), "start").empty(); }));

  // Quit ends the listener: the key is free, the icon gone, the sign-in entry kept.
  Sim({"tray", "choose", "Quit"});
  EXPECT_TRUE(Eventually([&] { return !Runs(listener); }));
  EXPECT_FALSE(Contains(Sim({"state"}), held));
  EXPECT_EQ(Sim({"tray"}), "");
  EXPECT_TRUE(Contains(DeviceFile(kLog), "Quit from the icon's menu: the listener ends for this session"));
  EXPECT_NE(DeviceFile("\\Windows\\StartUp\\Quadrakey Key Listener.lnk"), "<none>");
  // An item that is only a line of text cannot be chosen.
  const RunResult refused = RunProgram({Program("devicesim"), "tray", "choose", "Pause"}, folder_);
  EXPECT_EQ(refused.status, 1) << refused.err;
}

TEST_F(ListenerE2E, OpenQuadrakeyFromTheIconStartsTapdeck) {
  const int listener = StartListener();
  Sim({"journal", "--clear"});
  Sim({"tray", "choose", "Open Quadrakey"});
  int64_t tapdeck = 0;
  EXPECT_TRUE(Eventually([&] {
    for (const Entry& start : journal::OfKind(Journal(), "start"))
      if (start.pid == listener && start.Text("program") == "\\Program Files\\Quadrakey\\tapdeck.exe")
        tapdeck = start.Int("child");
    return tapdeck != 0;
  })) << journal::Describe(Journal());
  if (tapdeck > 0) started_.push_back(static_cast<int>(tapdeck));
  EXPECT_TRUE(Runs(listener));
}

TEST_F(ListenerE2E, EachPressShowsANoticeOfWhatItDidWhenSwitchedOn) {
  SetSettingDword("PressNotice", 1);
  SetSetting("ButtonF2", "\\Windows\\Start Menu\\Notes.lnk");
  StartListener();
  Sim({"journal", "--clear"});
  Series("side-key", {50});
  EXPECT_TRUE(Eventually([&] { return !journal::OfKind(Journal(), "notice").empty(); }));
  std::vector<Entry> notices = journal::OfKind(Journal(), "notice");
  ASSERT_EQ(notices.size(), 1u) << journal::Describe(Journal());
  EXPECT_EQ(notices[0].Text("text"), "Side: single press \u2192 <Page Up>");

  Sim({"journal", "--clear"});
  Series("side-key", {50, 80, 50});
  EXPECT_TRUE(Eventually([&] { return !journal::OfKind(Journal(), "notice").empty(); }));
  notices = journal::OfKind(Journal(), "notice");
  ASSERT_EQ(notices.size(), 1u) << journal::Describe(Journal());
  EXPECT_EQ(notices[0].Text("text"), "Side: double press \u2192 Notes");

  // Nothing assigned is said as such.
  SetSetting("ButtonFh", "");
  Sim({"journal", "--clear"});
  Series("side-key", {700});
  EXPECT_TRUE(Eventually([&] { return !journal::OfKind(Journal(), "notice").empty(); }));
  notices = journal::OfKind(Journal(), "notice");
  ASSERT_EQ(notices.size(), 1u) << journal::Describe(Journal());
  EXPECT_EQ(notices[0].Text("text"), "Side: press and hold \u2192 nothing assigned");
}

TEST_F(ListenerE2E, NoNoticeWhenSwitchedOffOrOnTheDeviceByDefault) {
  StartListener();
  for (int switched_off : {0, 1}) {
    if (switched_off != 0) SetSettingDword("PressNotice", 0);
    Sim({"journal", "--clear"});
    Series("side-key", {50});
    // The press went through: its launcher acted (Page Up) and ended.
    EXPECT_TRUE(Eventually([&] {
      return journal::OfKind(Journal(), "key").size() >= 2;  // Page Up, down and up
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(journal::OfKind(Journal(), "notice").empty()) << journal::Describe(Journal());
  }
}

TEST_F(ListenerE2E, WithoutANotificationAreaTheListenerSaysSoAndListens) {
  setenv("QUADRAKEY_FAULTS", "TapdeckH/tray-icon@1+:50", 1);
  const int listener = StartListener();
  unsetenv("QUADRAKEY_FAULTS");
  EXPECT_EQ(Sim({"tray"}), "");
  EXPECT_TRUE(Contains(DeviceFile(kLog),
                       "No notification area to show the icon in (error 50): the listener goes on listening without it"))
      << DeviceFile(kLog);
  EXPECT_TRUE(Contains(Sim({"state"}), "hot key: 0xC7 (Side Key) held by pid " + std::to_string(listener)));
  Sim({"journal", "--clear"});
  Series("side-key", {50});
  EXPECT_TRUE(Eventually([&] { return !journal::OfKind(Journal(), "start").empty(); }));
}

}  // namespace
