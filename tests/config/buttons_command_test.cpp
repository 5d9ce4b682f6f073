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

}  // namespace
