#include "config/model/add_buttons.h"

#include "config/model/user_button_changes.h"
#include "keylistener/listener_control.h"
#include "platform/platform.h"
#include "shared/button_model.h"
#include "shared/debuglog.h"
#include "shared/text.h"

namespace {

constexpr int kFinishAttempts = 2;
constexpr uint32_t kFinishRetryMs = 50;

}  // namespace

namespace {

constexpr uint32_t kEscape = 0x1B;
constexpr int kProbeHotKeyId = 0xBFFF;

bool IsModifier(uint32_t code) {
  return (code >= 0x10 && code <= 0x12) || code == 0x5B || code == 0x5C || (code >= 0xA0 && code <= 0xA5);
}

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

}  // namespace

const char16_t AddButtonsModel::kCaption[] = u"Quadrakey";

std::u16string CleanButtonName(const std::u16string& typed, const std::u16string& fallback) {
  std::u16string name;
  for (char16_t c : typed) name += IsControl(c) ? u' ' : c;
  const size_t begin = name.find_first_not_of(u' ');
  if (begin == std::u16string::npos) return fallback;
  name = name.substr(begin, name.find_last_not_of(u' ') - begin + 1);
  if (name.size() > kMaxButtonNameLength) {
    name.resize(kMaxButtonNameLength);
    // Never end on half of a character outside the basic plane.
    if (name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
  }
  return name;
}

AddButtonsModel::AddButtonsModel(LaunchButtons& buttons, AssignmentModel* settings, plat::Window window)
    : buttons_(buttons), settings_(settings), window_(window) {}

std::vector<std::u16string> AddButtonsModel::Lines() {
  list_.Load();
  std::vector<std::u16string> lines;
  for (size_t i = 0; i < list_.Count(); ++i) lines.push_back(list_.NameAt(i));
  return lines;
}

bool AddButtonsModel::CanAdd() const { return list_.Count() < MaxUserButtons(buttons_.GetButtonCount()); }

std::u16string AddButtonsModel::FullNotice() const {
  return u"No more buttons can be added: Quadrakey keeps settings for " + DecimalText(kButtonPositionLimit) +
         u" buttons in all, and the device's " + DecimalText(static_cast<int64_t>(buttons_.GetButtonCount())) +
         u" buttons and the " + DecimalText(static_cast<int64_t>(list_.Count())) +
         u" added ones use them. Remove a button to add another.";
}

std::u16string AddButtonsModel::FailedNotice() {
  if (UserButtonChangePending())
    return u"The list of buttons could not be stored. It is completed the next time Quadrakey starts.";
  return u"The list of buttons could not be changed; it stays as it was. Try again in a moment.";
}

std::u16string AddButtonsModel::HeldNotice() const {
  if (held_error_ == plat::kErrorHotKeyAlreadyRegistered)
    return u"Another program holds this key, so it cannot be used as a launch button. Close that program and "
           u"add the key again, or choose another key.";
  return u"This key cannot be used as a launch button (error " + DecimalText(held_error_) + u").";
}

bool AddButtonsModel::Store(const UserButtonList& next) {
  bool stored = ChangeUserButtons(buttons_.GetButtonCount(), next);
  // A change staged but cut short by a failed write is finished now if it
  // can be, rather than left half done until the next start.
  for (int attempt = 0; !stored && attempt < kFinishAttempts && UserButtonChangePending(); ++attempt) {
    plat::Sleep(kFinishRetryMs);
    stored = FinishUserButtonChange();
  }
  list_.Load();
  // A running listener takes the new list at once; a paused one on resuming.
  if (!listener_paused_) TellKeyListenerListChanged();
  return stored;
}

std::u16string AddButtonsModel::ReadNotice() const {
  if (list_.ReadError() == 0) return {};
  return u"The list of buttons could not be read whole (error " + DecimalText(list_.ReadError()) +
         u"), so it shows shorter than it is and nothing can be removed from it. Start Quadrakey again in a moment.";
}

std::u16string AddButtonsModel::RemoveQuestion(int line) const {
  if (list_.ReadError() != 0 || line < 0 || static_cast<size_t>(line) >= list_.Count()) return {};
  return u"Remove the button \"" + list_.NameAt(static_cast<size_t>(line)) +
         u"\"? Its four presses are forgotten, and its key starts nothing. This happens at once: Cancel does "
         u"not bring the button back.";
}

AddButtonsModel::Removed AddButtonsModel::Remove(int line) {
  // The line is the one shown: a list read short would remove another.
  if (list_.ReadError() != 0) return Removed::kUnread;
  if (line < 0 || static_cast<size_t>(line) >= list_.Count()) return Removed::kNoLine;
  UserButtonList next = list_;
  const uint32_t code = list_.KeyCodeAt(static_cast<size_t>(line));
  LogFormat(u"Removing button %ld (key %ld)\n", false, static_cast<int32_t>(line), code);
  next.Remove(code);
  const bool stored = Store(next);
  // Stored at once, so followed at once: the key no longer starts anything.
  FollowList();
  return stored ? Removed::kRemoved : Removed::kFailed;
}

AddButtonsModel::Accepted AddButtonsModel::Accept(uint32_t key_code, const std::u16string& typed_name) {
  list_.Load();
  if (list_.ReadError() != 0) return Accepted::kFailed;  // stored, the rest of the list would go
  UserButtonList next = list_;
  std::u16string name = CleanButtonName(typed_name, plat::GetKeyName(key_code));
  // A listed key's own name, offered and accepted as it was, stays whole:
  // a name stored by hand may be longer than one typed here can be.
  for (size_t i = 0; i < next.Count(); ++i)
    if (next.KeyCodeAt(i) == key_code && next.NameAt(i) == typed_name) name = typed_name;
  const bool listed = next.Rename(key_code, name);
  if (!listed) {
    if (!CanAdd()) return Accepted::kFull;
    // Tried as the listener will take it, so that a key no press of which
    // could reach the listener is not added.
    if (!plat::RegisterHotKey(window_, kProbeHotKeyId, 0, key_code)) {
      held_error_ = plat::GetLastError();
      LogFormat(u"Not adding key %ld: it cannot be taken as a hot key (error %ld)\n", false, key_code, held_error_);
      return Accepted::kHeld;
    }
    plat::UnregisterHotKey(window_, kProbeHotKeyId);
    next.Add(key_code, name);
  }
  LogFormat(listed ? u"Renaming key %ld to %s\n" : u"Adding key %ld as %s\n", false, key_code, name);
  if (!Store(next)) return Accepted::kFailed;
  list_changed_ = true;
  return listed ? Accepted::kRenamed : Accepted::kAdded;
}

void AddButtonsModel::PauseListener() {
  listener_paused_ = StopKeyListener();
  if (listener_paused_) {
    // The key must be free before the person presses it.
    for (int wait = 0; wait < 100 && IsKeyListenerRunning(); ++wait) plat::Sleep(10);
  }
}

void AddButtonsModel::ResumeListener() {
  const bool paused = listener_paused_;
  const bool changed = list_changed_;
  listener_paused_ = list_changed_ = false;
  if (!paused && !changed) return;
  // One told while it still ends would be gone afterwards; a start once its
  // window is gone follows it.
  if (paused)
    for (int wait = 0; wait < 300 && IsKeyListenerRunning(); ++wait) plat::Sleep(10);
  // An added button works at once, also when the sheet is then cancelled.
  FollowList();
}

void AddButtonsModel::StartListenerIfDue() {
  if (IsKeyListenerRunning() || !IsKeyListenerSignedIn()) return;
  list_.Load();
  if (list_.Count() == 0 && list_.ReadError() == 0) return;
  if (StartKeyListener()) {
    LogText(u"The key listener was not running: it is started again\n");
  } else {
    LogFormat(u"The key listener is not running and could not be started (error %ld)\n", false,
              plat::GetLastError());
  }
}

void AddButtonsModel::Done() {
  FinishUserButtonChange();
  FollowList();
}

void AddButtonsModel::FollowList() {
  list_.Load();
  if (list_.ReadError() != 0) {
    // A list read short is no reason to end the listener or drop its entry;
    // the listener reads it itself.
    if (!StartKeyListener())
      LogFormat(u"The key listener could not be started (error %ld)\n", false, plat::GetLastError());
    return;
  }
  if (list_.Count() == 0) {
    // It ends by itself once it reads an empty list.
    TellKeyListenerListChanged();
    if (!RemoveKeyListenerSignIn())
      LogFormat(u"The key listener's sign-in entry could not be removed (error %ld)\n", false,
                plat::GetLastError());
    return;
  }
  if (!WriteKeyListenerSignIn())
    LogFormat(u"The key listener's sign-in entry could not be written (error %ld)\n", false,
              plat::GetLastError());
  const bool running = IsKeyListenerRunning();
  if (StartKeyListener()) {
    LogText(running ? u"The key listener reads the list again\n" : u"The key listener is started\n");
  } else {
    LogFormat(u"The key listener could not be started (error %ld)\n", false, plat::GetLastError());
  }
}

bool InterceptModel::OnKey(uint32_t key_code, bool repeat) {
  if (detected_ || repeat) return false;
  if (key_code == 0 || key_code > 0xFE || key_code == kEscape || IsModifier(key_code)) return false;
  detected_ = true;
  key_code_ = key_code;
  const int listed = list_.Find(key_code);
  offered_ = listed >= 0 ? list_.NameAt(static_cast<size_t>(listed)) : plat::GetKeyName(key_code);
  return true;
}
