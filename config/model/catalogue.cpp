#include "config/model/catalogue.h"

#include <set>
#include <vector>

#include "shared/special_actions.h"
#include "shared/text.h"

namespace {

// The folder query's buffer on the device, terminating zero included.
constexpr size_t kFolderPathCapacity = 300;
// No device path nests this deep; a deeper walk means a folder that loops
// back on itself.
constexpr int kMaxFolderDepth = 64;

std::vector<CatalogueEntry>& Catalogue() {
  static std::vector<CatalogueEntry> catalogue;
  return catalogue;
}

bool NameHasProgramExtension(const std::u16string& name) {
  std::u16string lower = name;
  MakeLower(lower);
  return lower.find(u".lnk") != std::u16string::npos ||
         lower.find(u".exe") != std::u16string::npos;
}

void ListFolder(const std::u16string& folder, int depth, std::vector<CatalogueEntry>& out) {
  if (depth > kMaxFolderDepth) return;
  std::vector<plat::FoundFile> found;
  if (!plat::ListFiles(folder + u"\\*.*", &found)) return;
  for (const plat::FoundFile& file : found) {
    const std::u16string path = folder + u"\\" + file.name;
    if (file.is_folder) {
      // Skips "." and ".." and hidden folders alike.
      if (!file.name.empty() && file.name[0] == u'.') continue;
      ListFolder(path, depth + 1, out);
    } else if (NameHasProgramExtension(file.name)) {
      out.emplace_back(GetDisplayName(path), path);
    }
  }
}

}  // namespace

int CatalogueEntry::Compare(const SortableItem& other) const {
  const auto& that = static_cast<const CatalogueEntry&>(other);
  return plat::CompareNoCase(display_name_, that.display_name_);
}

void BuildCatalogue(plat::Window /*owner*/) {
  std::vector<CatalogueEntry>& catalogue = Catalogue();
  catalogue.clear();

  std::vector<std::u16string> folders;
  if (!plat::GetProgramsFolders(&folders)) return;
  // The same shortcut in two Start Menus (by its place below the menu) is
  // one entry: the first menu's, as the Start Menu itself shows one.
  std::set<std::u16string> places;  // below its menu, in lower case
  std::vector<std::u16string> menus;
  for (std::u16string folder : folders) {
    // A path the device's buffer cannot hold is no folder at all, rather
    // than a cut-off one that names some other folder.
    if (folder.empty() || folder.size() >= kFolderPathCapacity) continue;
    size_t end = folder.size();
    if (folder[end - 1] == u'\\' || folder[end - 1] == u'/') --end;
    const size_t cut = end == 0 ? std::u16string::npos : folder.find_last_of(u"\\/", end - 1);
    folder.resize(cut == std::u16string::npos ? end : cut);
    bool listed = false;
    for (const std::u16string& menu : menus) listed = listed || plat::CompareNoCase(menu, folder) == 0;
    if (listed) continue;
    menus.push_back(folder);

    std::vector<CatalogueEntry> found;
    ListFolder(folder, 0, found);
    std::set<std::u16string> earlier = places;  // only another menu's make one twice
    for (CatalogueEntry& entry : found) {
      std::u16string place = entry.Path().substr(folder.size());
      MakeLower(place);
      if (earlier.count(place) != 0) continue;
      places.insert(std::move(place));
      catalogue.push_back(std::move(entry));
    }
  }
  SortByCompare(catalogue);
}

void ClearCatalogue() { std::vector<CatalogueEntry>().swap(Catalogue()); }

size_t GetCatalogueCount() { return Catalogue().size(); }

const CatalogueEntry& GetCatalogueEntry(size_t index) {
  static const CatalogueEntry kNoEntry;
  const std::vector<CatalogueEntry>& catalogue = Catalogue();
  return index < catalogue.size() ? catalogue[index] : kNoEntry;
}

const std::u16string& GetDisplayName(const std::u16string& text) {
  static std::u16string result;
  if (FindSpecialAction(text) >= 0) {
    result = text;
    return result;
  }
  result.clear();
  if (text.size() < 5) return result;
  const size_t end = text.size() - 4;
  size_t start = end;
  while (start > 0 && text[start - 1] != u'\\') --start;
  // Shown as stored: the combo box search ignores case, so keeping the file
  // system's spelling costs no match and reads best.
  result.assign(text, start, end - start);
  return result;
}

bool IsAssignmentText(const std::u16string& text) {
  if (text.empty()) return false;
  if (text.front() == u'<' && text.back() == u'>') return true;
  return text.size() >= 4 && plat::CompareNoCase(text.substr(text.size() - 4), u".lnk") == 0;
}
