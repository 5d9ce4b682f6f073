// The tuner as a person uses it: tapdeck's Settings page opens "Tune Button
// Timing" for Button 2, the person presses the button through the real
// shell path as asked, and the timing proposed is what the launcher then
// reads their presses by. While the dialog is open the presses act nowhere.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace {

constexpr int kPageUp = 33, kScrollUp = 38;

std::string Dump(const std::vector<Entry>& events) { return journal::Describe(events); }

// A slow person: taps of about 170 ms, 250 ms between the presses of a
// double, holds of a second. At the defaults their doubles are two single
// presses.
const std::vector<std::vector<int>> kSlowPerson[] = {
    {{170}, {210}, {150}, {190}, {230}},
    {{1000}, {850}, {1200}, {950}, {1100}},
    {{170, 250, 160}, {200, 230, 180}, {150, 300, 170}, {190, 260, 200}, {180, 280, 150}},
    {{160, 240, 980}, {210, 270, 1050}, {175, 250, 900}, {185, 300, 1150}, {165, 235, 1000}},
};

class TunerE2E : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    TakeOver("40C2", 1);
    SetSetting("ButtonB", "<Page Up>");
    SetSetting("ButtonB2", "<Scroll Up>");
  }
  void TearDown() override {
    if (tapdeck_ > 0) kill(tapdeck_, SIGKILL);  // a test that stopped halfway leaves no program behind
    EndToEndTest::TearDown();
  }
  std::string Ui(std::vector<std::string> args) {
    args.insert(args.begin(), "ui");
    return Sim(args);
  }
  // tapdeck started, Button 2 selected and its tuner opened.
  void OpenTuner() {
    const std::string started = Sim({"run", "tapdeck"});
    ASSERT_NE(started.find("waits for input"), std::string::npos) << started;
    const size_t pid = started.find(", pid ");
    if (pid != std::string::npos) tapdeck_ = static_cast<pid_t>(std::atoi(started.c_str() + pid + 6));
    Ui({"select", "1012", "Button 2 (originally Contacts)", "--quiet"});
    const std::string dialog = Ui({"click", "1100"});
    ASSERT_NE(dialog.find("dialog \"Tune Button Timing\" (template 111"), std::string::npos) << dialog;
    ASSERT_NE(dialog.find("1102   label      \"Now: press once (1 of 5)\""), std::string::npos) << dialog;
  }
  // One attempt, as one series, and the pause a person leaves before the next.
  std::vector<Entry> Attempt(const std::vector<int>& durations) {
    std::vector<Entry> events = Series("40C2", durations);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    return events;
  }
  // The slow person's presses, five of each kind; none may act.
  void RecordSlowPerson() {
    for (const auto& kind : kSlowPerson) {
      for (const std::vector<int>& attempt : kind) {
        const std::vector<Entry> events = Attempt(attempt);
        // Taken by the dialog: no launcher, no command of the button table.
        EXPECT_TRUE(journal::OfKind(events, "start").empty()) << Dump(events);
        EXPECT_TRUE(journal::OfKind(events, "open").empty()) << Dump(events);
      }
    }
  }
  // The text of a label as `ui show` prints it.
  static std::string Label(const std::string& screen, int id) {
    const std::string start = std::to_string(id) + "   label      \"";
    const size_t at = screen.find(start);
    if (at == std::string::npos) return "<none>";
    const size_t from = at + start.size();
    return screen.substr(from, screen.find('"', from) - from);
  }
  pid_t tapdeck_ = 0;
};

TEST_F(TunerE2E, ASlowPersonsProposalIsStoredForTheButtonAndReadsTheirDoublePresses) {
  // At the defaults a slow double press is two single presses.
  std::vector<Entry> before = Series("40C2", {170, 280, 170});
  EXPECT_EQ(journal::OfKind(before, "key").size(), 2u * 2) << Dump(before);  // Page Up down and up, twice

  OpenTuner();
  EXPECT_NE(Sim({"state"}).find("key taken: 0xC2"), std::string::npos) << Sim({"state"});
  RecordSlowPerson();
  const std::string screen = Ui({"show"});
  EXPECT_EQ(Label(screen, 1102), "All presses recorded.") << screen;
  EXPECT_EQ(Label(screen, 1103), "These intervals read all 20 recorded presses as you meant them.") << screen;
  EXPECT_EQ(Label(screen, 1122), "0 of 5") << "the defaults read no slow double\n" << screen;
  EXPECT_EQ(Label(screen, 1132), "5 of 5") << screen;
  const std::string hold = Label(screen, 1134), window = Label(screen, 1135);
  ASSERT_NE(hold.find(" ms"), std::string::npos) << screen;
  ASSERT_NE(window.find(" ms"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("1      button     \"Accept\"  disabled"), std::string::npos) << screen;

  const std::string page = Ui({"click", "1"});
  EXPECT_NE(page.find("page \"Settings\""), std::string::npos) << page;
  EXPECT_EQ(GetSetting("HoldIntervalB"), hold.substr(0, hold.find(' ')));
  EXPECT_EQ(GetSetting("DblClickIntervalB"), window.substr(0, window.find(' ')));
  EXPECT_EQ(Sim({"state"}).find("key taken"), std::string::npos) << "given back with the dialog";

  // The launcher reads the slow double by the button's own intervals now.
  const std::vector<Entry> after = Series("40C2", {170, 280, 170});
  std::vector<int> sent;
  for (const Entry& key : journal::OfKind(after, "key"))
    if (!key.Flag("up")) sent.push_back(static_cast<int>(key.Int("vk")));
  EXPECT_EQ(sent, std::vector<int>{kScrollUp}) << Dump(after);
  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
}

// The Options page writes the global timings it shows at Done: it shows the
// tuner's, stored for every button, at once, and they survive Done.
TEST_F(TunerE2E, ATimingForEveryButtonOutlastsDone) {
  SetSettingDword("HoldInterval", 350);
  SetSettingDword("HoldIntervalB", 250);
  OpenTuner();
  RecordSlowPerson();
  const std::string screen = Ui({"click", "1104"});
  ASSERT_NE(screen.find("1104   check box  \"Use for every button\"  checked"), std::string::npos) << screen;
  const std::string hold = Label(screen, 1134), window = Label(screen, 1135);
  Ui({"click", "1", "--quiet"});
  EXPECT_EQ(GetSetting("HoldInterval"), hold.substr(0, hold.find(' ')));
  const std::string options = Ui({"tab", "Options"});
  const std::string hold_ms = hold.substr(0, hold.find(' ')), window_ms = window.substr(0, window.find(' '));
  EXPECT_NE(options.find("1033   trackbar   range 200..800, position " + hold_ms), std::string::npos) << options;
  EXPECT_NE(options.find("1025   trackbar   range 200..2000, position " + window_ms), std::string::npos) << options;
  EXPECT_EQ(Label(options, 1039), hold) << "the page shows it in milliseconds too\n" << options;
  Ui({"done", "--quiet"});
  Ui({"answer", "--quiet"});  // first use: the Record button's notice
  EXPECT_EQ(GetSetting("HoldInterval"), hold_ms);
  EXPECT_EQ(GetSetting("DblClickInterval"), window_ms);
  // Button 2 follows them now, without a hold interval of its own.
  EXPECT_EQ(Sim({"reg", "export", "HKLM\\Software\\Quadrakey"}).find("HoldIntervalB"), std::string::npos);
  tapdeck_ = 0;
}

TEST_F(TunerE2E, AnInconsistentPersonIsToldSoAndCancelChangesNothing) {
  SetSettingDword("HoldInterval", 350);
  OpenTuner();
  const std::string settings = Sim({"reg", "export", "HKLM\\Software\\Quadrakey"});
  // Taps as long as their holds: one "press once" of 600 ms, one hold of 450.
  const std::vector<std::vector<int>> kinds[] = {
      {{100}, {600}, {110}, {90}, {120}},
      {{800}, {450}, {900}, {750}, {820}},
      {{100, 130, 90}, {90, 140, 100}, {110, 120, 95}, {95, 150, 100}, {105, 125, 110}},
      {{100, 130, 800}, {90, 140, 850}, {110, 120, 900}, {95, 150, 780}, {105, 125, 820}},
  };
  for (const auto& kind : kinds)
    for (const std::vector<int>& attempt : kind) Attempt(attempt);
  const std::string screen = Ui({"show"});
  EXPECT_EQ(Label(screen, 1102), "All presses recorded.") << screen;
  EXPECT_NE(Label(screen, 1103).find("You pressed inconsistently: a press meant as a tap lasted 6"),
            std::string::npos)
      << screen;
  EXPECT_EQ(Label(screen, 1124), "350 ms") << screen;
  EXPECT_EQ(Label(screen, 1134), "-") << screen;
  EXPECT_NE(screen.find("1      button     \"Accept\"  disabled"), std::string::npos) << screen;
  // Start Over asks from the beginning; Cancel leaves.
  EXPECT_EQ(Label(Ui({"click", "1105"}), 1102), "Now: press once (1 of 5)");
  const std::string page = Ui({"cancel"});
  EXPECT_NE(page.find("page \"Settings\""), std::string::npos) << page;
  EXPECT_EQ(Sim({"reg", "export", "HKLM\\Software\\Quadrakey"}), settings);
  // The key is the button table's again: a press acts.
  const std::vector<Entry> events = Series("40C2", {50});
  std::vector<int> sent;
  for (const Entry& key : journal::OfKind(events, "key"))
    if (!key.Flag("up")) sent.push_back(static_cast<int>(key.Int("vk")));
  EXPECT_EQ(sent, std::vector<int>{kPageUp}) << Dump(events);
  EXPECT_NE(Ui({"cancel"}).find("ended with exit code 0"), std::string::npos);
}

}  // namespace
