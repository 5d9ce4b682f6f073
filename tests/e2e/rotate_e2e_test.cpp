// The rotation tool as a program, started directly and through a button.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/e2e/e2e_support.h"

namespace {

class RotateE2E : public EndToEndTest {
 protected:
  // Sets the display, runs Turnscreen with `args` and gives the degrees.
  int RunFrom(int degrees, const std::vector<std::string>& args) {
    Sim({"display", "--orientation", std::to_string(degrees)});
    return Run(args);
  }
  // The orientation this one run applied, or -1 unless it made exactly one
  // successful request: an earlier run's entry must not stand in for it.
  int Run(const std::vector<std::string>& args) {
    Sim({"journal", "--clear"});
    std::vector<std::string> argv = {Program("Turnscreen")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = RunProgram(argv, folder_);
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<Entry> displays = journal::OfKind(Journal(), "display");
    if (displays.size() != 1 || !displays[0].Flag("ok")) return -1;
    return static_cast<int>(displays[0].Int("orientation"));
  }
};

TEST_F(RotateE2E, MasksChooseTheNextOrientation) {
  EXPECT_EQ(RunFrom(0, {"3"}), 90);
  EXPECT_EQ(Run({"3"}), 0);
  EXPECT_EQ(Run({"3"}), 90);
  std::vector<int> quarter_turns;
  for (int i = 0; i < 4; ++i) quarter_turns.push_back(RunFrom(i == 0 ? 0 : quarter_turns.back(), {"15"}));
  EXPECT_EQ(quarter_turns, (std::vector<int>{90, 180, 270, 0}));
  EXPECT_EQ(RunFrom(90, {"5"}), 180);
  EXPECT_EQ(RunFrom(180, {"5"}), 0);
  EXPECT_EQ(RunFrom(270, {"5"}), 0);
  EXPECT_EQ(RunFrom(0, {"4"}), 180);
  EXPECT_EQ(Run({"4"}), 180);
  EXPECT_EQ(RunFrom(90, {"2"}), 90);
}

TEST_F(RotateE2E, DefaultMaskAndLowBits) {
  EXPECT_EQ(RunFrom(0, {}), 90);
  EXPECT_EQ(RunFrom(0, {"0"}), 90);
  EXPECT_EQ(RunFrom(90, {"abc"}), 0);
  EXPECT_EQ(RunFrom(0, {"16"}), 90);
  EXPECT_EQ(RunFrom(90, {"17"}), 0);
  EXPECT_EQ(RunFrom(0, {"17"}), 0);
}

TEST_F(RotateE2E, UnsupportedDisplayShowsTheMessage) {
  Sim({"display", "--rotation", "off"});
  RunResult result = RunProgram({Program("Turnscreen"), "15"}, folder_);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(journal::Matches(journal::OfKind(Journal(), "message"),
                               {{"message",
                                 {{"text", "Display rotation does not seem to be supported on this device"},
                                  {"caption", "Quadrakey"},
                                  {"flags", plat::kMbOk | plat::kMbIconStop | plat::kMbTopmost}}}}));
}

TEST_F(RotateE2E, RotateScreenSlotStepsThroughItsMask) {
  TakeOver("40C2", 1);
  SetSetting("ButtonB", "<Page Up>");
  SetSetting("ButtonB2h", "<Rotate Screen>");
  SetSetting("ButtonB-RotateScreen2h", "10");
  std::vector<int> seen;
  for (int i = 0; i < 3; ++i) {
    std::vector<Entry> events = Series("40C2", {50, 100, 700});
    std::vector<Entry> starts;
    std::vector<int64_t> launchers;
    for (const Entry& event : journal::OfKind(events, "start")) {
      if (event.Text("program") == "\\Program Files\\Quadrakey\\Turnscreen.exe") starts.push_back(event);
      if (event.Text("program") == "\\Program Files\\Quadrakey\\TapdeckX.exe")
        launchers.push_back(event.Int("child"));
    }
    ASSERT_EQ(starts.size(), 1u) << journal::Describe(events);
    EXPECT_EQ(starts[0].Text("args"), "10");
    // Started by the second press's launcher, the one that saw the hold.
    ASSERT_EQ(launchers.size(), 2u) << journal::Describe(events);
    EXPECT_EQ(starts[0].pid, launchers[1]);
    std::vector<Entry> displays = journal::OfKind(events, "display");
    ASSERT_EQ(displays.size(), 1u) << journal::Describe(events);
    seen.push_back(static_cast<int>(displays[0].Int("orientation")));
  }
  EXPECT_EQ(seen, (std::vector<int>{90, 270, 90}));
}

TEST_F(RotateE2E, RotateScreenSlotWithoutMaskUsesTheDefault) {
  TakeOver("40C2", 1);
  SetSetting("ButtonB", "<Rotate Screen>");
  EXPECT_TRUE(journal::Matches(journal::OfKind(Series("40C2", {50}), "display"),
                               {{"display", {{"orientation", 90}, {"ok", true}}}}));
  EXPECT_TRUE(journal::Matches(journal::OfKind(Series("40C2", {50}), "display"),
                               {{"display", {{"orientation", 0}, {"ok", true}}}}));
}

}  // namespace
