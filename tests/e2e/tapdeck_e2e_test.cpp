// tapdeck as a person uses it: started as the shell starts it, its pages
// worked through devicesim ui, and the button it configured pressed through
// the real shell path. Hold 300 ms, double press 400 ms (set before tapdeck
// starts, so that the Options page shows and writes them back).
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

constexpr int kPageUp = 33, kPageDown = 34, kScrollUp = 38;

constexpr char kRebootNotice[] =
    "You have either assigned the <Record> function to a new button, or removed it from an "
    "existing button. On some devices, you may now have to reboot in order to have that change "
    "take effect.";

std::string Dump(const std::vector<Entry>& events) { return journal::Describe(events); }

// The virtual keys that went down, in order.
std::vector<int> DownKeys(const std::vector<Entry>& events) {
  std::vector<int> vks;
  for (const Entry& event : KeyDowns(events)) vks.push_back(static_cast<int>(event.Int("vk")));
  return vks;
}

// The process ids of the press launchers the shell started.
std::vector<std::string> Launchers(const std::vector<Entry>& events) {
  std::vector<std::string> launchers;
  for (const Entry& event : journal::OfKind(events, "start"))
    if (event.Text("program").find("TapdeckX.exe") != std::string::npos)
      launchers.push_back(std::to_string(event.Int("child")));
  return launchers;
}

class TapdeckE2E : public EndToEndTest {
 protected:
  // Starts tapdeck as the shell does and returns its process id once it
  // waits for input.
  std::string StartTapdeck() {
    const std::string out = Sim({"run", "tapdeck"});
    EXPECT_NE(out.find("waits for input"), std::string::npos) << out;
    const size_t at = out.find(", pid ");
    if (at == std::string::npos) return "";
    return std::to_string(std::atoll(out.c_str() + at + 6));
  }
  std::string Ui(std::vector<std::string> args) {
    args.insert(args.begin(), "ui");
    return Sim(args);
  }
  std::string Log() { return DeviceFile("\\Program Files\\Quadrakey\\tapdeck.log"); }
};

TEST_F(TapdeckE2E, ButtonConfiguredOnThePagesDispatchesEveryKindOfPress) {
  StartTapdeck();
  Ui({"select", "1012", "Button 2 (originally Contacts)", "--quiet"});
  Ui({"select", "1013", "<Page Up>", "--quiet"});
  Ui({"select", "1014", "<Page Down>", "--quiet"});
  Ui({"select", "1015", "<Scroll Up>", "--quiet"});
  // The rotation choice opens over the page at once; 0 degrees out, 90 and
  // 270 in.
  const std::string dialog = Ui({"select", "1021", "<Rotate Screen>"});
  EXPECT_NE(dialog.find("dialog \"Rotate Screen\" (template 110"), std::string::npos) << dialog;
  Ui({"click", "1035", "--quiet"});
  Ui({"click", "1036", "--quiet"});
  Ui({"click", "1038", "--quiet"});
  const std::string page = Ui({"done"});
  EXPECT_NE(page.find("1021   combo box  27 lines, line 3 selected: \"<Rotate Screen>\""), std::string::npos)
      << page;
  // Stored as chosen, before Done.
  EXPECT_EQ(GetSetting("ButtonB"), "<Page Up>");
  EXPECT_EQ(GetSetting("ButtonBh"), "<Page Down>");
  EXPECT_EQ(GetSetting("ButtonB2"), "<Scroll Up>");
  EXPECT_EQ(GetSetting("ButtonB2h"), "<Rotate Screen>");
  EXPECT_EQ(GetSetting("ButtonB-RotateScreen2h"), "10");

  Ui({"tab", "Options", "--quiet"});
  Ui({"slide", "1025", "450", "--quiet"});
  // Done takes every button over, the Record button too: the notice says so.
  const std::string notice = Ui({"done"});
  EXPECT_NE(notice.find(std::string("message box \"Quadrakey\" (flags 0x40), in front:\n  \"") + kRebootNotice),
            std::string::npos)
      << notice;
  EXPECT_NE(Ui({"answer"}).find("ended with exit code 0"), std::string::npos);

  EXPECT_EQ(Sim({"reg", "get", "HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C2", "@"}),
            "\"\\Program Files\\Quadrakey\\TapdeckB.lnk\"\n");
  EXPECT_EQ(DeviceFile("\\Program Files\\Quadrakey\\TapdeckB.lnk"),
            "41#\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 1");
  EXPECT_EQ(GetSetting("HoldInterval"), "300");
  EXPECT_EQ(GetSetting("DblClickInterval"), "450");
  EXPECT_NE(Log().find("\nAssignment 1-2-1:\nEnabled\n<Rotate Screen>\n"), std::string::npos) << Log();

  struct Press {
    const char* kind;
    std::vector<int> series;
    int vk;       // the key the dispatch sends, or 0
    int degrees;  // the display turned to, or -1
  };
  const Press presses[] = {
      {"single", {50}, kPageUp, -1},
      {"hold", {700}, kPageDown, -1},
      {"double", {50, 100, 50}, kScrollUp, -1},
      {"double and hold", {50, 100, 700}, 0, 90},
      {"triple", {50, 100, 50, 100, 50}, 0, 270},
  };
  for (const Press& press : presses) {
    SCOPED_TRACE(press.kind);
    const std::vector<Entry> events = Series("40C2", press.series);
    EXPECT_EQ(DownKeys(events), press.vk == 0 ? std::vector<int>{} : std::vector<int>{press.vk}) << Dump(events);
    const std::vector<Entry> displays = journal::OfKind(events, "display");
    if (press.degrees < 0) {
      EXPECT_TRUE(displays.empty()) << Dump(events);
    } else {
      ASSERT_EQ(displays.size(), 1u) << Dump(events);
      EXPECT_EQ(displays[0].Int("orientation"), press.degrees) << Dump(events);
    }
    EXPECT_TRUE(journal::OfKind(events, "message").empty()) << Dump(events);
  }
  EXPECT_EQ(GetSetting("StateB"), "0");
}

// The launcher reads a slot while the page rewrites it: each dispatch must
// open one of the two whole paths, never a mix or nothing.
TEST_F(TapdeckE2E, TheOptionsPageSwitchesTheNoticeOfEachPress) {
  // Done may end in a notice (the first one takes the Record button over).
  const auto done = [&] {
    if (Ui({"done"}).find("message box") != std::string::npos) Ui({"answer", "--quiet"});
  };
  // Off on the device until switched on; the check box shows what is stored.
  StartTapdeck();
  std::string page = Ui({"tab", "Options"});
  EXPECT_NE(page.find("1042   check box  \"Show a notice of each press\"  unchecked"), std::string::npos) << page;
  Ui({"click", "1042", "--quiet"});
  done();
  EXPECT_EQ(GetSetting("PressNotice"), "1");

  StartTapdeck();
  page = Ui({"tab", "Options"});
  EXPECT_NE(page.find("1042   check box  \"Show a notice of each press\"  checked"), std::string::npos) << page;
  Ui({"click", "1042", "--quiet"});
  // Cancel keeps what was stored.
  Ui({"cancel", "--quiet"});
  EXPECT_EQ(GetSetting("PressNotice"), "1");
  StartTapdeck();
  Ui({"tab", "Options", "--quiet"});
  Ui({"click", "1042", "--quiet"});
  done();
  EXPECT_EQ(GetSetting("PressNotice"), "0");
}

TEST_F(TapdeckE2E, PressWhileThePageChangesTheSlotSeesOldOrNewAssignment) {
  const std::string folder = "\\Windows\\Start Menu\\Programs\\";
  const std::string a = folder + std::string(120, 'a') + "\\Flip A.lnk";
  const std::string b = folder + std::string(200, 'b') + "\\" + std::string(40, 'c') + "\\Flip B.lnk";
  ASSERT_LT(b.size(), 300u);  // what the launcher's buffer holds
  Sim({"shortcut", a, "\\Windows\\calendar.exe"});
  Sim({"shortcut", b, "\\Windows\\tasks.exe"});
  TakeOver("40C2", 1);

  StartTapdeck();
  Ui({"select", "1012", "1", "--quiet"});
  Ui({"select", "1013", "Flip A", "--quiet"});
  ASSERT_EQ(GetSetting("ButtonB"), a);
  Sim({"journal", "--clear"});

  std::atomic<bool> stop{false};
  std::atomic<int> flips{0};
  std::thread flipper([&] {
    while (!stop) {
      Ui({"select", "1013", flips % 2 == 0 ? "Flip B" : "Flip A", "--quiet"});
      ++flips;
    }
  });
  // Only the single press is assigned, so each press dispatches at once.
  // Press until both paths have been opened, with flips between.
  std::set<std::string> opened;
  for (int round = 0; round < 20 && (opened.size() < 2 || flips < 4); ++round) {
    for (const Entry& event : journal::OfKind(Series("40C2", {30, 40, 30, 40, 30, 40, 30, 40, 30}), "open"))
      if (event.Text("file") == a || event.Text("file") == b) opened.insert(event.Text("file"));
  }
  stop = true;
  flipper.join();
  EXPECT_GE(flips, 4);

  const std::vector<Entry> events = Journal();
  const std::vector<std::string> launchers = Launchers(events);
  ASSERT_GE(launchers.size(), 5u);
  std::set<std::string> seen;
  for (const std::string& launcher : launchers) {
    std::vector<Entry> opens;
    for (const Entry& event : journal::OfKind(events, "open"))
      if (std::to_string(event.pid) == launcher) opens.push_back(event);
    ASSERT_EQ(opens.size(), 1u) << "launcher " << launcher << "\n" << Dump(events);
    const std::string file = opens[0].Text("file");
    EXPECT_TRUE(file == a || file == b) << file;
    EXPECT_TRUE(opens[0].Flag("ok")) << opens[0].raw;
    seen.insert(file);
  }
  EXPECT_EQ(seen.size(), 2u) << "both assignments should have been dispatched:\n" << Dump(events);
  EXPECT_TRUE(journal::OfKind(events, "message").empty()) << Dump(events);

  // The last choice is what stays.
  EXPECT_EQ(GetSetting("ButtonB"), flips % 2 == 0 ? a : b);
  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
}

TEST_F(TapdeckE2E, SecondStartBringsTheRunningCopyToTheFront) {
  TakeOver("40C1", 0);
  SetSetting("ButtonA", "<Today>");
  const std::string first = StartTapdeck();
  ASSERT_FALSE(first.empty());
  const std::string screen = Ui({"show", "--json", "--no-lines"});
  const std::string key = "\"main\":{\"window\":";
  const size_t at = screen.find(key);
  ASSERT_NE(at, std::string::npos) << screen;
  const long long window = std::atoll(screen.c_str() + at + key.size());
  char window_hex[32];
  std::snprintf(window_hex, sizeof window_hex, "0x%llx", window);
  // The person switches to Today, then starts tapdeck again.
  Sim({"press", "40C1"});
  ASSERT_NE(Sim({"state"}).find("(the desktop: Today)"), std::string::npos) << Sim({"state"});
  const std::string log = Log();
  ASSERT_NE(log.find("Shortcut list:"), std::string::npos) << log;
  Sim({"journal", "--clear"});

  const std::string second = Sim({"run", "tapdeck"});
  EXPECT_NE(second.find("ended with exit code 0"), std::string::npos) << second;

  const std::vector<Entry> events = Journal();
  const std::vector<Entry> starts = journal::OfKind(events, "start");
  ASSERT_EQ(starts.size(), 1u) << Dump(events);
  const std::string second_pid = std::to_string(starts[0].Int("child"));
  EXPECT_NE(second_pid, first);
  const std::vector<Entry> fronts = journal::OfKind(events, "foreground");
  ASSERT_EQ(fronts.size(), 1u) << Dump(events);
  EXPECT_EQ(std::to_string(fronts[0].pid), second_pid);
  EXPECT_EQ(fronts[0].Int("window"), window);

  // One copy, the old one, in front and still answering; its log untouched.
  const std::string state = Sim({"state"});
  EXPECT_NE(state.find(std::string("foreground window: ") + window_hex + "\n"), std::string::npos) << state;
  const size_t first_window = state.find("main window:");
  ASSERT_NE(first_window, std::string::npos) << state;
  EXPECT_EQ(state.find("main window:", first_window + 1), std::string::npos) << state;
  EXPECT_NE(state.find("pid " + first + "\n"), std::string::npos) << state;
  EXPECT_NE(Ui({"show"}).find("tapdeck (pid " + first + ")"), std::string::npos);
  EXPECT_EQ(Log(), log);

  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
  const std::string final_log = Log();
  EXPECT_EQ(final_log.rfind(log, 0), 0u) << final_log.substr(0, 300);
  EXPECT_NE(final_log.find("\nAssignment 0-1-0:\n"), std::string::npos);
}

// Starts that race: every one but one finds the first copy's window and
// ends with 0; exactly one main window stays.
TEST_F(TapdeckE2E, StartsThatRaceLeaveExactlyOneCopy) {
  constexpr int kStarts = 20;
  const std::vector<std::vector<std::string>> starts(kStarts, {Program("devicesim"), "--device", folder_, "run", "tapdeck"});
  int waiting = 0, ended = 0;
  for (const RunResult& result : RunTogether(starts, "")) {
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    if (result.out.find("waits for input") != std::string::npos) ++waiting;
    if (result.out.find("ended with exit code 0") != std::string::npos) ++ended;
  }
  EXPECT_EQ(waiting, 1);
  EXPECT_EQ(ended, kStarts - 1);
  const std::string state = Sim({"state"});
  const size_t first_window = state.find("main window:");
  ASSERT_NE(first_window, std::string::npos) << state;
  EXPECT_EQ(state.find("main window:", first_window + 1), std::string::npos) << state;
  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
}

}  // namespace

namespace {

// The side key, which the shell's button table does not have, added on the
// Add Buttons page (the Intercept dialog sees it go down), given four
// presses on the Settings page; Done starts the key listener, through which
// every kind of press dispatches its slot.
class AddedKeyE2E : public TapdeckE2E {
 protected:
  void TearDown() override {
    if (listener_ > 0) kill(listener_, SIGKILL);
    TapdeckE2E::TearDown();
  }
  // The listener that holds the side key as its hot key; 0 when none does.
  pid_t SideKeyHolder() {
    const std::string state = Sim({"state"});
    const size_t at = state.find("hot key: 0xC7 (Side Key) held by pid ");
    return at == std::string::npos ? 0 : static_cast<pid_t>(std::atoi(state.c_str() + at + 37));
  }
  // Up to 5 s for the side key to be held, or free.
  bool WaitForSideKey(bool held) {
    for (int wait = 0; wait < 500 && (SideKeyHolder() != 0) != held; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return (SideKeyHolder() != 0) == held;
  }
  pid_t listener_ = 0;
};

TEST_F(AddedKeyE2E, ASideKeyAddedOnThePagesDispatchesEveryPressThroughTheListenerTapdeckStarts) {
  const std::string tapdeck = StartTapdeck();
  Ui({"tab", "Add Buttons", "--quiet"});
  const std::string dialog = Ui({"click", "1025"});
  EXPECT_NE(dialog.find("dialog \"Add Button Intercept\" (template 109"), std::string::npos) << dialog;
  Sim({"press", "side-key"});
  const std::string detected = Ui({"show"});
  EXPECT_NE(detected.find("\"Side Key\""), std::string::npos) << detected;
  Ui({"type", "1027", "Side", "--quiet"});
  Ui({"click", "1", "--quiet"});
  EXPECT_EQ(Sim({"reg", "get", "HKLM\\Software\\Quadrakey\\Hotkeys", "H0"}), "199\n");

  // The stock device's five hardware buttons come first: the side key is button 5, F.
  Ui({"tab", "Settings", "--quiet"});
  Ui({"select", "1012", "Side", "--quiet"});
  Ui({"select", "1013", "<Page Up>", "--quiet"});
  Ui({"select", "1014", "<Page Down>", "--quiet"});
  Ui({"select", "1015", "<Scroll Up>", "--quiet"});
  Ui({"select", "1021", "<Scroll Down>", "--quiet"});
  Ui({"done", "--quiet"});
  Ui({"answer", "--quiet"});  // first use: the Record button's notice

  int64_t listener = 0;
  for (const Entry& start : journal::OfKind(Journal(), "start"))
    if (start.Text("program").find("TapdeckH.exe") != std::string::npos) {
      EXPECT_EQ(std::to_string(start.pid), tapdeck) << "tapdeck starts the listener";
      listener = start.Int("child");
    }
  ASSERT_NE(listener, 0) << Dump(Journal());
  listener_ = static_cast<pid_t>(listener);
  // And starts at sign-in.
  EXPECT_NE(DeviceFile("\\Windows\\StartUp\\Quadrakey Key Listener.lnk").find("\\Quadrakey\\TapdeckH.exe"),
            std::string::npos);
  // It takes its hot key once it has read the list.
  const std::string held = "held by pid " + std::to_string(listener);
  for (int wait = 0; wait < 500 && Sim({"state"}).find(held) == std::string::npos; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_NE(Sim({"state"}).find(held), std::string::npos) << Sim({"state"});

  const std::pair<std::vector<int>, int> presses[] = {
      {{50}, kPageUp}, {{700}, 34}, {{50, 100, 50}, kScrollUp}, {{50, 100, 700}, 40}, {{50, 100, 50, 100, 50}, 40}};
  for (const auto& [series, vk] : presses) {
    const std::vector<Entry> events = Series("side-key", series);
    EXPECT_EQ(DownKeys(events), std::vector<int>{vk}) << Dump(events);
    for (const Entry& start : journal::OfKind(events, "start")) {
      EXPECT_EQ(start.pid, listener) << Dump(events);
      EXPECT_EQ(start.Text("args"), "5");
    }
  }
  EXPECT_EQ(GetSetting("StateF"), "0");
}

// The list is stored at each Add and Remove, so the listener and its sign-in
// entry follow it then, not only at Done: an added key works after Cancel,
// and a removed one no longer does.
TEST_F(AddedKeyE2E, AddAndRemoveTakeEffectAlsoWhenTheSheetIsCancelled) {
  const auto signed_in = [&] {
    return std::filesystem::exists(folder_ + "/fs/Windows/StartUp/Quadrakey Key Listener.lnk");
  };
  StartTapdeck();
  Ui({"tab", "Add Buttons", "--quiet"});
  Ui({"click", "1025", "--quiet"});
  Sim({"press", "side-key"});
  Ui({"type", "1027", "Side", "--quiet"});
  Ui({"click", "1", "--quiet"});
  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
  ASSERT_TRUE(WaitForSideKey(true)) << Sim({"state"}) << Log();
  listener_ = SideKeyHolder();
  EXPECT_TRUE(signed_in());

  StartTapdeck();
  Ui({"tab", "Add Buttons", "--quiet"});
  Ui({"select", "1012", "Side", "--quiet"});
  // Remove asks first; No keeps the button, and its listener listens on.
  const std::string asked = Ui({"click", "1026"});
  EXPECT_NE(asked.find("Remove the button \\\"Side\\\"? Its four presses are forgotten"), std::string::npos) << asked;
  EXPECT_NE(asked.find("[Yes] [No]"), std::string::npos) << asked;
  Ui({"cancel", "--quiet"});
  EXPECT_EQ(SideKeyHolder(), listener_) << Sim({"state"});
  EXPECT_TRUE(signed_in());
  Ui({"click", "1026", "--quiet"});
  Ui({"answer", "--quiet"});
  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
  EXPECT_TRUE(WaitForSideKey(false)) << Sim({"state"});
  EXPECT_FALSE(signed_in());
  for (int wait = 0; wait < 300 && kill(listener_, 0) == 0; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(kill(listener_, 0), 0) << "the listener ended";
  listener_ = 0;
}

// The Intercept dialog pauses the listener (the key to add must reach the
// dialog). tapdeck killed meanwhile cannot start it again; the next start
// of tapdeck does, since Done left its sign-in entry, and it stays when
// that run ends with Cancel.
TEST_F(AddedKeyE2E, AListenerPausedByATapdeckThatWasKilledComesBackWithTheNextStart) {
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey\\Hotkeys", "B0", "--sz", "Side"});
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey\\Hotkeys", "H0", "--dword", "199"});
  StartTapdeck();
  Ui({"done", "--quiet"});
  Ui({"answer", "--quiet"});  // first use: the Record button's notice
  ASSERT_TRUE(WaitForSideKey(true)) << Sim({"state"});
  const pid_t paused = SideKeyHolder();

  const std::string tapdeck = StartTapdeck();
  Ui({"tab", "Add Buttons", "--quiet"});
  Ui({"click", "1025", "--quiet"});
  ASSERT_TRUE(WaitForSideKey(false)) << "paused for the dialog\n" << Sim({"state"});
  kill(static_cast<pid_t>(std::atoi(tapdeck.c_str())), SIGKILL);
  for (int wait = 0; wait < 300 && kill(paused, 0) == 0; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(kill(paused, 0), 0) << "the paused listener ended";
  EXPECT_EQ(SideKeyHolder(), 0);

  StartTapdeck();
  ASSERT_TRUE(WaitForSideKey(true)) << Sim({"state"}) << Log();
  listener_ = SideKeyHolder();
  EXPECT_NE(Log().find("The key listener was not running: it is started again"), std::string::npos) << Log();
  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
  EXPECT_EQ(SideKeyHolder(), listener_) << "it stays after Cancel";
  const std::vector<Entry> events = Series("side-key", {50});
  ASSERT_EQ(journal::OfKind(events, "hotkey").size(), 1u) << Dump(events);
  EXPECT_EQ(journal::OfKind(events, "hotkey")[0].Int("owner"), listener_);
}

}  // namespace
