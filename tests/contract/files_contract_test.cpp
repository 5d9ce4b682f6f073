// File behaviour every backend must share. Files are made at the root with
// names no device ships, and removed again.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

class FilesContract : public DeviceTest {
 protected:
  void TearDown() override {
    for (const std::u16string& path : made_) DeleteFile(path);
    DeviceTest::TearDown();
  }

  void Write(const std::u16string& path, const std::u16string& text, const char* mode = "wt") {
    TextFile file = OpenTextFile(path, mode);
    ASSERT_NE(file, nullptr) << "last error " << GetLastError();
    made_.push_back(path);
    EXPECT_TRUE(WriteTextFile(file, text));
    EXPECT_TRUE(FlushTextFile(file));
    CloseTextFile(file);
  }

  static std::string ReadAll(const std::u16string& path) {
    TextFile file = OpenTextFile(path, "rt");
    if (file == nullptr) return "<cannot open>";
    std::string bytes;
    EXPECT_TRUE(ReadTextFile(file, &bytes));
    CloseTextFile(file);
    bytes.erase(std::remove(bytes.begin(), bytes.end(), '\r'), bytes.end());
    return bytes;
  }

  std::vector<std::u16string> made_;
};

TEST_F(FilesContract, AttributesTellFilesFoldersAndMissingPaths) {
  Write(u"\\qkc_attr.txt", u"x");
  uint32_t file = GetFileAttributes(u"\\QKC_ATTR.TXT");
  ASSERT_NE(file, kInvalidFileAttributes);
  EXPECT_EQ(file & kFileAttributeDirectory, 0u);
  uint32_t root = GetFileAttributes(u"\\");
  ASSERT_NE(root, kInvalidFileAttributes);
  EXPECT_NE(root & kFileAttributeDirectory, 0u);

  EXPECT_EQ(GetFileAttributes(u"\\qkc_missing.txt"), kInvalidFileAttributes);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(GetFileAttributes(u"\\qkc_no_folder\\file.txt"), kInvalidFileAttributes);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

TEST_F(FilesContract, TextAppendsAndReadsBackAsUtf8) {
  Write(u"\\qkc_text.log", u"first line\n");
  Write(u"\\qkc_text.log", u"Gr\u00fc\u00dfe \u0416 100%s\n", "at");
  EXPECT_EQ(ReadAll(u"\\qkc_text.log"), "first line\nGr\xc3\xbc\xc3\x9f" "e \xd0\x96 100%s\n");
  // "wt" starts the file afresh.
  Write(u"\\qkc_text.log", u"again");
  EXPECT_EQ(ReadAll(u"\\qkc_text.log"), "again");
}

TEST_F(FilesContract, OpeningFailsClearly) {
  SetLastError(0);
  EXPECT_EQ(OpenTextFile(u"\\qkc_absent.txt", "rt"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(OpenTextFile(u"\\qkc_no_folder\\new.log", "at"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(GetFileAttributes(u"\\qkc_no_folder"), kInvalidFileAttributes);
}

TEST_F(FilesContract, DeleteRemovesOnlyExistingFiles) {
  Write(u"\\qkc_delete.txt", u"bye");
  EXPECT_TRUE(DeleteFile(u"\\QKC_Delete.txt"));
  EXPECT_EQ(GetFileAttributes(u"\\qkc_delete.txt"), kInvalidFileAttributes);
  EXPECT_FALSE(DeleteFile(u"\\qkc_delete.txt"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(FilesContract, MoveReplacesTheTargetWholeOrLeavesIt) {
  Write(u"\\qkc_move.lnk", u"old");
  Write(u"\\qkc_move.lnk.new", u"new");
  EXPECT_TRUE(MoveFileReplacing(u"\\qkc_move.lnk.new", u"\\QKC_Move.lnk"));
  EXPECT_EQ(ReadAll(u"\\qkc_move.lnk"), "new");
  EXPECT_EQ(GetFileAttributes(u"\\qkc_move.lnk.new"), kInvalidFileAttributes);
  // Onto a name that is free.
  Write(u"\\qkc_move_b.tmp", u"b");
  EXPECT_TRUE(MoveFileReplacing(u"\\qkc_move_b.tmp", u"\\qkc_move_b.lnk"));
  made_.push_back(u"\\qkc_move_b.lnk");
  EXPECT_EQ(ReadAll(u"\\qkc_move_b.lnk"), "b");
  // A missing source fails and leaves the target as it was.
  EXPECT_FALSE(MoveFileReplacing(u"\\qkc_move_absent.tmp", u"\\qkc_move.lnk"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(ReadAll(u"\\qkc_move.lnk"), "new");
}

TEST_F(FilesContract, ListingMatchesWildcardsIgnoringCase) {
  Write(u"\\qkc_list_one.lnk", u"1");
  Write(u"\\QKC_LIST_TWO.LNK", u"2");
  Write(u"\\qkc_list_three.txt", u"3");
  Write(u"\\qkc_list_four", u"4");

  std::vector<FoundFile> found;
  ASSERT_TRUE(ListFiles(u"\\qkc_list_*.lnk", &found));
  std::vector<std::u16string> names;
  for (const FoundFile& f : found) {
    EXPECT_FALSE(f.is_folder);
    names.push_back(f.name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"QKC_LIST_TWO.LNK", u"qkc_list_one.lnk"}));

  // "*.*" also takes names without a dot, as on Windows.
  found.clear();
  ASSERT_TRUE(ListFiles(u"\\*.*", &found));
  int ours = 0;
  for (const FoundFile& f : found)
    if (f.name.rfind(u"qkc_list_", 0) == 0 || f.name.rfind(u"QKC_LIST_", 0) == 0) ++ours;
  EXPECT_EQ(ours, 4);

  found.clear();
  ASSERT_TRUE(ListFiles(u"\\qkc_list_???.lnk", &found));
  ASSERT_EQ(found.size(), 2u);

  found.clear();
  EXPECT_FALSE(ListFiles(u"\\qkc_no_folder\\*.*", &found));
  EXPECT_TRUE(found.empty());
}

TEST_F(FilesContract, ShortcutIsAFileAndProgramsFolderIsNamed) {
  ASSERT_TRUE(CreateShortcut(u"\\qkc_short.lnk", u"\"\\Windows\\notes.exe\""));
  made_.push_back(u"\\qkc_short.lnk");
  uint32_t attributes = GetFileAttributes(u"\\qkc_short.lnk");
  ASSERT_NE(attributes, kInvalidFileAttributes);
  EXPECT_EQ(attributes & kFileAttributeDirectory, 0u);

  std::u16string programs;
  ASSERT_TRUE(GetProgramsFolder(&programs));
  ASSERT_GE(programs.size(), 9u);
  EXPECT_EQ(CompareNoCase(programs.substr(programs.size() - 9), u"\\Programs"), 0);
}

// Every Start Menu a person sees, the own one first; a PC adds the one of all
// users, the device has one.
TEST_F(FilesContract, ProgramsFoldersBeginWithTheOwnStartMenu) {
  std::u16string own;
  ASSERT_TRUE(GetProgramsFolder(&own));
  std::vector<std::u16string> folders;
  ASSERT_TRUE(GetProgramsFolders(&folders));
  ASSERT_EQ(folders.size(), OnPc() ? 2u : 1u);
  EXPECT_EQ(folders[0], own);
  if (folders.size() == 2) {
    EXPECT_NE(CompareNoCase(folders[1], own), 0);
    ASSERT_GE(folders[1].size(), 9u);
    EXPECT_EQ(CompareNoCase(folders[1].substr(folders[1].size() - 9), u"\\Programs"), 0);
  }
  EXPECT_FALSE(GetProgramsFolders(nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

}  // namespace
