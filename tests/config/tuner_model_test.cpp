// The "Tune Button Timing" dialog's model, driven with key moves as the
// platform hands them over: which press is asked for, which attempts count,
// what the comparison shows, and what Accept and leaving without it store.
#include "config/model/tuner_model.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/faults.h"
#include "shared/button_model.h"
#include "shared/text.h"
#include "tests/config/config_test_support.h"

namespace {

using namespace config_test;

constexpr uint32_t kButtonB = 1;  // letter B
constexpr uint32_t kKey = 0xC2;

std::optional<uint32_t> Dword(const char16_t* name) {
  uint32_t value = 0;
  if (!ReadRegDword(kHklm, kSettingsKey, name, value)) return std::nullopt;
  return value;
}

// A person at the key: presses of given lengths, `gap` ms apart, then a
// pause before the next attempt.
class Person {
 public:
  explicit Person(TunerModel& model) : model_(model) {}
  Person& Press(uint64_t length) {
    model_.OnKey(false, at_);
    at_ += length;
    model_.OnKey(true, at_);
    return *this;
  }
  Person& Gap(uint64_t ms) {
    at_ += ms;
    return *this;
  }
  Person& Pause() { return Gap(1500); }
  // One attempt of each kind as a typical person presses.
  Person& Once() { return Press(100).Pause(); }
  Person& Hold() { return Press(800).Pause(); }
  Person& Twice() { return Press(100).Gap(130).Press(90).Pause(); }
  Person& TwiceHold() { return Press(100).Gap(130).Press(750).Pause(); }
  Person& All() {
    for (int i = 0; i < TunerModel::kAttemptsPerKind; ++i) Once();
    for (int i = 0; i < TunerModel::kAttemptsPerKind; ++i) Hold();
    for (int i = 0; i < TunerModel::kAttemptsPerKind; ++i) Twice();
    for (int i = 0; i < TunerModel::kAttemptsPerKind; ++i) TwiceHold();
    return *this;
  }
  uint64_t at_ = 500000;

 private:
  TunerModel& model_;
};

using TunerModelTest = LoggedDeviceTest;

TEST_F(TunerModelTest, AsksForEachKindInTurnAndProposesOnceAllAreRecorded) {
  TunerModel model(kButtonB, kKey, u"Button 2");
  Person person(model);
  EXPECT_EQ(model.Prompt(), u"Now: press once (1 of 5)");
  EXPECT_FALSE(model.CanAccept());
  person.Once().Once();
  EXPECT_EQ(model.Prompt(), u"Now: press once (3 of 5)");
  EXPECT_EQ(model.Notice(), u"Recorded.");
  person.Once().Once().Once();
  EXPECT_EQ(model.Prompt(), u"Now: press and hold (1 of 5)");
  for (int i = 0; i < 5; ++i) person.Hold();
  EXPECT_EQ(model.Prompt(), u"Now: press twice (1 of 5)");
  person.Press(100);
  EXPECT_EQ(model.Notice(), u"One press; now the second.");
  person.Gap(130).Press(90).Pause();
  EXPECT_EQ(model.Prompt(), u"Now: press twice (2 of 5)");
  for (int i = 0; i < 4; ++i) person.Twice();
  EXPECT_EQ(model.Prompt(), u"Now: press twice and hold (1 of 5)");
  // Before the last kind is whole, the comparison shows the intervals in
  // force on what is recorded, and no proposal.
  std::vector<TunerModel::Row> rows = model.Table();
  ASSERT_EQ(rows.size(), static_cast<size_t>(TunerModel::kRowCount));
  EXPECT_EQ(rows[2].label, u"Double Press");
  EXPECT_EQ(rows[2].now, u"5 of 5");
  EXPECT_EQ(rows[2].proposed, u"-");
  EXPECT_EQ(rows[3].now, u"0 of 0");
  for (int i = 0; i < 5; ++i) person.TwiceHold();

  EXPECT_TRUE(model.Finished());
  EXPECT_EQ(model.Prompt(), u"All presses recorded.");
  ASSERT_TRUE(model.CanAccept());
  EXPECT_EQ(model.Notice(), u"These intervals read all 20 recorded presses as you meant them.");
  rows = model.Table();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(rows[k].proposed, u"5 of 5") << k;
  const press_rule::Timing proposal = model.Proposal().timing;
  EXPECT_EQ(rows[4].label, u"Hold interval");
  EXPECT_EQ(rows[4].now, u"400 ms");
  EXPECT_EQ(rows[4].proposed, DecimalText(proposal.hold_ms) + u" ms");
  EXPECT_EQ(rows[5].proposed, DecimalText(proposal.double_ms) + u" ms");
  EXPECT_EQ(rows[6].label, u"A single press waits");
  EXPECT_EQ(rows[6].proposed, DecimalText(std::max(proposal.hold_ms, proposal.double_ms)) + u" ms");
  // A press after everything is recorded counts for nothing.
  person.Once();
  EXPECT_EQ(model.Recorded().size(), 20u);
  EXPECT_NE(model.Notice().find(u"Everything is recorded"), std::u16string::npos);
}

TEST_F(TunerModelTest, AnAttemptWithMorePressesThanAskedIsTakenBack) {
  TunerModel model(kButtonB, kKey, u"Button 2");
  Person person(model);
  person.Once();
  // Asked to press once, the person presses twice: the first press looked
  // like a whole attempt until the second came.
  person.Press(100).Gap(200).Press(100);
  EXPECT_EQ(model.Prompt(), u"Now: press once (2 of 5)");
  EXPECT_EQ(model.Notice(), u"That was more than one press: it is not counted. Wait a moment between tries.");
  // A third quick press is still part of the spoiled attempt; after a pause
  // presses count again.
  person.Gap(300).Press(100).Pause();
  EXPECT_EQ(model.Recorded().size(), 1u);
  person.Once().Once().Once().Press(100);
  EXPECT_EQ(model.Prompt(), u"Now: press and hold (1 of 5)");
  // The fifth attempt of a kind taken back asks for that kind again.
  person.Gap(150).Press(100).Pause();
  EXPECT_EQ(model.Prompt(), u"Now: press once (5 of 5)");
  // So does the very last attempt, and the proposal goes with it.
  person.Once();
  for (int i = 0; i < 5; ++i) person.Hold();
  for (int i = 0; i < 5; ++i) person.Twice();
  for (int i = 0; i < 4; ++i) person.TwiceHold();
  person.Press(100).Gap(130).Press(750);
  EXPECT_TRUE(model.CanAccept());
  person.Gap(200).Press(100).Pause();
  EXPECT_FALSE(model.CanAccept());
  EXPECT_EQ(model.Prompt(), u"Now: press twice and hold (5 of 5)");
  EXPECT_EQ(model.Notice(), u"That was more than two presses: it is not counted. Wait a moment between tries.");
}

TEST_F(TunerModelTest, ADoubleWhoseSecondPressComesAfterAPauseIsNotCounted) {
  TunerModel model(kButtonB, kKey, u"Button 2");
  Person person(model);
  for (int i = 0; i < 5; ++i) person.Once();
  for (int i = 0; i < 5; ++i) person.Hold();
  person.Press(100).Gap(TunerModel::kAttemptPauseMs + 1).Press(100);
  EXPECT_EQ(model.Notice(),
            u"The second press came after a pause: that was one press, not two, and it is not counted.");
  EXPECT_EQ(model.Prompt(), u"Now: press twice (1 of 5)");
  // The late press began the next attempt.
  person.Gap(130).Press(100).Pause();
  EXPECT_EQ(model.Prompt(), u"Now: press twice (2 of 5)");
}

TEST_F(TunerModelTest, AutoRepeatAndAnUpWithoutItsDownChangeNothing) {
  TunerModel model(kButtonB, kKey, u"Button 2");
  // The key was down when the dialog took it: its up is no press.
  model.OnKey(true, 1000);
  EXPECT_EQ(model.Notice(), u"Press the button as asked, five times each way, as you usually would.");
  model.OnKey(false, 3000);
  model.OnKey(false, 3300);  // repeated while held
  model.OnKey(false, 3600);
  model.OnKey(true, 3800);
  ASSERT_EQ(model.Recorded().size(), 1u);
  EXPECT_EQ(model.Recorded()[0].presses[0].down, 3000u);
  EXPECT_EQ(model.Recorded()[0].presses[0].up, 3800u);
  // A clock that steps back never makes a press end before it began.
  model.OnKey(false, 9000);
  model.OnKey(true, 8000);
  ASSERT_EQ(model.Recorded().size(), 2u);
  EXPECT_GE(model.Recorded()[1].presses[0].up, model.Recorded()[1].presses[0].down);
}

TEST_F(TunerModelTest, TheIntervalsInForceAreTheButtonsOwnElseTheGlobalOnes) {
  EXPECT_EQ(TunerModel(kButtonB, kKey, u"B").Current().hold_ms, 400u);
  ASSERT_TRUE(WriteSettingDword(u"HoldInterval", 350));
  ASSERT_TRUE(WriteSettingDword(u"DblClickInterval", 500));
  TunerModel global(kButtonB, kKey, u"B");
  EXPECT_EQ(global.Current().hold_ms, 350u);
  EXPECT_EQ(global.Current().double_ms, 500u);
  EXPECT_FALSE(global.HasOwnTiming());
  ASSERT_TRUE(WriteSettingDword(u"DblClickIntervalB", 700));
  TunerModel own(kButtonB, kKey, u"B");
  EXPECT_EQ(own.Current().hold_ms, 350u);
  EXPECT_EQ(own.Current().double_ms, 700u);
  EXPECT_TRUE(own.HasOwnTiming());
}

TEST_F(TunerModelTest, AcceptStoresForThisButtonOrForEveryButton) {
  ASSERT_TRUE(WriteSettingDword(u"HoldIntervalC", 250));  // another button's own
  {
    TunerModel model(kButtonB, kKey, u"Button 2");
    Person(model).All();
    ASSERT_TRUE(model.Accept(false));
    EXPECT_EQ(Dword(u"HoldIntervalB"), model.Proposal().timing.hold_ms);
    EXPECT_EQ(Dword(u"DblClickIntervalB"), model.Proposal().timing.double_ms);
    EXPECT_EQ(Dword(u"HoldInterval"), std::nullopt);
    EXPECT_EQ(Dword(u"DblClickInterval"), std::nullopt);
  }
  {
    TunerModel model(kButtonB, kKey, u"Button 2");
    EXPECT_TRUE(model.HasOwnTiming());
    Person person(model);
    for (int i = 0; i < 5; ++i) person.Once();
    for (int i = 0; i < 5; ++i) person.Press(500).Pause();  // shorter holds this time
    for (int i = 0; i < 5; ++i) person.Twice();
    for (int i = 0; i < 5; ++i) person.TwiceHold();
    ASSERT_TRUE(model.Accept(true));
    EXPECT_EQ(Dword(u"HoldInterval"), model.Proposal().timing.hold_ms);
    EXPECT_EQ(Dword(u"DblClickInterval"), model.Proposal().timing.double_ms);
    // The tuned button follows the global values now; another keeps its own.
    EXPECT_EQ(Dword(u"HoldIntervalB"), std::nullopt);
    EXPECT_EQ(Dword(u"DblClickIntervalB"), std::nullopt);
    EXPECT_EQ(Dword(u"HoldIntervalC"), 250u);
    EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, kButtonB), model.Proposal().timing.hold_ms);
  }
}

TEST_F(TunerModelTest, NothingIsStoredWithoutAcceptOrForAnInconsistentPerson) {
  {
    TunerModel model(kButtonB, kKey, u"Button 2");
    Person(model).All();
    // Left without Accept (Cancel): the model wrote nothing.
  }
  EXPECT_EQ(Dword(u"HoldIntervalB"), std::nullopt);
  EXPECT_EQ(Dword(u"DblClickIntervalB"), std::nullopt);

  TunerModel model(kButtonB, kKey, u"Button 2");
  Person person(model);
  for (int i = 0; i < 5; ++i) person.Press(i == 2 ? 600 : 100).Pause();  // one "once" held long
  for (int i = 0; i < 5; ++i) person.Press(i == 4 ? 450 : 800).Pause();  // and one hold short
  for (int i = 0; i < 5; ++i) person.Twice();
  for (int i = 0; i < 5; ++i) person.TwiceHold();
  ASSERT_TRUE(model.Finished());
  EXPECT_FALSE(model.CanAccept());
  EXPECT_NE(model.Notice().find(u"You pressed inconsistently: a press meant as a tap lasted 600 ms, and one meant "
                                u"as a hold only 450 ms"),
            std::u16string::npos);
  EXPECT_EQ(model.Table()[4].proposed, u"-");
  EXPECT_FALSE(model.Accept(false));
  EXPECT_EQ(Dword(u"HoldIntervalB"), std::nullopt);
  // Start Over forgets it all and asks from the beginning.
  model.StartOver();
  EXPECT_EQ(model.Prompt(), u"Now: press once (1 of 5)");
  EXPECT_TRUE(model.Recorded().empty());
}

TEST_F(TunerModelTest, AWriteThatFailsLeavesTheStoredTimingAsItWas) {
  ASSERT_TRUE(WriteSettingDword(u"HoldIntervalB", 333));
  TunerModel model(kButtonB, kKey, u"Button 2");
  Person(model).All();
  // The hold interval is written, the double-press interval fails.
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 2, plat::kErrorDiskFull);
  EXPECT_FALSE(model.Accept(false));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorDiskFull);
  plat::faults::Clear();
  EXPECT_EQ(Dword(u"HoldIntervalB"), 333u);
  EXPECT_EQ(Dword(u"DblClickIntervalB"), std::nullopt);
  // For every button: the global values were missing and stay missing.
  plat::faults::FailCall(plat::faults::Op::RegistryWrite, 2, plat::kErrorDiskFull);
  EXPECT_FALSE(model.Accept(true));
  plat::faults::Clear();
  EXPECT_EQ(Dword(u"HoldInterval"), std::nullopt);
  EXPECT_EQ(Dword(u"HoldIntervalB"), 333u);
  bool logged = false;
  for (const std::string& line : LogLines())
    logged = logged || line == "Tuning button 1: the timing could not be stored (error 112)";
  EXPECT_TRUE(logged);
}

}  // namespace
