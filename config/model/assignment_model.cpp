#include "config/model/assignment_model.h"

#include "config/model/button_rows.h"
#include "config/model/catalogue.h"
#include "config/model/item_codes.h"
#include "platform/platform.h"
#include "shared/button_model.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"
#include "shared/user_buttons.h"

namespace {

constexpr int kRecordAction = static_cast<int>(SpecialAction::kRecord);
constexpr size_t kRecordMaskButtons = 32;
constexpr char16_t kDoNothingText[] = u"<Do Nothing>";
constexpr char16_t kOpenEntryPrefix[] = u"Open: ";

// The first line whose whole text is `text` in any letter case, searching
// from line 1 to the last and then line 0, as the combo box's own search
// from line 0 does.
int FindLine(const ComboContent& content, const std::u16string& text) {
  const size_t count = content.lines.size();
  for (size_t k = 1; k <= count; ++k) {
    const size_t line = k % count;
    if (plat::CompareNoCase(*content.lines[line].text, text) == 0) return static_cast<int>(line);
  }
  return -1;
}

}  // namespace

const char16_t AssignmentModel::kCaption[] = u"Quadrakey";
const char16_t AssignmentModel::kRebootNotice[] =
    u"You have either assigned the <Record> function to a new button, or removed it from an "
    u"existing button. On some devices, you may now have to reboot in order to have that change "
    u"take effect.";

PressSlot SlotOf(PressRow row) {
  switch (row) {
    case PressRow::kSingle: return {1, false};
    case PressRow::kHold: return {1, true};
    case PressRow::kDouble: return {2, false};
    case PressRow::kDoubleHold: return {2, true};
  }
  return {1, false};
}

AssignmentModel::AssignmentModel(LaunchButtons& buttons) : buttons_(buttons) {}

std::vector<std::u16string> AssignmentModel::ButtonListLines() const {
  std::vector<std::u16string> lines;
  for (size_t i = 0; i < buttons_.GetButtonCount(); ++i) {
    const ButtonRecord& button = buttons_.GetButton(i);
    lines.push_back(button.Name() + u" (originally " + button.Title() + u")");
  }
  UserButtonList user_buttons;
  user_buttons.Load();
  shown_codes_.clear();
  for (size_t k = 0; k < user_buttons.Count(); ++k) {
    lines.push_back(user_buttons.NameAt(k));
    shown_codes_.push_back(user_buttons.KeyCodeAt(k));
  }
  return lines;
}

std::vector<std::u16string> AssignmentModel::ReloadButtonList() {
  const size_t hardware = buttons_.GetButtonCount();
  const bool user_defined = IsUserDefined(current_) && static_cast<size_t>(current_) - hardware < shown_codes_.size();
  const uint32_t code = user_defined ? shown_codes_[static_cast<size_t>(current_) - hardware] : 0;
  std::vector<std::u16string> lines = ButtonListLines();
  if (user_defined) {
    current_ = 0;  // as when the page opened, also with no lines at all
    for (size_t k = 0; k < shown_codes_.size(); ++k)
      if (shown_codes_[k] == code) current_ = static_cast<int32_t>(hardware + k);
  } else if (current_ >= static_cast<int32_t>(lines.size())) {
    current_ = 0;
  }
  return lines;
}

void AssignmentModel::NoteRecordButtons() { record_mask_at_opening_ = RecordButtonMask(); }

bool AssignmentModel::IsUserDefined(int32_t position) const {
  return position >= 0 && static_cast<size_t>(position) >= buttons_.GetButtonCount();
}

uint32_t AssignmentModel::KeyCodeOf(int32_t position) const {
  if (position < 0) return 0;
  const size_t hardware = buttons_.GetButtonCount();
  if (!IsUserDefined(position)) return GetVirtualKey(static_cast<uint32_t>(position));
  const size_t k = static_cast<size_t>(position) - hardware;
  return k < shown_codes_.size() ? shown_codes_[k] : 0;
}

PageShows AssignmentModel::Refresh(bool fill_single) {
  PageShows shows;
  if (current_ < 0) return shows;  // no button selected: nothing to show for one
  const uint32_t button = static_cast<uint32_t>(current_);
  const bool user_defined = IsUserDefined(current_);
  // A user-defined button has no original command to fall back to: the
  // listener starts the launcher for every press, whatever its Enabled value
  // says, so its rows show.
  const bool enabled = user_defined || GetEnabled(button);
  shows.user_button_label = user_defined;
  shows.override_box = !user_defined;
  shows.override_checked = user_defined || enabled;
  // From position 32 on a button's letter names a lower position's values
  // (the registry ignores letter case): its presses cannot be stored apart.
  shows.no_settings_notice = button >= kButtonPositionLimit;
  if (!enabled || shows.no_settings_notice) return shows;

  const int single = static_cast<int>(PressRow::kSingle);
  shows.rows[single] = true;
  if (fill_single) {
    shows.filled[single] = true;
    shows.combos[single] = FillCombo(PressRow::kSingle);
  }
  // Line 0 is "<Record>" exactly when the device has a Record command.
  const bool record = single_selected_ == 0 && buttons_.GetRecordCommand() != nullptr;
  shows.record_notice = record;
  shows.tune = !record;
  const uint32_t key = KeyCodeOf(current_);
  shows.tune_enabled = !record && key >= 1 && key <= 0xFE;
  for (int row = single + 1; row < kPressRowCount; ++row) {
    shows.rows[row] = !record;
    if (record) continue;
    shows.filled[row] = true;
    shows.combos[row] = FillCombo(static_cast<PressRow>(row));
  }
  return shows;
}

ComboContent AssignmentModel::FillCombo(PressRow row) {
  ComboContent content;
  const int index = static_cast<int>(row);
  if (row == PressRow::kSingle) single_selected_ = -1;
  if (current_ < 0) return content;
  const uint32_t button = static_cast<uint32_t>(current_);
  const PressSlot slot = SlotOf(row);

  const bool offer_record = slot.press_count == 1 && !slot.hold && buttons_.GetRecordCommand() != nullptr;
  LogFormat(u"loadShortcutCombo(combo, %ld, %ld, %ld):\n", false, current_, slot.press_count, slot.hold);
  const std::u16string assignment = GetShortcut(button, slot.press_count, slot.hold);
  const int stored_action = FindSpecialAction(assignment);
  const bool on_pc = plat::OnPc();
  content.lines.reserve(kSpecialActionCount + GetCatalogueCount() + 1);
  for (int action = 0; action < kSpecialActionCount; ++action) {
    if (action == kRecordAction && !offer_record) continue;
    // An action a PC leaves out keeps its line where it is stored, so that
    // the press shows, and keeps, what it has.
    if (!IsActionOffered(action, on_pc) && action != stored_action) continue;
    content.lines.push_back({&GetSpecialActionName(action), SpecialActionItemCode(action)});
  }
  for (size_t i = 0; i < GetCatalogueCount(); ++i)
    content.lines.push_back({&GetCatalogueEntry(i).DisplayName(), CatalogueItemCode(i)});

  const std::u16string display_name = GetDisplayName(assignment);
  const int line = FindLine(content, display_name);
  if (IsAssignmentText(assignment) && line >= 0) {
    LogFormat(u"  found %s\n\n", false, display_name);
    content.selected = line;
  } else {
    LogFormat(u"  didn't find %s\n\n", false, assignment);
    if (!assignment.empty()) {
      std::u16string name, extension;
      SplitPath(assignment, name, extension);
      open_entry_lines_[index] = kOpenEntryPrefix + name + (extension.empty() ? u"" : u"." + extension);
      open_entry_paths_[index] = assignment;
      content.lines.push_back({&open_entry_lines_[index], kOpenEntryCode});
      content.selected = static_cast<int>(content.lines.size()) - 1;
    }
  }
  if (row == PressRow::kSingle) single_selected_ = content.selected;
  return content;
}

void AssignmentModel::SetOverride(bool checked) {
  if (current_ >= 0) SetEnabled(static_cast<uint32_t>(current_), checked);
}

Choice AssignmentModel::Choose(PressRow row, int line, intptr_t code) {
  const PressSlot slot = SlotOf(row);
  const uint32_t button = static_cast<uint32_t>(current_);
  LogFormat(u"unloadShortcutCombo(combo, %ld, %ld, %ld):\n", false, current_, slot.press_count, slot.hold);
  if (row == PressRow::kSingle) single_selected_ = line;
  Choice choice;
  if (line < 0) {
    SetShortcut(button, slot.press_count, slot.hold, u"");
    LogText(u"  no current selection\n\n");
    choice.outcome = Choice::Outcome::kStored;
    return choice;
  }
  choice.code = code;
  const DecodedItem item = DecodeItemCode(code);
  switch (item.kind) {
    case ItemKind::kOpenEntry:
      choice.text = open_entry_paths_[static_cast<int>(row)];
      break;
    case ItemKind::kSpecialAction:
      // "<Open File>" itself is never stored: the file chosen is, or "<Do Nothing>".
      if (code == kOpenFileCode) {
        choice.outcome = Choice::Outcome::kNeedsFile;
        return choice;
      }
      choice.text = GetSpecialActionName(static_cast<int>(item.index));
      break;
    case ItemKind::kCatalogue:
      choice.text = GetCatalogueEntry(item.index).Path();
      break;
    case ItemKind::kUnknown:
      choice.outcome = Choice::Outcome::kIgnored;  // no line of ours carries such a code
      return choice;
  }
  // The launcher cannot open a longer one: the person hears of it now, not at
  // every press, and the slot keeps what worked.
  if (choice.text.size() > kMaxLaunchableAssignment) {
    LogFormat(u"  not storing %s (%ld): too long to launch\n\n", false, choice.text, static_cast<int32_t>(code));
    choice.outcome = Choice::Outcome::kTooLong;
    choice.refill = true;
    return choice;
  }
  SetShortcut(button, slot.press_count, slot.hold, choice.text);
  LogFormat(u"  unloading %s (%ld)\n\n", false, choice.text, static_cast<int32_t>(code));
  choice.outcome = Choice::Outcome::kStored;
  return choice;
}

Choice AssignmentModel::FileChosen(PressRow row, const std::u16string* path) {
  const PressSlot slot = SlotOf(row);
  Choice choice;
  choice.code = kOpenFileCode;
  choice.text = path != nullptr && !path->empty() ? *path : kDoNothingText;
  choice.refill = true;  // the combo box shows the chosen file as an "Open: " line
  if (choice.text.size() > kMaxLaunchableAssignment) {
    LogFormat(u"  not storing %s (%ld): too long to launch\n\n", false, choice.text, static_cast<int32_t>(kOpenFileCode));
    choice.outcome = Choice::Outcome::kTooLong;
    return choice;
  }
  SetShortcut(static_cast<uint32_t>(current_), slot.press_count, slot.hold, choice.text);
  LogFormat(u"  unloading %s (%ld)\n\n", false, choice.text, static_cast<int32_t>(kOpenFileCode));
  choice.outcome = Choice::Outcome::kStored;
  return choice;
}

std::u16string AssignmentModel::TooLongNotice() {
  return u"The path of this shortcut or program is too long for a button press to open (at most " +
         DecimalText(kMaxLaunchableAssignment) +
         u" characters). The press keeps its assignment. To assign it, move or rename it so that its path "
         u"is shorter.";
}

uint32_t AssignmentModel::RecordButtonMask() {
  const std::u16string* record = buttons_.GetRecordCommand();
  if (record == nullptr) return 0;
  uint32_t mask = 0;
  const size_t count = buttons_.GetButtonCount();
  for (uint32_t i = 0; i < count && i < kRecordMaskButtons; ++i) {
    const std::u16string* command = buttons_.GetShortcut(i);
    if (command != nullptr && plat::CompareNoCase(*command, *record) == 0) mask |= 1u << i;
  }
  return mask;
}

ButtonDone AssignmentModel::PlanDone(uint32_t button) {
  ButtonDone done;
  done.button = button;
  // Read as enabled, a button the person left alone would be taken over.
  bool enabled = true;
  if (!ReadEnabled(button, &enabled)) {
    const uint32_t error = plat::GetLastError();
    LogFormat(u"  button %ld keeps its command: its override setting could not be read (error %ld)\n", false, button,
              error);
    done.kept_error = error;
    return done;
  }
  if (enabled) {
    if (FindSpecialAction(GetShortcut(button, 1, false)) == kRecordAction) {
      done.kind = ButtonDone::Kind::kRecord;
      const std::u16string* record = buttons_.GetRecordCommand();
      if (record != nullptr) done.command = *record;
    } else {
      // Without its folder the shortcut and its target would name files
      // that are not there: the button would fail at every press.
      std::u16string folder;
      uint32_t error = plat::kErrorFileNotFound;  // an empty folder names none
      if (!ReadAppFolder(folder)) {
        error = plat::GetLastError();
      } else if (!folder.empty()) {
        error = 0;
      }
      if (error != 0) {
        LogFormat(u"  button %ld keeps its command: no application folder (error %ld)\n", false, button, error);
        done.kept_error = error;
        return done;
      }
      done.kind = ButtonDone::Kind::kTakeOver;
      // Both builders share one result: the target is kept before the path is built.
      done.shortcut_target = u"\"" + GetAppFolderPath(u"TapdeckX.exe") + u"\" " + DecimalText(button);
      done.command = GetTakeoverShortcutPath(button);
    }
    return done;
  }
  const std::u16string* current = buttons_.GetShortcut(button);
  if (current == nullptr) {
    LogFormat(u"  button %ld keeps its command: it could not be read\n", false, button);
    done.kept_error = plat::GetLastError() != 0 ? plat::GetLastError() : plat::kErrorGenFailure;
    return done;
  }
  if (IsTakenOverCommand(*current)) {
    done.kind = ButtonDone::Kind::kGiveBack;
    done.command = buttons_.GetButton(button).ResetCommand();
  }
  return done;
}

bool AssignmentModel::CarryOut(const ButtonDone& done) {
  switch (done.kind) {
    case ButtonDone::Kind::kTakeOver: {
      // Made beside the old shortcut and put in its place only when whole:
      // a press never finds a missing or half-written one.
      const std::u16string fresh = done.command + u".new";
      if (FileExists(fresh)) plat::DeleteFile(fresh);
      if (!plat::CreateShortcut(fresh, done.shortcut_target) || !plat::MoveFileReplacing(fresh, done.command)) {
        const uint32_t error = plat::GetLastError();
        LogFormat(u"  cannot make the takeover shortcut %s (error %ld): the button keeps its command\n", false,
                  done.command, error);
        if (FileExists(fresh)) plat::DeleteFile(fresh);
        plat::SetLastError(error);
        return false;
      }
      buttons_.SetShortcut(done.button, done.command);
      return true;
    }
    case ButtonDone::Kind::kRecord:
    case ButtonDone::Kind::kGiveBack:
      buttons_.SetShortcut(done.button, done.command);
      return true;
    case ButtonDone::Kind::kLeave:
      return true;
  }
  return true;
}

bool AssignmentModel::Done() {
  kept_.clear();
  const uint32_t count = static_cast<uint32_t>(buttons_.GetButtonCount());
  for (uint32_t i = 0; i < count; ++i) {
    const ButtonDone done = PlanDone(i);
    if (done.kept_error != 0) {
      kept_.emplace_back(i, done.kept_error);
    } else if (!CarryOut(done)) {
      kept_.emplace_back(i, plat::GetLastError() != 0 ? plat::GetLastError() : plat::kErrorGenFailure);
    }
  }
  return RecordButtonMask() != record_mask_at_opening_;
}

std::u16string AssignmentModel::KeptNotice() const {
  if (kept_.empty()) return {};
  std::u16string names;
  for (size_t i = 0; i < kept_.size(); ++i) {
    if (i > 0) names += i + 1 == kept_.size() ? u" and " : u", ";
    names += buttons_.GetButton(kept_[i].first).Name() + u" (error " + DecimalText(kept_[i].second) + u")";
  }
  return u"Quadrakey could not change what " + names +
         u" start, so they start what they did before. Start Quadrakey again and press Done to try again.";
}

std::u16string AssignmentModel::NoSettingsNotice() {
  return u"Quadrakey keeps settings for " + DecimalText(kButtonPositionLimit) +
         u" buttons only, so this one's presses cannot be assigned. Remove a button on the Add Buttons page to "
         u"give it a place.";
}
