// The assignment dump at the end of a run: what each press slot of each
// hardware button holds, and the start of each shortcut file it names.
#include <algorithm>
#include <string>

#include "config/assignment_dump.h"
#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/text.h"

namespace {

// The dump's working copy of an assignment, and how much of a shortcut file
// it shows.
constexpr size_t kAssignmentCopyLength = 300;
constexpr size_t kShortcutBytesShown = 290;

void DumpSlot(uint32_t button, int32_t press_count, bool hold) {
  LogFormat(u"\nAssignment %ld-%ld-%ld:\n", false, button, press_count, hold);
  LogText(GetEnabled(button) ? u"Enabled\n" : u"Disabled\n");

  const std::u16string& stored = GetShortcut(button, press_count, hold);
  const bool cut = stored.size() > kAssignmentCopyLength;
  std::u16string copy = stored.substr(0, kAssignmentCopyLength);
  LogFormat(u"%s\n", false, copy);

  MakeLower(copy);
  if (copy.find(u".lnk") == std::u16string::npos) return;
  // A cut path names some other file, which is not this slot's to show.
  plat::TextFile file = cut ? nullptr : plat::OpenTextFile(copy, "rt");
  if (file == nullptr) {
    LogText(u"Unable to open file\n");
    return;
  }
  std::string bytes;
  plat::ReadTextFile(file, &bytes);
  plat::CloseTextFile(file);
  bytes.resize(std::min(bytes.size(), kShortcutBytesShown));
  std::u16string shown;
  WidenText(shown, bytes.c_str());  // up to the first zero byte
  LogFormat(u"Shortcut: %s\n", false, shown);
}

}  // namespace

void DumpAssignments(size_t button_count) {
  for (uint32_t button = 0; button < button_count; ++button) {
    DumpSlot(button, 1, false);
    DumpSlot(button, 1, true);
    DumpSlot(button, 2, false);
    DumpSlot(button, 2, true);
  }
}
