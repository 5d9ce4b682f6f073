// The rotation tool's mask rules, its cycle, and one step on an emulated
// display.
#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "rotate/rotation.h"
#include "tests/support/journal_expect.h"
#include "tests/support/test_device.h"

namespace {

using plat::kDmdo0;
using plat::kDmdo180;
using plat::kDmdo270;
using plat::kDmdo90;

TEST(RotationMask, DefaultsAndLowFourBits) {
  for (const char16_t* text : {u"", u"0", u"x", u"x5", u"16", u"  "})
    EXPECT_EQ(MaskFromCommandLine(text), 3u) << device::ToUtf8(text);
  EXPECT_EQ(MaskFromCommandLine(u"17"), 1u);
  EXPECT_EQ(MaskFromCommandLine(u" 15"), 15u);
  EXPECT_EQ(MaskFromCommandLine(u"10 trailing"), 10u);
  EXPECT_EQ(MaskFromCommandLine(u"-1"), 15u);
  EXPECT_EQ(ParseCommandNumber(u"+42"), 42);
  EXPECT_EQ(ParseCommandNumber(u"99999999999999999999"), 2147483647);
  EXPECT_EQ(ParseCommandNumber(u"-99999999999999999999"), -2147483647 - 1);
}

std::vector<uint32_t> Walk(uint32_t start, uint32_t mask, int steps) {
  std::vector<uint32_t> seen;
  uint32_t current = start;
  for (int i = 0; i < steps; ++i) seen.push_back(current = NextOrientation(current, mask));
  return seen;
}

TEST(RotationCycle, StepsToTheNextChosenOrientation) {
  EXPECT_EQ(Walk(kDmdo0, 3, 4), (std::vector<uint32_t>{kDmdo90, kDmdo0, kDmdo90, kDmdo0}));
  EXPECT_EQ(Walk(kDmdo0, 15, 4), (std::vector<uint32_t>{kDmdo90, kDmdo180, kDmdo270, kDmdo0}));
  EXPECT_EQ(NextOrientation(kDmdo90, 5), kDmdo180);
  EXPECT_EQ(NextOrientation(kDmdo180, 5), kDmdo0);
  EXPECT_EQ(NextOrientation(kDmdo270, 5), kDmdo0);
  EXPECT_EQ(Walk(kDmdo0, 4, 3), (std::vector<uint32_t>{kDmdo180, kDmdo180, kDmdo180}));
  EXPECT_EQ(NextOrientation(kDmdo90, 2), kDmdo90);
  EXPECT_EQ(Walk(kDmdo0, 10, 3), (std::vector<uint32_t>{kDmdo90, kDmdo270, kDmdo90}));
}

TEST(RotationCycle, UnknownCurrentOrientationCountsAsNormal) {
  for (uint32_t odd : {3u, 5u, 8u, 0xFFFFFFFFu}) {
    EXPECT_EQ(NextOrientation(odd, 15), kDmdo90) << odd;
    EXPECT_EQ(NextOrientation(odd, 1), kDmdo0) << odd;
  }
}

class RotateDisplayTest : public DeviceTest {
 protected:
  static std::vector<journal::Entry> Messages() { return journal::OfKind(journal::Read(), "message"); }
  static uint32_t Orientation() {
    device::DisplayState state{99, true};
    EXPECT_TRUE(device::GetDisplay(&state));
    return state.orientation;
  }
  static void ExpectTheMessage(const std::vector<journal::Entry>& messages) {
    EXPECT_TRUE(journal::Matches(
        messages, {{"message",
                    {{"text", "Display rotation does not seem to be supported on this device"},
                     {"caption", "Quadrakey"},
                     {"flags", plat::kMbOk | plat::kMbIconStop | plat::kMbTopmost}}}}));
  }
};

TEST_F(RotateDisplayTest, TurnsASupportedDisplay) {
  ASSERT_TRUE(device::SetDisplay({kDmdo180, true}));
  RotateDisplay(u"5");
  EXPECT_EQ(Orientation(), kDmdo0);
  RotateDisplay(u"5");
  EXPECT_EQ(Orientation(), kDmdo180);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(RotateDisplayTest, UnsupportedDisplayShowsTheMessage) {
  ASSERT_TRUE(device::SetDisplay({kDmdo0, false}));
  RotateDisplay(u"15");
  EXPECT_EQ(Orientation(), kDmdo0);
  ExpectTheMessage(Messages());
}

TEST_F(RotateDisplayTest, AnyFailedTurnShowsTheMessage) {
  plat::faults::FailCall(plat::faults::Op::DisplaySet, 1, plat::kErrorGenFailure);
  RotateDisplay(u"15");
  EXPECT_EQ(Orientation(), kDmdo0);
  ExpectTheMessage(Messages());
}

}  // namespace
