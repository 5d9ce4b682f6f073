// Learns a person's timing from presses they were asked to make ("press
// once", "press and hold", "press twice", "press twice and hold"), and
// proposes the hold and double-press intervals that read every one of them
// as meant with the shortest wait that still leaves room for the person's
// next, slightly different presses.
//
// Every reading goes through the launcher's own rule (press_rule::ReadSeries
// with every extra slot assigned), so what the tuner says a timing reads is
// what the launcher will do. Pure: no platform calls, no settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/press_rule.h"

namespace press_tuner {

// The kinds of press a person is asked for, in the order asked.
enum class Kind : uint8_t { kSingle, kHold, kDouble, kDoubleHold };
constexpr int kKindCount = 4;
constexpr Kind kKinds[kKindCount] = {Kind::kSingle, Kind::kHold, Kind::kDouble, Kind::kDoubleHold};

// How many presses the kind takes (1 or 2), and which of them, if any, is
// meant as a hold (-1: none).
int PressCount(Kind kind);
int HeldPress(Kind kind);
// What the person is asked: "press once", "press and hold", "press twice",
// "press twice and hold".
const char16_t* KindName(Kind kind);

// One recorded gesture: the kind asked for and its presses as played, key
// down and up in milliseconds on any clock (only differences count), in
// order. Presses() must equal PressCount(kind); other gestures are left out.
struct Gesture {
  Kind kind = Kind::kSingle;
  std::vector<press_rule::PlayedPress> presses;
};

// How one timing reads the recorded gestures.
struct Reading {
  press_rule::Timing timing;
  int right[kKindCount] = {};     // read as meant: one dispatch, of the kind's slot
  int recorded[kKindCount] = {};
  // How long a single press waits for the launcher to act, where any other
  // press of the button is assigned: the larger interval.
  uint32_t single_wait_ms = 0;
  int Right() const;
  int Recorded() const;
};
Reading Read(const std::vector<Gesture>& recorded, const press_rule::Timing& timing);

enum class Verdict {
  kProposed,           // the proposal reads every recorded press as meant
  kClose,              // so does the proposal, but taps and holds came close
                       // together: fresh presses may be misread
  kTooFew,             // some kind was not recorded yet
  kTapsAsLongAsHolds,  // inconsistent: a tap lasted as long as a hold
  kTapsTooLong,        // inconsistent: a tap outlasted the longest hold interval of the range
  kHoldsTooShort,      // inconsistent: a hold was shorter than the shortest hold interval of the range
  kDoublesTooSlow,     // inconsistent: a double's second press came too late
  kUnreadable,         // no timing within the bounds reads them all otherwise
};

struct Proposal {
  Verdict verdict = Verdict::kTooFew;
  // The intervals proposed; for a verdict that is not Usable(), the current ones.
  press_rule::Timing timing;
  Reading current;   // the current intervals on the recorded presses
  Reading proposed;  // the proposal on them (all right when Usable())
  // The figures behind the verdict: the longest press meant as a tap, the
  // shortest meant as a hold, and the longest time from a double's first
  // key down to its second (0 when none was recorded).
  uint32_t longest_tap_ms = 0;
  uint32_t shortest_hold_ms = 0;
  uint32_t longest_span_ms = 0;
  bool Usable() const { return verdict == Verdict::kProposed || verdict == Verdict::kClose; }
};

// The proposal for the recorded gestures, beside the timing in force now.
//
// The hold interval goes halfway, by ratio, between the longest tap and the
// shortest hold: a person's press lengths vary by a factor rather than by
// milliseconds, so the middle of the gap on that scale leaves both classes
// the same room. The double-press window goes past the usual time from a
// double's first press to its second by three spreads (the spread measured,
// but never taken below a fifth of the time, which 10 presses cannot tell
// apart from chance), and never below a tenth past the longest recorded.
// Both are rounded to 10 ms within what reads every recorded press right,
// and kept within the intervals' ranges (kHoldIntervalSetting and
// kDoubleIntervalSetting of shared/button_model.h: what the Options page
// shows and stores).
Proposal Propose(const std::vector<Gesture>& recorded, const press_rule::Timing& current);

// For the person: what the verdict means, with its figures. One or two
// sentences.
std::u16string Explain(const Proposal& proposal);

}  // namespace press_tuner
