// devicesim buttons shows the table as the configuration program numbers it.
#include <gtest/gtest.h>

#include "config/model/launch_buttons.h"
#include "devicesim/cli/commands.h"
#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

TEST_F(LoggedDeviceTest, ButtonsCommandListsIndexOrderAndTakeover) {
  AddEntry(u"40C2", u"Button 2", u"\\Windows\\Contacts.lnk",
           u"\"\\Program Files\\QuadraKey\\TapdeckB.lnk\"");
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk", u"\"\"");
  AddEntry(u"40C3", u"Button 1 (Hold)", u"\\Windows\\Notes.lnk", nullptr);

  testing::internal::CaptureStdout();
  const int status = devicesim::kButtonsCommand.run({});
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, devicesim::kExitOk);
  EXPECT_EQ(out,
            "index  entry  name      originally  quadrakey  command\n"
            "0      40C1   Button 1  Calendar    no         \\Windows\\Calendar.lnk\n"
            "1      40C2   Button 2  Contacts    yes        \"\\Program Files\\QuadraKey\\TapdeckB.lnk\"\n"
            "Record command: none\n");
}

// A table that cannot be read whole is a failure, never a shorter list.
TEST_F(LoggedDeviceTest, ButtonsCommandReportsEveryFailedRead) {
  namespace faults = plat::faults;
  AddEntry(u"40C1", u"Button 1", u"\\Windows\\Calendar.lnk", nullptr);
  AddEntry(u"40C2", u"Button 2", u"\\Windows\\Contacts.lnk", nullptr);
  for (faults::Op op : {faults::Op::RegistryRead, faults::Op::RegistryEnum, faults::Op::RegistryOpen}) {
    faults::Clear();
    testing::internal::CaptureStdout();
    ASSERT_EQ(devicesim::kButtonsCommand.run({}), devicesim::kExitOk);
    testing::internal::GetCapturedStdout();
    const uint32_t calls = faults::Calls(op);
    for (uint32_t k = 1; k <= calls; ++k) {
      SCOPED_TRACE(std::string(faults::Name(op)) + "@" + std::to_string(k));
      faults::Clear();
      faults::FailCall(op, k, plat::kErrorRegistryIoFailed);
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      const int status = devicesim::kButtonsCommand.run({});
      const std::string out = testing::internal::GetCapturedStdout();
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(status, devicesim::kExitFailure) << out;
      EXPECT_NE(err.find("cannot read the "), std::string::npos) << err;
      EXPECT_EQ(out.find("no hardware buttons"), std::string::npos) << out;
    }
  }
  faults::Clear();
}

}  // namespace
