#include "shared/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "platform/faults.h"
#include "platform/platform.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "tests/support/test_device.h"

namespace {

TEST(SpecialActions, NamesAndIndexesBothWays) {
  EXPECT_EQ(GetSpecialActionName(0), u"<Record>");
  EXPECT_EQ(GetSpecialActionName(4), u"<Rotate Screen>");
  EXPECT_EQ(GetSpecialActionName(13), u"<Do Nothing>");
  EXPECT_EQ(GetSpecialActionName(SpecialAction::kPageUp), u"<Page Up>");
  EXPECT_EQ(FindSpecialAction(u"<Power Off>"), static_cast<int>(SpecialAction::kPowerOff));
  EXPECT_EQ(GetSpecialActionName(14), u"");
  EXPECT_EQ(GetSpecialActionName(-1), u"");
  for (int i = 0; i < kSpecialActionCount; ++i) {
    EXPECT_EQ(FindSpecialAction(GetSpecialActionName(i)), i) << i;
  }
}

// A PC offers what it has: the device's keys and programs, its desktop for
// Today; never the input panel or the off key, which a PC either lacks or
// must not be turned off by. The device offers every one.
TEST(SpecialActions, PcLeavesOutWhatItLacksAndTheDeviceOffersAll) {
  const std::vector<SpecialAction> left_out = {SpecialAction::kInputPanel, SpecialAction::kPowerOff};
  for (int i = 0; i < kSpecialActionCount; ++i) {
    const bool out = std::find(left_out.begin(), left_out.end(), static_cast<SpecialAction>(i)) != left_out.end();
    EXPECT_EQ(IsActionOffered(i, true), !out) << i;
    EXPECT_TRUE(IsActionOffered(i, false)) << i;
  }
  EXPECT_FALSE(IsActionOffered(-1, false));
  EXPECT_FALSE(IsActionOffered(kSpecialActionCount, true));
  // Today is Windows+D; every key the device sends, a PC has too.
  const SpecialActionRow& today = kSpecialActions[static_cast<int>(SpecialAction::kToday)];
  EXPECT_EQ(today.pc, PcUse::kKeyChord);
  EXPECT_EQ(today.pc_key, 'D');
  EXPECT_EQ(today.pc_with, 91);
  for (const SpecialActionRow& row : kSpecialActions) {
    if (row.effect == ActionEffect::kKeyPress) {
      EXPECT_EQ(row.pc, PcUse::kAsOnDevice) << static_cast<int>(row.action);
    }
  }
  EXPECT_EQ(LeftOutOnPcText(u"<Power Off>"),
            u"This key press is assigned \"<Power Off>\", which does nothing on a PC. Please run Quadrakey and "
            u"make another assignment for this key press.");
}

TEST(SpecialActions, LookupIgnoresCaseButNothingElse) {
  EXPECT_EQ(FindSpecialAction(u"<rotate screen>"), 4);
  EXPECT_EQ(FindSpecialAction(u"<TODAY>"), 1);
  EXPECT_EQ(FindSpecialAction(u"<esc/cancel>"), 10);
  EXPECT_EQ(FindSpecialAction(u"<Today> "), -1);
  EXPECT_EQ(FindSpecialAction(u"<Today"), -1);
  EXPECT_EQ(FindSpecialAction(u""), -1);
  EXPECT_EQ(FindSpecialAction(u"\\Windows\\Start Menu\\Notes.lnk"), -1);
}

// The programs' folder is the platform's own where it knows it (a PC: the
// running program's), and no stored value moves it; on the device the
// product's "AppFolder" value names it, and the logs go there too.
class AppFolderTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    own_folder_ = plat::GetProductFolder(plat::ProductFolder::Programs, &own_);
    if (!own_folder_) {
      EXPECT_EQ(plat::GetLastError(), plat::kErrorNotSupported);
    }
  }
  // Stores "AppFolder"; the folder the programs then are in, with a separator.
  std::u16string UseFolder(const std::u16string& stored) {
    EXPECT_TRUE(WriteRegString(plat::RegRoot::Product, kSettingsKey, u"AppFolder", stored));
    if (own_folder_) return own_ + u"\\";
    const char16_t last = stored.empty() ? u'\\' : stored.back();
    return last == u'\\' || last == u'/' ? stored : stored + u"\\";
  }
  bool own_folder_ = false;
  std::u16string own_;
};

TEST_F(AppFolderTest, SeparatorIsAddedOnlyWhenMissing) {
  std::u16string folder = UseFolder(u"\\Program Files\\Quadrakey");
  EXPECT_EQ(GetAppFolderPath(u"TapdeckX.exe"), folder + u"TapdeckX.exe");
  folder = UseFolder(u"\\Program Files\\Quadrakey\\");
  EXPECT_EQ(GetAppFolderPath(u"Turnscreen.exe"), folder + u"Turnscreen.exe");
  folder = UseFolder(u"/Program Files/Quadrakey/");
  EXPECT_EQ(GetAppFolderPath(u"TapdeckH.exe"), folder + u"TapdeckH.exe");
  std::u16string read;
  ASSERT_TRUE(ReadAppFolder(read));
  EXPECT_EQ(read + (own_folder_ ? u"\\" : u""), folder) << "the folder as it is, without a separator added";
}

TEST_F(AppFolderTest, MissingOrEmptyFolderGivesTheFileNameAlone) {
  if (own_folder_) GTEST_SKIP() << "the platform knows the programs' folder without a stored value";
  EXPECT_EQ(GetAppFolderPath(u"TapdeckX.exe"), u"TapdeckX.exe");
  EXPECT_EQ(GetLogFilePath(u"launch.log"), u"launch.log");
  EXPECT_EQ(GetTakeoverShortcutPath(2), u"TapdeckC.lnk");
  std::u16string read = u"old";
  EXPECT_FALSE(ReadAppFolder(read));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorFileNotFound);
  UseFolder(u"");
  EXPECT_EQ(GetAppFolderPath(u"Turnscreen.exe"), u"Turnscreen.exe");
}

TEST_F(AppFolderTest, LogsGoToThePlatformsFolderForLogsElseBesideThePrograms) {
  const std::u16string programs = UseFolder(u"\\Program Files\\Quadrakey");
  std::u16string logs;
  if (plat::GetProductFolder(plat::ProductFolder::Logs, &logs)) {
    EXPECT_TRUE(own_folder_);
    EXPECT_EQ(GetLogFilePath(u"launch.log"), logs + u"\\launch.log");
    EXPECT_NE(logs + u"\\", programs) << "logs are the user's, the programs' folder may not be writable";
  } else {
    EXPECT_EQ(GetLogFilePath(u"launch.log"), programs + u"launch.log");
  }
}

// A platform that cannot say where its folders are has not said "ask the
// stored value": nothing is built from a value that does not apply.
TEST_F(AppFolderTest, AFailedFolderQueryIsNoStoredFolder) {
  UseFolder(u"\\Program Files\\Quadrakey");
  plat::faults::FailCall(plat::faults::Op::ProductFolder, 1, plat::kErrorAccessDenied);
  EXPECT_EQ(GetAppFolderPath(u"TapdeckX.exe"), u"TapdeckX.exe");
  plat::faults::FailCall(plat::faults::Op::ProductFolder, 1, plat::kErrorAccessDenied);
  std::u16string read;
  EXPECT_FALSE(ReadAppFolder(read));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorAccessDenied);
  EXPECT_EQ(read, u"");
}

TEST_F(AppFolderTest, TakeoverShortcutCarriesTheButtonLetter) {
  const std::u16string folder = UseFolder(u"\\Program Files\\Quadrakey");
  EXPECT_EQ(GetTakeoverShortcutPath(0), folder + u"TapdeckA.lnk");
  const std::u16string b = GetTakeoverShortcutPath(1);
  EXPECT_EQ(b.substr(b.size() - 12), u"TapdeckB.lnk");
  EXPECT_EQ(GetTakeoverShortcutPath(3), folder + u"TapdeckD.lnk");
  EXPECT_EQ(GetTakeoverShortcutPath(26), folder + u"Tapdeck[.lnk");
}

TEST_F(AppFolderTest, AllBuildersShareOneResult) {
  const std::u16string folder = UseFolder(u"\\Apps\\Quadrakey");
  const std::u16string& kept = GetAppFolderPath(u"TapdeckX.exe");
  const std::u16string copy = kept;
  GetTakeoverShortcutPath(1);
  EXPECT_EQ(kept, folder + u"TapdeckB.lnk");
  EXPECT_EQ(copy, folder + u"TapdeckX.exe");
  const std::u16string log = GetLogFilePath(u"tapdeck.log");
  EXPECT_EQ(kept, log);
  // Handing the shared result back in builds from its text, not from an
  // emptied string.
  EXPECT_EQ(GetAppFolderPath(GetAppFolderPath(u"x")), folder + folder + u"x");
}

TEST(SplitPath, NameAndExtension) {
  struct Case {
    const char16_t* path;
    const char16_t* name;
    const char16_t* extension;
  };
  const Case cases[] = {
      {u"\\Windows\\Start Menu\\Calculator.lnk", u"Calculator", u"lnk"},
      {u"\\My.Folder\\readme", u"readme", u""},
      {u"notes.txt", u"notes", u"txt"},
      {u"\\Windows\\.profile", u"", u"profile"},
      {u"\\Windows\\archive.", u"archive", u""},
      {u"\\Windows\\", u"", u""},
      {u"a.tar.gz", u"a.tar", u"gz"},
      {u"C:report.doc", u"report", u"doc"},
      {u"/sd/photo.jpg", u"photo", u"jpg"},
      {u"", u"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    std::u16string name = u"old";
    std::u16string extension = u"old";
    SplitPath(c.path, name, extension);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(extension, c.extension);
  }
  // The path may be one of the outputs.
  std::u16string path = u"\\x\\y.lnk";
  std::u16string extension;
  SplitPath(path, path, extension);
  EXPECT_EQ(path, u"y");
  EXPECT_EQ(extension, u"lnk");
}

TEST(TextUtilities, MakeLowerChangesOnlyUpperCaseLetters) {
  std::u16string path = u"\\Program Files\\Quadrakey\\TapdeckA.lnk 42";
  MakeLower(path);
  EXPECT_EQ(path, u"\\program files\\quadrakey\\tapdecka.lnk 42");
  std::u16string accented = u"\u00C4\u00D6\u0391\u0416x";  // Ä Ö Alpha Zhe
  MakeLower(accented);
  EXPECT_EQ(accented, u"\u00E4\u00F6\u03B1\u0436x");
}

TEST(TextUtilities, WidenTextSignExtendsEachByte) {
  std::u16string out = u"previous content";
  WidenText(out, "A\x7F\x80\xFF");
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], u'A');
  EXPECT_EQ(out[1], 0x7F);
  EXPECT_EQ(out[2], 0xFF80);
  EXPECT_EQ(out[3], 0xFFFF);
  WidenText(out, "");
  EXPECT_EQ(out, u"");
  out.push_back(u'x');  // something for the null text to clear
  WidenText(out, nullptr);
  EXPECT_EQ(out, u"");
}

TEST(TextUtilities, TextToLongFollowsTheRuntimeRules) {
  EXPECT_EQ(TextToLong(u" 12"), 12);
  EXPECT_EQ(TextToLong(u"3"), 3);
  EXPECT_EQ(TextToLong(u""), 0);
  EXPECT_EQ(TextToLong(u"x"), 0);
  EXPECT_EQ(TextToLong(u"-5"), -5);
  EXPECT_EQ(TextToLong(u"+7"), 7);
  EXPECT_EQ(TextToLong(u"\t\r\n 42 7"), 42);
  EXPECT_EQ(TextToLong(u"15abc"), 15);
  EXPECT_EQ(TextToLong(u"- 5"), 0);
  EXPECT_EQ(TextToLong(u"0x10"), 0);
  EXPECT_EQ(TextToLong(u"2147483647"), INT32_MAX);
  EXPECT_EQ(TextToLong(u"2147483648"), INT32_MAX);
  EXPECT_EQ(TextToLong(u"99999999999999999999999"), INT32_MAX);
  EXPECT_EQ(TextToLong(u"-2147483648"), INT32_MIN);
  EXPECT_EQ(TextToLong(u"-2147483649"), INT32_MIN);
  EXPECT_EQ(TextToLong(u"-99999999999999999999999"), INT32_MIN);
}

TEST_F(AppFolderTest, FileExistsForFilesOnly) {
  const std::u16string path = u"\\present.txt";
  EXPECT_FALSE(FileExists(path));
  plat::TextFile file = plat::OpenTextFile(path, "wt");
  ASSERT_NE(file, nullptr);
  plat::CloseTextFile(file);
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(FileExists(u"\\PRESENT.TXT"));
  EXPECT_FALSE(FileExists(u"\\missing\\present.txt"));
  ASSERT_TRUE(plat::DeleteFile(path));
  EXPECT_FALSE(FileExists(path));
}

}  // namespace
