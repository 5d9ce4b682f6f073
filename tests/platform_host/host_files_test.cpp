// The device's file system on the host: case-insensitive paths that never
// leave fs/, listings with their dot entries, the shortcut's text form.
#include <filesystem>
#include <string>

#include "platform/host/device/device.h"
#include "tests/platform_host/host_support.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

class HostFiles : public DeviceTest {};

TEST_F(HostFiles, DevicePathsMatchExistingNamesIgnoringCase) {
  host_test::PutFile(u"\\Windows\\Start Menu\\Programs\\Notes.lnk", "22#\"\\Windows\\notes.exe\"");
  std::string fs = device_name_ + "/fs";
  EXPECT_EQ(device::HostPath(u"\\WINDOWS\\start menu\\PROGRAMS\\notes.LNK"),
            fs + "/Windows/Start Menu/Programs/Notes.lnk");
  // Missing parts are kept as written; '/' separates like '\'.
  EXPECT_EQ(device::HostPath(u"/windows/New Folder\\New.txt"), fs + "/Windows/New Folder/New.txt");
  EXPECT_NE(GetFileAttributes(u"\\windows\\START MENU") & kFileAttributeDirectory, 0u);
  EXPECT_EQ(host_test::GetFile(u"\\windows\\start menu\\programs\\NOTES.lnk"), "22#\"\\Windows\\notes.exe\"");
}

TEST_F(HostFiles, DotDotNeverLeavesTheFileSystem) {
  EXPECT_EQ(device::HostPath(u"\\..\\..\\registry.db"), device_name_ + "/fs/registry.db");
  EXPECT_EQ(device::HostPath(u"\\Windows\\..\\..\\x"), device_name_ + "/fs/x");
  EXPECT_EQ(GetFileAttributes(u"\\..\\registry.db"), kInvalidFileAttributes);
  EXPECT_EQ(OpenTextFile(u"\\..\\registry.db", "rt"), nullptr);
}

TEST_F(HostFiles, SubfolderListingHasDotsAndTellsFolders) {
  host_test::PutFile(u"\\Windows\\Start Menu\\Programs\\Games\\Solitaire.lnk", "1#x");
  host_test::PutFile(u"\\Windows\\Start Menu\\Programs\\Calc.lnk", "1#x");
  host_test::PutFile(u"\\Windows\\Start Menu\\Programs\\readme", "");
  std::vector<FoundFile> found;
  ASSERT_TRUE(ListFiles(u"\\Windows\\start menu\\Programs\\*.*", &found));
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].name, u".");
  EXPECT_EQ(found[1].name, u"..");
  EXPECT_EQ(found[2].name, u"Calc.lnk");
  EXPECT_FALSE(found[2].is_folder);
  EXPECT_EQ(found[3].name, u"Games");
  EXPECT_TRUE(found[3].is_folder);
  EXPECT_EQ(found[4].name, u"readme");

  found.clear();
  ASSERT_TRUE(ListFiles(u"\\Windows\\Start Menu\\Programs\\*.LNK", &found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, u"Calc.lnk");

  found.clear();
  EXPECT_TRUE(ListFiles(u"\\Windows\\Start Menu\\Programs\\*.none", &found));
  EXPECT_TRUE(found.empty());
  EXPECT_FALSE(ListFiles(u"\\Windows\\Start Menu\\Programs\\Calc.lnk\\*.*", &found));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(HostFiles, ShortcutIsCountHashTarget) {
  host_test::PutFile(u"\\Windows\\keep", "");
  ASSERT_TRUE(CreateShortcut(u"\\Windows\\Notes.lnk", u"\"\\Windows\\notes.exe\""));
  EXPECT_EQ(host_test::GetFile(u"\\Windows\\notes.lnk"), "20#\"\\Windows\\notes.exe\"");
  // The count is in characters, not bytes.
  ASSERT_TRUE(CreateShortcut(u"\\Windows\\Wide.lnk", u"\\Windows\\\u00dcbung.exe"));
  EXPECT_EQ(host_test::GetFile(u"\\Windows\\wide.lnk"), "18#\\Windows\\\xc3\x9c" "bung.exe");
  EXPECT_FALSE(CreateShortcut(u"\\Nowhere\\x.lnk", u"x"));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(HostFiles, EmptyPathNamesNothing) {
  EXPECT_EQ(GetFileAttributes(u""), kInvalidFileAttributes);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(OpenTextFile(u"", "wt"), nullptr);
  EXPECT_FALSE(DeleteFile(u""));
  EXPECT_FALSE(ShellOpen(u""));
  EXPECT_FALSE(CreateProcess(u"", u""));
  EXPECT_NE(GetFileAttributes(u"\\"), kInvalidFileAttributes);  // the root is "\"
}

TEST_F(HostFiles, OverlongPathsFailCleanly) {
  const std::u16string long_name = u"\\" + std::u16string(300, u'n') + u".txt";
  EXPECT_EQ(GetFileAttributes(long_name), kInvalidFileAttributes);
  EXPECT_EQ(GetLastError(), kErrorFilenameExcedRange);
  EXPECT_EQ(OpenTextFile(long_name, "wt"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFilenameExcedRange);
  std::u16string deep;
  for (int i = 0; i < 400; ++i) deep += u"\\folder";
  EXPECT_EQ(GetFileAttributes(deep), kInvalidFileAttributes);
  EXPECT_FALSE(CreateProcess(deep + u"\\x.exe", u""));
  EXPECT_FALSE(ShellOpen(deep + u".lnk"));
}

TEST_F(HostFiles, DeletingAFolderOrBadModesFail) {
  host_test::PutFile(u"\\Folder\\file.txt", "x");
  EXPECT_FALSE(DeleteFile(u"\\Folder"));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(OpenTextFile(u"\\Folder", "rt"), nullptr);
  EXPECT_EQ(OpenTextFile(u"\\Folder\\file.txt", "r+b"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(host_test::GetFile(u"\\Folder\\file.txt"), "x");
}

TEST_F(HostFiles, TextKeepsCharactersOutsideTheBasicPlane) {
  TextFile file = OpenTextFile(u"\\plane.txt", "wt");
  ASSERT_NE(file, nullptr);
  // A pair becomes one 4-byte character; a lone surrogate becomes U+FFFD.
  EXPECT_TRUE(WriteTextFile(file, u"\U0001F600|\xD800|"));
  CloseTextFile(file);
  EXPECT_EQ(host_test::GetFile(u"\\plane.txt"), "\xF0\x9F\x98\x80|\xEF\xBF\xBD|");
  EXPECT_EQ(device::FromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(device::FromUtf8("a\xC3"), u"a\uFFFD");         // cut short
  EXPECT_EQ(device::FromUtf8("\xC0\xAF"), u"\uFFFD");        // overlong

  // Names and paths keep a lone surrogate in its own 3-byte form instead;
  // valid text is plain UTF-8 either way.
  EXPECT_EQ(device::ToUtf8(u"\U0001F600|\xD800|\xDFFF"), "\xF0\x9F\x98\x80|\xED\xA0\x80|\xED\xBF\xBF");
  EXPECT_EQ(device::FromUtf8("\xED\xA0\x80|\xED\xBF\xBF"), u"\xD800|\xDFFF");
  EXPECT_EQ(device::ToUtf8(u"Caf\u00e9 \u041a"), "Caf\xC3\xA9 \xD0\x9A");
}

}  // namespace
