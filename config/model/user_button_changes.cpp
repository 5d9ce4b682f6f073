#include "config/model/user_button_changes.h"

#include <algorithm>

#include "platform/platform.h"
#include "shared/button_model.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/text.h"

const char16_t kUserButtonChangeKey[] = u"Software\\Quadrakey\\HotkeysChange";

namespace {

constexpr plat::RegRoot kRoot = plat::RegRoot::Product;

std::u16string StagedListKey() { return std::u16string(kUserButtonChangeKey) + u"\\List"; }

std::u16string StagedSettingsKey(uint32_t position) {
  return std::u16string(kUserButtonChangeKey) + u"\\P" + DecimalText(static_cast<int32_t>(position));
}

uint32_t Clamp(size_t position) {
  return static_cast<uint32_t>(std::min<size_t>(position, kButtonPositionLimit));
}

}  // namespace

bool ChangeUserButtons(size_t hardware_buttons, const UserButtonList& next) {
  if (!FinishUserButtonChange()) return false;  // one change at a time, in order
  UserButtonList old;
  old.Load();
  if (old.ReadError() != 0) {
    plat::SetLastError(old.ReadError());
    return false;  // its settings would be moved by a numbering it does not have
  }
  DeleteRegKey(kRoot, kUserButtonChangeKey);

  size_t same = 0;
  while (same < old.Count() && same < next.Count() && old.KeyCodeAt(same) == next.KeyCodeAt(same)) ++same;
  const uint32_t first = Clamp(hardware_buttons + same);
  const uint32_t end = Clamp(hardware_buttons + std::max(old.Count(), next.Count()));

  bool staged = true;
  for (uint32_t position = first; position < end && staged; ++position) {
    const size_t index = position - hardware_buttons;
    if (index >= next.Count()) continue;  // past the new end: its settings go
    const int from = old.Find(next.KeyCodeAt(index));
    // A new entry past the old end uses what is stored at its position, as
    // every button does (chosen on the Settings page before there was a
    // list, say); one that takes another's place starts clean.
    if (from < 0 && index < old.Count()) continue;
    const size_t source = from < 0 ? position : hardware_buttons + static_cast<size_t>(from);
    if (source >= kButtonPositionLimit) continue;  // it had no settings of its own
    const std::vector<std::u16string> from_names = ButtonSettingNames(static_cast<uint32_t>(source));
    const std::vector<std::u16string> to_names = ButtonSettingNames(position);
    for (size_t k = 0; k < from_names.size() && staged; ++k) {
      if (CopyRegValue(kRoot, kSettingsKey, from_names[k], StagedSettingsKey(position), to_names[k])) continue;
      staged = plat::GetLastError() == plat::kErrorFileNotFound;
    }
  }
  staged = staged && next.Save(StagedListKey()) &&
           WriteRegDword(kRoot, kUserButtonChangeKey, u"First", first) &&
           WriteRegDword(kRoot, kUserButtonChangeKey, u"End", end) &&
           // Written last: a change without it was never begun.
           WriteRegDword(kRoot, kUserButtonChangeKey, u"Ready", 1);
  if (!staged) {
    LogFormat(u"The list of buttons could not be changed (error %ld)\n", false, plat::GetLastError());
    DeleteRegKey(kRoot, kUserButtonChangeKey);
    return false;
  }
  return FinishUserButtonChange();
}

bool UserButtonChangePending() {
  uint32_t ready = 0;
  return ReadRegDword(kRoot, kUserButtonChangeKey, u"Ready", ready) && ready == 1;
}

bool FinishUserButtonChange() {
  uint32_t ready = 0;
  uint32_t first = 0;
  uint32_t end = 0;
  const bool read = ReadRegDword(kRoot, kUserButtonChangeKey, u"Ready", ready);
  // A read that failed tells nothing: the change may be whole, and is kept
  // for the next try.
  if (!read && !IsMissingOrOddValue(plat::GetLastError())) return false;
  if (!read || ready != 1) {
    // Never begun: nothing of it reached the settings.
    return DeleteRegKey(kRoot, kUserButtonChangeKey) || plat::GetLastError() == plat::kErrorFileNotFound;
  }
  // Ready is written last, so a change that has it has these too.
  if (!ReadRegDword(kRoot, kUserButtonChangeKey, u"First", first) ||
      !ReadRegDword(kRoot, kUserButtonChangeKey, u"End", end))
    return false;
  end = std::min<uint32_t>(end, kButtonPositionLimit);
  // Each position is rewritten whole from the staged copy, so doing it again
  // after an interruption gives the same result.
  for (uint32_t position = first; position < end; ++position) {
    const std::u16string staged = StagedSettingsKey(position);
    for (const std::u16string& name : ButtonSettingNames(position)) {
      if (name.empty()) continue;
      if (CopyRegValue(kRoot, staged, name, kSettingsKey, name)) continue;
      const bool missing = plat::GetLastError() == plat::kErrorFileNotFound;
      if (!missing || !DeleteRegValue(kRoot, kSettingsKey, name)) {
        LogFormat(u"The settings of button %ld could not be moved (error %ld)\n", false, position,
                  plat::GetLastError());
        return false;
      }
    }
  }
  UserButtonList list;
  list.Load(StagedListKey());
  // Read short, the staged list stays for the next try.
  if (list.ReadError() != 0 || !list.Save()) return false;
  return DeleteRegKey(kRoot, kUserButtonChangeKey);
}
