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
    std::vector<Event> displays = OfKind(ParseEvents(Sim({"journal", "--json"})), "display");
    if (displays.size() != 1 || !displays[0].Is("ok", "true")) return -1;
    return std::atoi(displays[0].Member("orientation").c_str());
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
  std::vector<Event> messages = OfKind(ParseEvents(Sim({"journal", "--json"})), "message");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].Member("text"), "\"Display rotation does not seem to be supported on this device\"");
  EXPECT_EQ(messages[0].Member("caption"), "\"Quadrakey\"");
  EXPECT_EQ(messages[0].Member("flags"), std::to_string(plat::kMbOk | plat::kMbIconStop | plat::kMbTopmost));
}

TEST_F(RotateE2E, RotateScreenSlotStepsThroughItsMask) {
  TakeOver("40C2", 1);
  SetSetting("ButtonB", "<Page Up>");
  SetSetting("ButtonB2h", "<Rotate Screen>");
  SetSetting("ButtonB-RotateScreen2h", "10");
  std::vector<int> seen;
  for (int i = 0; i < 3; ++i) {
    std::vector<Event> events = Series("40C2", {50, 100, 700});
    std::vector<Event> starts;
    std::vector<std::string> launchers;
    for (const Event& event : OfKind(events, "start")) {
      if (event.Member("program").find("Turnscreen.exe") != std::string::npos) starts.push_back(event);
      if (event.Member("program").find("TapdeckX.exe") != std::string::npos)
        launchers.push_back(event.Member("child"));
    }
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].Member("args"), "\"10\"");
    // Started by the second press's launcher, the one that saw the hold.
    ASSERT_EQ(launchers.size(), 2u);
    EXPECT_EQ(std::to_string(starts[0].pid), launchers[1]);
    std::vector<Event> displays = OfKind(events, "display");
    ASSERT_EQ(displays.size(), 1u);
    seen.push_back(std::atoi(displays[0].Member("orientation").c_str()));
  }
  EXPECT_EQ(seen, (std::vector<int>{90, 270, 90}));
}

TEST_F(RotateE2E, RotateScreenSlotWithoutMaskUsesTheDefault) {
  TakeOver("40C2", 1);
  SetSetting("ButtonB", "<Rotate Screen>");
  std::vector<Event> events = Series("40C2", {50});
  std::vector<Event> displays = OfKind(events, "display");
  ASSERT_EQ(displays.size(), 1u);
  EXPECT_EQ(displays[0].Member("orientation"), "90");
  events = Series("40C2", {50});
  displays = OfKind(events, "display");
  ASSERT_EQ(displays.size(), 1u);
  EXPECT_EQ(displays[0].Member("orientation"), "0");
}

}  // namespace
