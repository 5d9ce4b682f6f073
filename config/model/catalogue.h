// The shortcut catalogue: every shortcut and program of the Start Menu, by
// display name, built once at start-up; and the two rules that match a
// stored assignment against it.
#pragma once

#include <cstddef>
#include <string>

#include "config/model/sortable.h"
#include "platform/platform.h"

class CatalogueEntry : public SortableItem {
 public:
  CatalogueEntry() = default;
  CatalogueEntry(std::u16string display_name, std::u16string path)
      : display_name_(std::move(display_name)), path_(std::move(path)) {}

  const std::u16string& DisplayName() const { return display_name_; }
  // Full path, in the letter case the file system reported.
  const std::u16string& Path() const { return path_; }

  // By display name, ignoring letter case.
  int Compare(const SortableItem& other) const override;

 private:
  std::u16string display_name_;
  std::u16string path_;
};

// Refills the catalogue from the parent of each Start Menu's programs folder
// (so the Start Menu's own items count too; on a PC the user's and all
// users' menus), sorted by display name. Entries with equal names are all
// kept, in no fixed order, but a shortcut at the same place in two menus
// is listed once, from the user's own. `owner` is the window
// that owns the folder query.
void BuildCatalogue(plat::Window owner = 0);

// Empties the catalogue and releases its storage: the run that built it
// does so when it ends.
void ClearCatalogue();

size_t GetCatalogueCount();
// The entry at a catalogue index; an empty entry at or past the count.
const CatalogueEntry& GetCatalogueEntry(size_t index);

// A special action's name unchanged; otherwise the text between the last '\'
// and the last four characters ("\x\Pocket Word.lnk" gives "Pocket Word"),
// letter case kept. Empty for other texts under five characters. The result
// lives until the next call.
const std::u16string& GetDisplayName(const std::u16string& text);

// True for "<...>" and for texts ending in ".lnk" in any letter case: the
// texts a press combo box can show as a catalogue entry or special action.
bool IsAssignmentText(const std::u16string& text);
