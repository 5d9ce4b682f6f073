// The "Tune Button Timing" dialog without its window: the person presses the
// selected button five times each way they are asked; the dialog shows, for
// the intervals in force and for the proposal (shared/press_tuner.h), how
// many recorded presses each reads as meant and how long a single press
// waits, and Accept stores the proposal for this button or for every one.
//
// What the dialog hears is the button's key going down and up, with the
// times the platform gave the moves (plat::CaptureKey); the model cuts them
// into attempts: an attempt ends when it has the presses its kind takes and
// the key is up, and an attempt a press follows within kAttemptPauseMs had
// more presses than asked, and is taken back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/press_rule.h"
#include "shared/press_tuner.h"

class TunerModel {
 public:
  static constexpr int kAttemptsPerKind = 5;
  // Presses of one attempt follow each other within this; a press after a
  // longer pause begins the next attempt.
  static constexpr uint64_t kAttemptPauseMs = 1000;

  // The button at page position `button`, whose key is `key_code`; `name`
  // as the button list shows it. Reads the intervals in force for it: its
  // own ("HoldIntervalB", ...), else the global ones, else the defaults.
  TunerModel(uint32_t button, uint32_t key_code, std::u16string name);

  uint32_t Button() const { return button_; }
  uint32_t KeyCode() const { return key_code_; }
  const std::u16string& Name() const { return name_; }
  const press_rule::Timing& Current() const { return current_; }
  bool HasOwnTiming() const { return own_timing_; }

  // A move of the button's key, `at` in milliseconds (TickCount()).
  // Auto-repeat, and an up whose down the dialog never saw, change nothing.
  void OnKey(bool up, uint64_t at);
  // Forgets every recorded press and asks from the first kind again.
  void StartOver();

  // What the person is asked now ("Now: press twice (3 of 5)"), or that
  // everything is recorded.
  std::u16string Prompt() const;
  // What became of the last press or attempt; once all is recorded, what
  // the proposal means (press_tuner::Explain).
  std::u16string Notice() const;
  bool Finished() const { return kind_ >= press_tuner::kKindCount; }
  const std::vector<press_tuner::Gesture>& Recorded() const { return recorded_; }
  // Meaningful once Finished(): the proposal beside the intervals in force.
  const press_tuner::Proposal& Proposal() const { return proposal_; }
  bool CanAccept() const { return Finished() && proposal_.Usable(); }

  // The comparison the dialog shows: one row per kind (presses read as
  // meant, "4 of 5"), then the hold interval, the double-press interval and
  // a single press's wait, each for the intervals in force ("Now") and the
  // proposal ("-" until there is one).
  struct Row {
    std::u16string label, now, proposed;
  };
  static constexpr int kRowCount = press_tuner::kKindCount + 3;
  std::vector<Row> Table() const;

  // Stores the proposal: for this button (its own values), or for every
  // button (the global values; this button's own go, so that it follows
  // them too; other buttons keep theirs). False, storing nothing more, when
  // there is nothing to accept or a write fails: the last error then says
  // why.
  bool Accept(bool for_every_button);

 private:
  enum class Note { kNone, kRecorded, kTooMany, kTooFew, kMidway, kIgnored };
  void Record();
  void TakeBackLast();

  uint32_t button_;
  uint32_t key_code_;
  std::u16string name_;
  press_rule::Timing current_;
  bool own_timing_ = false;

  std::vector<press_tuner::Gesture> recorded_;
  int kind_ = 0;  // the kind asked now; kKindCount once all are recorded
  std::vector<press_rule::PlayedPress> attempt_;
  bool down_ = false;
  uint64_t last_up_ = 0;
  bool seen_up_ = false;
  bool last_open_ = false;  // the attempt recorded last may still turn out to have had more presses
  bool spoiled_ = false;    // presses go uncounted until the next pause
  Note note_ = Note::kNone;
  press_tuner::Kind note_kind_ = press_tuner::Kind::kSingle;
  press_tuner::Proposal proposal_;
};
