#include "shared/press_tuner.h"

#include <algorithm>
#include <cmath>

#include "shared/button_model.h"
#include "shared/text.h"

namespace press_tuner {
namespace {

// The rule reads a time of 0 as "not seen": every gesture is read from an
// origin past it, whatever clock it was recorded on.
constexpr uint64_t kOrigin = 1000000;
// How many spreads past the usual the double-press window goes, the least
// spread assumed (of the logarithm: about 20%), and the least room past the
// longest recorded.
constexpr double kWindowSpreads = 3.0;
constexpr double kLeastSpread = 0.2;
constexpr double kLeastWindowRoom = 1.1;
// Taps and holds closer than this ratio leave little room either way.
constexpr double kCloseRatio = 1.5;
constexpr uint32_t kRoundingMs = 10;

uint32_t MinHoldMs() { return kHoldIntervalSetting.minimum; }
uint32_t MaxHoldMs() { return kHoldIntervalSetting.maximum; }
uint32_t MinDoubleMs() { return kDoubleIntervalSetting.minimum; }
uint32_t MaxDoubleMs() { return kDoubleIntervalSetting.maximum; }

bool WellFormed(const Gesture& gesture) {
  if (gesture.presses.size() != static_cast<size_t>(PressCount(gesture.kind))) return false;
  uint64_t last = 0;
  for (size_t i = 0; i < gesture.presses.size(); ++i) {
    const press_rule::PlayedPress& press = gesture.presses[i];
    if (press.up < press.down || (i > 0 && press.down < last)) return false;
    last = press.up;
  }
  return true;
}

std::vector<press_rule::PlayedPress> FromOrigin(const Gesture& gesture) {
  std::vector<press_rule::PlayedPress> presses;
  const uint64_t first = gesture.presses.front().down;
  for (const press_rule::PlayedPress& press : gesture.presses)
    presses.push_back({press.down - first + kOrigin, press.up - first + kOrigin});
  return presses;
}

bool ReadsAsMeant(const Gesture& gesture, const press_rule::Timing& timing) {
  const std::vector<press_rule::Outcome> outcomes =
      press_rule::ReadSeries(FromOrigin(gesture), timing, press_rule::ExtraSlots{});
  const bool held = HeldPress(gesture.kind) >= 0;
  return outcomes.size() == 1 && outcomes[0].press_count == PressCount(gesture.kind) && outcomes[0].hold == held;
}

uint32_t Clamp32(uint64_t ms) { return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms); }

// The value nearest `ideal` within [low, high] (low <= high), on a multiple
// of 10 ms when one lies there.
uint32_t Place(double ideal, uint32_t low, uint32_t high) {
  const double kept = std::clamp(ideal, static_cast<double>(low), static_cast<double>(high));
  const uint32_t rounded = static_cast<uint32_t>(std::llround(kept / kRoundingMs)) * kRoundingMs;
  if (rounded >= low && rounded <= high) return rounded;
  return static_cast<uint32_t>(std::llround(kept));
}

}  // namespace

int PressCount(Kind kind) { return kind == Kind::kDouble || kind == Kind::kDoubleHold ? 2 : 1; }

int HeldPress(Kind kind) {
  switch (kind) {
    case Kind::kHold: return 0;
    case Kind::kDoubleHold: return 1;
    default: return -1;
  }
}

const char16_t* KindName(Kind kind) {
  switch (kind) {
    case Kind::kSingle: return u"press once";
    case Kind::kHold: return u"press and hold";
    case Kind::kDouble: return u"press twice";
    case Kind::kDoubleHold: return u"press twice and hold";
  }
  return u"";
}

int Reading::Right() const {
  int sum = 0;
  for (int count : right) sum += count;
  return sum;
}

int Reading::Recorded() const {
  int sum = 0;
  for (int count : recorded) sum += count;
  return sum;
}

Reading Read(const std::vector<Gesture>& recorded, const press_rule::Timing& timing) {
  Reading reading;
  reading.timing = timing;
  reading.single_wait_ms = Clamp32(press_rule::WindowEnd(kOrigin, timing) - kOrigin);
  for (const Gesture& gesture : recorded) {
    if (!WellFormed(gesture)) continue;
    const int k = static_cast<int>(gesture.kind);
    reading.recorded[k] += 1;
    reading.right[k] += ReadsAsMeant(gesture, timing) ? 1 : 0;
  }
  return reading;
}

Proposal Propose(const std::vector<Gesture>& recorded, const press_rule::Timing& current) {
  Proposal proposal;
  proposal.timing = current;
  proposal.current = Read(recorded, current);
  proposal.proposed = proposal.current;

  uint64_t longest_tap = 0, shortest_hold = UINT64_MAX, longest_span = 0;
  std::vector<double> log_spans;
  for (const Gesture& gesture : recorded) {
    if (!WellFormed(gesture)) continue;
    for (size_t i = 0; i < gesture.presses.size(); ++i) {
      const uint64_t length = gesture.presses[i].up - gesture.presses[i].down;
      if (static_cast<int>(i) == HeldPress(gesture.kind)) {
        shortest_hold = std::min(shortest_hold, length);
      } else {
        longest_tap = std::max(longest_tap, length);
      }
      if (i > 0) {
        const uint64_t span = gesture.presses[i].down - gesture.presses[i - 1].down;
        longest_span = std::max(longest_span, span);
        log_spans.push_back(std::log(static_cast<double>(std::max<uint64_t>(span, 1))));
      }
    }
  }
  proposal.longest_tap_ms = Clamp32(longest_tap);
  proposal.shortest_hold_ms = shortest_hold == UINT64_MAX ? 0 : Clamp32(shortest_hold);
  proposal.longest_span_ms = Clamp32(longest_span);

  for (int k = 0; k < kKindCount; ++k) {
    if (proposal.current.recorded[k] == 0) return proposal;  // kTooFew
  }

  // The hold interval: a tap let go exactly at the test counts as let go, a
  // hold must outlast it.
  const uint64_t hold_low = std::max<uint64_t>(longest_tap, MinHoldMs());
  const uint64_t hold_high = shortest_hold == 0 ? 0 : std::min<uint64_t>(shortest_hold - 1, MaxHoldMs());
  if (hold_low > hold_high) {
    proposal.verdict = longest_tap >= shortest_hold ? Verdict::kTapsAsLongAsHolds
                       : longest_tap > MaxHoldMs()   ? Verdict::kTapsTooLong
                                                    : Verdict::kHoldsTooShort;
    return proposal;
  }
  // The window must close after the latest second press.
  if (longest_span + 1 > MaxDoubleMs()) {
    proposal.verdict = Verdict::kDoublesTooSlow;
    return proposal;
  }

  const double middle = std::sqrt(static_cast<double>(std::max<uint64_t>(longest_tap, 1)) *
                                  static_cast<double>(shortest_hold));
  const uint32_t hold = Place(middle, static_cast<uint32_t>(hold_low), static_cast<uint32_t>(hold_high));

  double mean = 0;
  for (double x : log_spans) mean += x;
  mean /= static_cast<double>(log_spans.size());
  double spread = 0;
  for (double x : log_spans) spread += (x - mean) * (x - mean);
  spread = log_spans.size() > 1 ? std::sqrt(spread / static_cast<double>(log_spans.size() - 1)) : 0;
  const double usual_reach = std::exp(mean + kWindowSpreads * std::max(spread, kLeastSpread));
  const double window = std::max(usual_reach, kLeastWindowRoom * static_cast<double>(longest_span + 1));
  const uint32_t window_low = static_cast<uint32_t>(std::max<uint64_t>(longest_span + 1, MinDoubleMs()));
  // Rounded up, never down past what the recorded presses need.
  uint32_t double_ms = static_cast<uint32_t>(std::ceil(window / kRoundingMs)) * kRoundingMs;
  double_ms = std::clamp(double_ms, window_low, MaxDoubleMs());
  // The window is the larger interval: one below the hold interval would
  // read the same and only hide the wait.
  double_ms = std::max(double_ms, hold);

  proposal.timing = {hold, double_ms};
  proposal.proposed = Read(recorded, proposal.timing);
  // The rule itself has the last word: the figures above are its conditions,
  // but only a reading through it makes the promise.
  if (proposal.proposed.Right() != proposal.proposed.Recorded()) {
    proposal.verdict = Verdict::kUnreadable;
    proposal.timing = current;
    proposal.proposed = proposal.current;
    return proposal;
  }
  proposal.verdict = static_cast<double>(shortest_hold) < kCloseRatio * static_cast<double>(longest_tap)
                         ? Verdict::kClose
                         : Verdict::kProposed;
  return proposal;
}

std::u16string Explain(const Proposal& proposal) {
  const std::u16string tap = DecimalText(proposal.longest_tap_ms) + u" ms";
  const std::u16string hold = DecimalText(proposal.shortest_hold_ms) + u" ms";
  const std::u16string again = u" Press as you usually would, and record again.";
  switch (proposal.verdict) {
    case Verdict::kProposed:
      return u"These intervals read all " + DecimalText(proposal.proposed.Recorded()) +
             u" recorded presses as you meant them.";
    case Verdict::kClose:
      return u"These intervals read all " + DecimalText(proposal.proposed.Recorded()) +
             u" recorded presses as you meant them, but your taps (up to " + tap + u") and holds (from " + hold +
             u") came close: some presses may be misread. Holding a little longer gives a safer setting.";
    case Verdict::kTooFew:
      return u"Record each kind of press first.";
    case Verdict::kTapsAsLongAsHolds:
      return u"You pressed inconsistently: a press meant as a tap lasted " + tap +
             u", and one meant as a hold only " + hold + u". No hold interval tells them apart." + again;
    case Verdict::kTapsTooLong:
      return u"You pressed inconsistently: a press meant as a tap lasted " + tap +
             u", longer than any hold interval (at most " + DecimalText(MaxHoldMs()) + u" ms)." + again;
    case Verdict::kHoldsTooShort:
      return u"You pressed inconsistently: a press meant as a hold lasted only " + hold +
             u", shorter than any hold interval (at least " + DecimalText(MinHoldMs()) + u" ms)." + again;
    case Verdict::kDoublesTooSlow:
      return u"You pressed inconsistently: the second press of a double came " +
             DecimalText(proposal.longest_span_ms) + u" ms after the first, later than any double-press interval (at most " +
             DecimalText(MaxDoubleMs()) + u" ms)." + again;
    case Verdict::kUnreadable:
      return u"You pressed inconsistently: no setting reads every recorded press as you meant it." + again;
  }
  return u"";
}

}  // namespace press_tuner
