#include "config/model/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

constexpr char16_t kStart[] = u"\\Windows\\Start Menu";

std::vector<std::pair<std::u16string, std::u16string>> Catalogue() {
  std::vector<std::pair<std::u16string, std::u16string>> entries;
  for (size_t i = 0; i < GetCatalogueCount(); ++i)
    entries.emplace_back(GetCatalogueEntry(i).DisplayName(), GetCatalogueEntry(i).Path());
  return entries;
}

class CatalogueTest : public DeviceTest {
 protected:
  void File(const std::u16string& below_start) {
    MakeDeviceFile(std::u16string(kStart) + below_start);
  }
};

TEST_F(CatalogueTest, WholeStartMenuSortedByNameIgnoringCase) {
  File(u"\\Programs\\Games\\Solitaire.lnk");
  File(u"\\Calendar.lnk");
  File(u"\\Programs\\pocket Word.lnk");
  File(u"\\Programs\\Accessories\\Notes.LNK");
  File(u"\\Programs\\Zip.exe");
  BuildCatalogue();
  const std::u16string s = kStart;
  EXPECT_EQ(Catalogue(), (std::vector<std::pair<std::u16string, std::u16string>>{
                             {u"Calendar", s + u"\\Calendar.lnk"},
                             {u"Notes", s + u"\\Programs\\Accessories\\Notes.LNK"},
                             {u"pocket Word", s + u"\\Programs\\pocket Word.lnk"},
                             {u"Solitaire", s + u"\\Programs\\Games\\Solitaire.lnk"},
                             {u"Zip", s + u"\\Programs\\Zip.exe"},
                         }));
}

TEST_F(CatalogueTest, WhichFilesAndFoldersAreTaken) {
  File(u"\\Programs\\readme.txt");
  File(u"\\Programs\\setup.exe");
  File(u"\\Programs\\old.lnk.bak");      // ".lnk" anywhere in the name counts
  File(u"\\Programs\\tool.EXE.txt");
  File(u"\\Programs\\.hidden\\Secret.lnk");
  File(u"\\.dotted\\Other.lnk");
  File(u"\\Programs\\Folder.lnk\\Inner.lnk");  // a folder named like a shortcut is searched
  File(u"\\Programs\\Tools.exe\\notes.txt");   // only the file's own name is tested
  File(u"\\Programs\\.dot.lnk");                // the dot rule is for folders
  BuildCatalogue();
  std::vector<std::u16string> names;
  for (const auto& entry : Catalogue()) names.push_back(entry.first);
  EXPECT_EQ(names,
            (std::vector<std::u16string>{u".dot", u"Inner", u"old.lnk", u"setup", u"tool.EXE"}));
}

TEST_F(CatalogueTest, SameNamesAreAllKept) {
  File(u"\\Programs\\calendar.lnk");
  File(u"\\Programs\\Office\\Calendar.lnk");
  File(u"\\Calendar.lnk");
  File(u"\\Apple.lnk");
  BuildCatalogue();
  ASSERT_EQ(GetCatalogueCount(), 4u);
  EXPECT_EQ(GetCatalogueEntry(0).DisplayName(), u"Apple");
  std::vector<std::u16string> paths;
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(plat::CompareNoCase(GetCatalogueEntry(i).DisplayName(), u"calendar"), 0);
    paths.push_back(GetCatalogueEntry(i).Path());
  }
  std::sort(paths.begin(), paths.end());
  const std::u16string s = kStart;
  EXPECT_EQ(paths, (std::vector<std::u16string>{s + u"\\Calendar.lnk",
                                                s + u"\\Programs\\Office\\Calendar.lnk",
                                                s + u"\\Programs\\calendar.lnk"}));
}

TEST_F(CatalogueTest, RebuildingReplacesAndAMissingMenuGivesNothing) {
  BuildCatalogue();
  EXPECT_EQ(GetCatalogueCount(), 0u);
  File(u"\\A.lnk");
  BuildCatalogue();
  EXPECT_EQ(GetCatalogueCount(), 1u);
  BuildCatalogue();
  EXPECT_EQ(GetCatalogueCount(), 1u);
  // Past the end reads as an empty entry.
  EXPECT_EQ(GetCatalogueEntry(1).Path(), u"");
}

TEST(DisplayName, DropsFolderAndTheLastFourCharacters) {
  EXPECT_EQ(GetDisplayName(u"\\Windows\\Start Menu\\Programs\\Pocket Word.lnk"), u"Pocket Word");
  EXPECT_EQ(GetDisplayName(u"\\Windows\\Start Menu\\Calendar.lnk"), u"Calendar");
  EXPECT_EQ(GetDisplayName(u"\\My Documents\\page.html"), u"page.");
  EXPECT_EQ(GetDisplayName(u"/a/b/name.lnk"), u"/a/b/name");  // '/' does not separate
  EXPECT_EQ(GetDisplayName(u"notes"), u"n");
  EXPECT_EQ(GetDisplayName(u"\\.lnk"), u"");
  EXPECT_EQ(GetDisplayName(u"a.lnk"), u"a");
  EXPECT_EQ(GetDisplayName(u"x.ex"), u"");
  EXPECT_EQ(GetDisplayName(u""), u"");
}

TEST(DisplayName, SpecialActionsStayAsWritten) {
  EXPECT_EQ(GetDisplayName(u"<Today>"), u"<Today>");
  EXPECT_EQ(GetDisplayName(u"<rotate screen>"), u"<rotate screen>");
  EXPECT_EQ(GetDisplayName(u"<Unknown Thing>"), u"<Unknown Th");  // not a special action
  // One result, replaced by the next call.
  const std::u16string& first = GetDisplayName(u"\\a\\One.lnk");
  GetDisplayName(u"\\a\\Two.lnk");
  EXPECT_EQ(first, u"Two");
}

TEST(AssignmentText, BracketsOrShortcuts) {
  EXPECT_TRUE(IsAssignmentText(u"<Record>"));
  EXPECT_TRUE(IsAssignmentText(u"<>"));
  EXPECT_TRUE(IsAssignmentText(u"\\Windows\\x.lnk"));
  EXPECT_TRUE(IsAssignmentText(u"\\Windows\\x.LnK"));
  EXPECT_TRUE(IsAssignmentText(u".lnk"));
  EXPECT_FALSE(IsAssignmentText(u""));
  EXPECT_FALSE(IsAssignmentText(u"<"));
  EXPECT_FALSE(IsAssignmentText(u">"));
  EXPECT_FALSE(IsAssignmentText(u"lnk"));
  EXPECT_FALSE(IsAssignmentText(u"<Record"));
  EXPECT_FALSE(IsAssignmentText(u"\\Windows\\x.exe"));
  EXPECT_FALSE(IsAssignmentText(u"\\Windows\\x.lnk "));
}

}  // namespace
