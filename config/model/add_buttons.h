// The "Add Buttons" page and its "Add Button Intercept" dialog without their
// windows: which user-defined buttons the page lists, what Add, Remove and
// Accept store, which keys the dialog takes as the one to add, and what
// Done does for the key listener. Every change of the list is stored at
// once, with each button's settings kept with it (user_button_changes.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/model/launch_buttons.h"
#include "shared/user_buttons.h"
#include "platform/platform.h"

class AssignmentModel;

// The longest name a new button gets; a longer one typed is cut.
constexpr size_t kMaxButtonNameLength = 64;

// A name as it is stored for a new button: control characters become
// blanks, blanks at either end go, and it is cut to kMaxButtonNameLength.
// `fallback` when nothing is left.
std::u16string CleanButtonName(const std::u16string& typed, const std::u16string& fallback);

class AddButtonsModel {
 public:
  static const char16_t kCaption[];

  // `settings` is the Settings page's model, whose button list follows
  // every change; may be null. `window` is one of this program's windows,
  // with which a new key is tried as a hot key before it is added.
  AddButtonsModel(LaunchButtons& buttons, AssignmentModel* settings, plat::Window window);
  AddButtonsModel(const AddButtonsModel&) = delete;
  AddButtonsModel& operator=(const AddButtonsModel&) = delete;

  AssignmentModel* Settings() const { return settings_; }

  // The list's lines: the names as stored, read afresh.
  std::vector<std::u16string> Lines();
  // When the last Lines() could not read the whole list: what the person is
  // told (the list shows shorter than it is, and nothing may be removed
  // from it). Empty when it was read whole.
  std::u16string ReadNotice() const;
  // Another button fits beside the hardware buttons: page positions run
  // from 0 to 31 only, since 32 on would name lower positions' settings.
  bool CanAdd() const;
  std::u16string FullNotice() const;

  // What Remove asks before it removes the entry of line `line` (from the
  // last Lines()): the button goes with what its presses do, and the list
  // is stored at once, which the sheet's Cancel does not undo. Empty when
  // there is no such line or nothing may be removed (Remove says why).
  std::u16string RemoveQuestion(int line) const;
  // Removes the entry of line `line` (from the last Lines()).
  enum class Removed { kRemoved, kNoLine, kUnread, kFailed };
  Removed Remove(int line);

  // What Accept in the Intercept dialog did.
  // kHeld: the key cannot be taken as a hot key (another program holds it):
  // the listener could not listen to it, so it is not added.
  enum class Accepted { kAdded, kRenamed, kFull, kHeld, kFailed };
  // A key already listed keeps its place and settings and takes the name.
  Accepted Accept(uint32_t key_code, const std::u16string& typed_name);
  // Says whether the list will be completed at the next start (a change
  // staged) or stays as it was (refused, or not staged).
  static std::u16string FailedNotice();
  // Why the key of the last Accept was not added (kHeld).
  std::u16string HeldNotice() const;

  // Whether the list is in the middle of a change begun by Add, and the
  // listener paused for it: the key being added must reach the dialog, not
  // a running listener that holds it.
  void PauseListener();
  void ResumeListener();
  // At start-up: a listener that should run (Done left its sign-in entry
  // and buttons listed) but does not, as after a run killed while the
  // listener was paused for an Add, is started again.
  void StartListenerIfDue();

  // Done: with buttons listed, the listener starts at sign-in and now (or
  // reads the list again); with none, the sign-in entry goes and a running
  // listener ends. Remove, and the end of an Add that changed the list, do
  // the same at once: the list is stored at once, whatever ends the sheet.
  void Done();

 private:
  bool Store(const UserButtonList& next);
  void FollowList();

  LaunchButtons& buttons_;
  AssignmentModel* settings_;
  plat::Window window_;
  uint32_t held_error_ = 0;
  UserButtonList list_;
  bool listener_paused_ = false;
  bool list_changed_ = false;  // by an Accept, since the listener was paused
};

// The Intercept dialog: it waits for a key, then offers its name.
class InterceptModel {
 public:
  explicit InterceptModel(const UserButtonList& list) : list_(list) {}

  // A key went down in front of the dialog (`repeat`: it was down already).
  // True when this is the key to add: the dialog takes it and enables the
  // name and Accept. Before that Escape still cancels and modifier keys
  // (Shift, Ctrl, Alt, Windows) are passed on; afterwards every key goes to
  // the name field.
  bool OnKey(uint32_t key_code, bool repeat);

  bool Detected() const { return detected_; }
  uint32_t KeyCode() const { return key_code_; }
  // The name offered: a listed key's own name, else the key's name.
  const std::u16string& OfferedName() const { return offered_; }

 private:
  const UserButtonList& list_;
  bool detected_ = false;
  uint32_t key_code_ = 0;
  std::u16string offered_;
};
