// The tuner's proposal from a person's recorded presses: people who press
// typically, hurriedly and slowly get intervals that read their presses,
// and their next, slightly different ones, as meant; a person who presses
// inconsistently is told why instead.
#include "shared/press_tuner.h"

#include <gtest/gtest.h>

#include <string>

#include "shared/button_model.h"

namespace {

using press_rule::Timing;
using press_tuner::Gesture;
using press_tuner::Kind;
using press_tuner::Proposal;
using press_tuner::Verdict;

constexpr Timing kDefaults{400, 400};

// A person's recorded session: for each attempt of a kind, its press
// lengths and the gap between its presses (ms), played from `start` on.
struct Session {
  uint64_t at = 5000;
  std::vector<Gesture> gestures;

  Session& Once(uint64_t tap) { return Add(Kind::kSingle, {tap}, 0); }
  Session& Hold(uint64_t hold) { return Add(Kind::kHold, {hold}, 0); }
  Session& Twice(uint64_t tap1, uint64_t gap, uint64_t tap2) { return Add(Kind::kDouble, {tap1, tap2}, gap); }
  Session& TwiceHold(uint64_t tap, uint64_t gap, uint64_t hold) { return Add(Kind::kDoubleHold, {tap, hold}, gap); }

  Session& Add(Kind kind, std::vector<uint64_t> lengths, uint64_t gap) {
    Gesture gesture{kind, {}};
    for (uint64_t length : lengths) {
      gesture.presses.push_back({at, at + length});
      at += length + gap;
    }
    at += 3000;  // the person's pause before the next attempt
    gestures.push_back(gesture);
    return *this;
  }
};

// Five attempts of each kind, as people of three paces press.
Session Typical() {
  Session s;
  for (uint64_t tap : {95, 120, 80, 140, 105}) s.Once(tap);
  for (uint64_t hold : {780, 650, 910, 700, 820}) s.Hold(hold);
  s.Twice(100, 130, 90).Twice(85, 150, 110).Twice(120, 110, 95).Twice(95, 170, 100).Twice(110, 125, 130);
  s.TwiceHold(90, 140, 760).TwiceHold(105, 120, 690).TwiceHold(130, 160, 880).TwiceHold(80, 135, 720).TwiceHold(115, 115, 800);
  return s;
}

Session Hurried() {
  Session s;
  for (uint64_t tap : {65, 80, 55, 90, 70}) s.Once(tap);
  for (uint64_t hold : {520, 340, 610, 380, 450}) s.Hold(hold);  // two of them shorter than 400
  s.Twice(70, 90, 60).Twice(55, 100, 75).Twice(80, 70, 65).Twice(60, 95, 85).Twice(75, 85, 70);
  s.TwiceHold(65, 90, 500).TwiceHold(70, 80, 360).TwiceHold(85, 105, 560).TwiceHold(60, 75, 470).TwiceHold(75, 95, 390);
  return s;
}

Session Slow() {
  Session s;
  for (uint64_t tap : {170, 210, 150, 190, 230}) s.Once(tap);
  for (uint64_t hold : {1000, 850, 1200, 950, 1100}) s.Hold(hold);
  // A tap and a gap together pass 400 ms: at the defaults these are two single presses.
  s.Twice(170, 250, 160).Twice(200, 230, 180).Twice(150, 300, 170).Twice(190, 260, 200).Twice(180, 280, 150);
  s.TwiceHold(160, 240, 980).TwiceHold(210, 270, 1050).TwiceHold(175, 250, 900).TwiceHold(185, 300, 1150).TwiceHold(
      165, 235, 1000);
  return s;
}

void ExpectAllReadAsMeant(const press_tuner::Reading& reading, const std::string& who) {
  for (int k = 0; k < press_tuner::kKindCount; ++k) {
    EXPECT_EQ(reading.recorded[k], 5) << who << " kind " << k;
    EXPECT_EQ(reading.right[k], 5) << who << " kind " << k;
  }
}

TEST(PressTuner, ProposesIntervalsThatReadEachPaceAsMeant) {
  const struct {
    const char* who;
    Session session;
    int right_at_defaults;  // of 20
  } people[] = {{"typical", Typical(), 20}, {"hurried", Hurried(), 16}, {"slow", Slow(), 10}};
  for (const auto& person : people) {
    const Proposal proposal = press_tuner::Propose(person.session.gestures, kDefaults);
    EXPECT_EQ(proposal.verdict, Verdict::kProposed) << person.who;
    EXPECT_EQ(proposal.current.Right(), person.right_at_defaults) << person.who;
    EXPECT_EQ(proposal.current.single_wait_ms, 400u) << person.who;
    ExpectAllReadAsMeant(proposal.proposed, person.who);
    EXPECT_EQ(proposal.proposed.single_wait_ms, std::max(proposal.timing.hold_ms, proposal.timing.double_ms));
    // The hold interval between the person's longest tap and shortest hold,
    // well clear of both.
    EXPECT_GE(proposal.timing.hold_ms, proposal.longest_tap_ms * 5 / 4) << person.who;
    EXPECT_LE(proposal.timing.hold_ms * 5 / 4, proposal.shortest_hold_ms) << person.who;
    EXPECT_EQ(proposal.timing.hold_ms % 10, 0u) << person.who;
    EXPECT_EQ(proposal.timing.double_ms % 10, 0u) << person.who;
  }
}

TEST(PressTuner, EachPaceGetsItsOwnTiming) {
  const Proposal hurried = press_tuner::Propose(Hurried().gestures, kDefaults);
  const Proposal typical = press_tuner::Propose(Typical().gestures, kDefaults);
  const Proposal slow = press_tuner::Propose(Slow().gestures, kDefaults);
  // A hurried person's holds of 340 ms are holds, and their single press
  // waits less than at the defaults; a slow person's doubles need a window
  // past their 530 ms from press to press.
  EXPECT_LT(hurried.timing.hold_ms, 340u);
  EXPECT_LT(hurried.proposed.single_wait_ms, 400u);
  EXPECT_GT(slow.timing.double_ms, 530u);
  EXPECT_LT(hurried.timing.hold_ms, typical.timing.hold_ms);
  EXPECT_LT(typical.timing.hold_ms, slow.timing.hold_ms);
  EXPECT_LT(hurried.timing.double_ms, typical.timing.double_ms);
  EXPECT_LT(typical.timing.double_ms, slow.timing.double_ms);
}

TEST(PressTuner, LeavesRoomForTheNextPressesNotJustTheRecordedOnes) {
  for (const Session& session : {Typical(), Hurried(), Slow()}) {
    const Proposal proposal = press_tuner::Propose(session.gestures, kDefaults);
    ASSERT_TRUE(proposal.Usable());
    // A fifth past the longest tap, a fifth short of the shortest hold, and
    // a double a tenth slower than the slowest: still as meant.
    const uint64_t tap = proposal.longest_tap_ms * 6 / 5;
    const uint64_t hold = proposal.shortest_hold_ms * 4 / 5;
    const uint64_t span = proposal.longest_span_ms * 11 / 10;
    Session fresh;
    fresh.Once(tap).Hold(hold).Twice(tap, span - tap, tap).TwiceHold(tap, span - tap, hold);
    const press_tuner::Reading reading = press_tuner::Read(fresh.gestures, proposal.timing);
    EXPECT_EQ(reading.Right(), 4) << "hold " << proposal.timing.hold_ms << " double " << proposal.timing.double_ms;
  }
}

TEST(PressTuner, AnInconsistentPersonIsToldWhyAndGetsNoSetting) {
  const struct {
    const char* what;
    Session session;
    Verdict verdict;
    const char16_t* says;
  } cases[] = {
      {"a tap as long as a hold", Typical().Once(520).Hold(480), Verdict::kTapsAsLongAsHolds,
       u"a press meant as a tap lasted 520 ms, and one meant as a hold only 480 ms"},
      {"taps past every hold interval", Session().Once(900).Hold(1500).Twice(100, 100, 100).TwiceHold(100, 100, 1500),
       Verdict::kTapsTooLong, u"a press meant as a tap lasted 900 ms"},
      {"holds too short to tell", Session().Once(40).Hold(150).Twice(40, 60, 40).TwiceHold(40, 60, 190),
       Verdict::kHoldsTooShort, u"a press meant as a hold lasted only 150 ms"},
      {"a double too slow to wait for", Typical().Twice(100, 2000, 100), Verdict::kDoublesTooSlow,
       u"the second press of a double came 2100 ms after the first"},
  };
  for (const auto& c : cases) {
    const Proposal proposal = press_tuner::Propose(c.session.gestures, kDefaults);
    EXPECT_EQ(proposal.verdict, c.verdict) << c.what;
    EXPECT_FALSE(proposal.Usable()) << c.what;
    EXPECT_EQ(proposal.timing.hold_ms, kDefaults.hold_ms) << c.what;
    EXPECT_EQ(proposal.timing.double_ms, kDefaults.double_ms) << c.what;
    const std::u16string text = press_tuner::Explain(proposal);
    EXPECT_NE(text.find(u"You pressed inconsistently"), std::u16string::npos) << c.what;
    EXPECT_NE(text.find(c.says), std::u16string::npos) << c.what;
  }
}

TEST(PressTuner, TapsAndHoldsCloseTogetherAreProposedWithAWarning) {
  Session s;
  for (uint64_t tap : {250, 300, 280}) s.Once(tap);
  for (uint64_t hold : {380, 420, 400}) s.Hold(hold);
  s.Twice(260, 100, 290).TwiceHold(270, 100, 390);
  const Proposal proposal = press_tuner::Propose(s.gestures, kDefaults);
  EXPECT_EQ(proposal.verdict, Verdict::kClose);
  EXPECT_TRUE(proposal.Usable());
  EXPECT_EQ(proposal.proposed.Right(), proposal.proposed.Recorded());
  EXPECT_GE(proposal.timing.hold_ms, 300u);
  EXPECT_LT(proposal.timing.hold_ms, 380u);
  EXPECT_NE(press_tuner::Explain(proposal).find(u"came close"), std::u16string::npos);
}

TEST(PressTuner, NeedsEveryKindAndLeavesOutMalformedAttempts) {
  Session missing;
  missing.Once(100).Hold(800).Twice(100, 130, 100);  // no "press twice and hold"
  EXPECT_EQ(press_tuner::Propose(missing.gestures, kDefaults).verdict, Verdict::kTooFew);
  EXPECT_EQ(press_tuner::Propose({}, kDefaults).verdict, Verdict::kTooFew);

  // A "double" of one press, presses out of order, an up before its down:
  // recorded by no kind, read by no timing.
  Session odd = Typical();
  odd.gestures.push_back({Kind::kDouble, {{100, 200}}});
  odd.gestures.push_back({Kind::kDouble, {{500, 600}, {400, 450}}});
  odd.gestures.push_back({Kind::kSingle, {{700, 650}}});
  const Proposal proposal = press_tuner::Propose(odd.gestures, kDefaults);
  EXPECT_EQ(proposal.current.Recorded(), 20);
  EXPECT_EQ(proposal.verdict, press_tuner::Propose(Typical().gestures, kDefaults).verdict);
}

TEST(PressTuner, ReadsTheSameOnAnyClock) {
  // From 0 (a time the rule reads as "not seen") and from far on: the same.
  Session zero = Typical();
  Session late = Typical();
  const uint64_t first = zero.gestures.front().presses.front().down;
  for (Gesture& g : zero.gestures)
    for (auto& p : g.presses) p = {p.down - first, p.up - first};
  for (Gesture& g : late.gestures)
    for (auto& p : g.presses) p = {p.down + 4000000000ULL, p.up + 4000000000ULL};
  const Proposal a = press_tuner::Propose(zero.gestures, kDefaults);
  const Proposal b = press_tuner::Propose(late.gestures, kDefaults);
  EXPECT_EQ(a.timing.hold_ms, b.timing.hold_ms);
  EXPECT_EQ(a.timing.double_ms, b.timing.double_ms);
  EXPECT_EQ(a.proposed.Right(), 20);
  EXPECT_EQ(b.proposed.Right(), 20);
}

TEST(PressTuner, KeepsWithinWhatTheOptionsPageCanStore) {
  // Very quick taps and holds: the hold interval stops at its least, 200.
  Session quick;
  for (int i = 0; i < 3; ++i) quick.Once(30).Hold(400).Twice(30, 40, 30).TwiceHold(30, 40, 400);
  const Proposal fast = press_tuner::Propose(quick.gestures, kDefaults);
  ASSERT_TRUE(fast.Usable());
  EXPECT_EQ(fast.timing.hold_ms, kHoldIntervalSetting.minimum);
  EXPECT_GE(fast.timing.double_ms, fast.timing.hold_ms);
  // Doubles of 1.9 s: the window stops at its most, 2000, and still reads them.
  Session leisurely;
  for (int i = 0; i < 3; ++i) leisurely.Once(100).Hold(900).Twice(100, 1800, 100).TwiceHold(100, 1800, 900);
  const Proposal slow = press_tuner::Propose(leisurely.gestures, kDefaults);
  ASSERT_TRUE(slow.Usable());
  EXPECT_EQ(slow.timing.double_ms, kDoubleIntervalSetting.maximum);
  EXPECT_EQ(slow.proposed.Right(), slow.proposed.Recorded());
  // A current timing that is corrupt still reads, with its wait cut.
  const Proposal corrupt = press_tuner::Propose(Typical().gestures, Timing{0xFFFFFFFF, 400});
  EXPECT_EQ(corrupt.current.single_wait_ms, press_rule::kMaxWaitMs + 401);
}

}  // namespace
