#include "config/model/tuner_model.h"

#include <algorithm>
#include <optional>

#include "shared/button_model.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "shared/text.h"

namespace {

using press_tuner::Kind;


// The labels of the comparison's rows: the Settings page's names of the
// four presses, then the timings.
constexpr const char16_t* kKindLabels[press_tuner::kKindCount] = {u"Single Press", u"Press and Hold", u"Double Press",
                                                                  u"Dbl Press & Hold"};

std::u16string Ms(uint32_t ms) { return DecimalText(ms) + u" ms"; }

std::u16string OfCount(int right, int recorded) { return DecimalText(right) + u" of " + DecimalText(recorded); }

std::optional<uint32_t> Stored(const std::u16string& name) {
  uint32_t value = 0;
  if (name.empty() || !ReadRegDword(plat::RegRoot::Product, kSettingsKey, name, value)) return std::nullopt;
  return value;
}

// Puts a value back as it was: written again, or deleted when it was missing.
void PutBack(const std::u16string& name, const std::optional<uint32_t>& value) {
  if (value) {
    WriteRegDword(plat::RegRoot::Product, kSettingsKey, name, *value);
  } else {
    DeleteRegValue(plat::RegRoot::Product, kSettingsKey, name);
  }
}

std::u16string PressesText(Kind kind) { return press_tuner::PressCount(kind) == 1 ? u"one press" : u"two presses"; }

}  // namespace

TunerModel::TunerModel(uint32_t button, uint32_t key_code, std::u16string name)
    : button_(button), key_code_(key_code), name_(std::move(name)) {
  current_.hold_ms = ReadButtonSetting(kHoldIntervalSetting, button);
  current_.double_ms = ReadButtonSetting(kDoubleIntervalSetting, button);
  own_timing_ = Stored(ButtonSettingName(kHoldIntervalSetting, button)).has_value() ||
                Stored(ButtonSettingName(kDoubleIntervalSetting, button)).has_value();
}

void TunerModel::StartOver() {
  recorded_.clear();
  kind_ = 0;
  attempt_.clear();
  last_open_ = false;
  spoiled_ = false;
  note_ = Note::kNone;
  proposal_ = {};
}

void TunerModel::OnKey(bool up, uint64_t at) {
  if (!up) {
    if (down_) return;  // auto-repeat
    down_ = true;
    const bool after_pause = !seen_up_ || at > last_up_ + kAttemptPauseMs;
    if (spoiled_ && !after_pause) return;
    spoiled_ = false;
    if (last_open_ && !after_pause) {
      // The attempt recorded last had more presses than asked.
      TakeBackLast();
      spoiled_ = true;
      return;
    }
    last_open_ = false;
    if (!attempt_.empty() && after_pause) {
      note_kind_ = press_tuner::kKinds[kind_];
      note_ = Note::kTooFew;
      attempt_.clear();
    }
    if (Finished()) {
      note_ = Note::kIgnored;
      return;
    }
    attempt_.push_back({at, at});
    return;
  }
  if (!down_) return;  // its down came before the dialog took the key
  down_ = false;
  // A clock that went back counts as no time at all.
  at = std::max(at, attempt_.empty() ? last_up_ : attempt_.back().down);
  last_up_ = std::max(at, last_up_);
  seen_up_ = true;
  if (spoiled_ || attempt_.empty()) return;
  attempt_.back().up = at;
  if (static_cast<int>(attempt_.size()) < press_tuner::PressCount(press_tuner::kKinds[kind_])) {
    if (note_ != Note::kTooFew) note_ = Note::kMidway;  // why the attempt began anew says more
    return;
  }
  Record();
}

void TunerModel::Record() {
  const Kind kind = press_tuner::kKinds[kind_];
  recorded_.push_back({kind, attempt_});
  attempt_.clear();
  last_open_ = true;
  note_ = Note::kRecorded;
  note_kind_ = kind;
  const auto of_kind = std::count_if(recorded_.begin(), recorded_.end(),
                                     [&](const press_tuner::Gesture& g) { return g.kind == kind; });
  if (of_kind < kAttemptsPerKind) return;
  kind_ += 1;
  if (Finished()) {
    proposal_ = press_tuner::Propose(recorded_, current_);
    LogFormat(u"Tuning button %ld: %s\n", false, button_, press_tuner::Explain(proposal_));
  }
}

void TunerModel::TakeBackLast() {
  const Kind kind = recorded_.back().kind;
  recorded_.pop_back();
  kind_ = static_cast<int>(kind);  // that kind is asked again
  proposal_ = {};
  last_open_ = false;
  note_ = Note::kTooMany;
  note_kind_ = kind;
}

std::u16string TunerModel::Prompt() const {
  if (Finished()) return u"All presses recorded.";
  const Kind kind = press_tuner::kKinds[kind_];
  const auto of_kind = std::count_if(recorded_.begin(), recorded_.end(),
                                     [&](const press_tuner::Gesture& g) { return g.kind == kind; });
  return u"Now: " + std::u16string(press_tuner::KindName(kind)) + u" (" +
         DecimalText(static_cast<int64_t>(of_kind) + 1) + u" of " + DecimalText(kAttemptsPerKind) + u")";
}

std::u16string TunerModel::Notice() const {
  if (Finished() && note_ != Note::kTooMany) {
    const std::u16string meaning = press_tuner::Explain(proposal_);
    return note_ == Note::kIgnored ? u"Everything is recorded: Accept, or Start Over. " + meaning : meaning;
  }
  switch (note_) {
    case Note::kNone:
      return u"Press the button as asked, five times each way, as you usually would.";
    case Note::kRecorded:
      return u"Recorded.";
    case Note::kMidway:
      return u"One press; now the second.";
    case Note::kTooMany:
      return u"That was more than " + PressesText(note_kind_) + u": it is not counted. Wait a moment between tries.";
    case Note::kTooFew:
      return u"The second press came after a pause: that was one press, not two, and it is not counted.";
    case Note::kIgnored:
      break;
  }
  return {};
}

std::vector<TunerModel::Row> TunerModel::Table() const {
  const press_tuner::Reading now = press_tuner::Read(recorded_, current_);
  const bool proposed = CanAccept();
  const press_tuner::Reading& next = proposal_.proposed;
  std::vector<Row> rows;
  for (int k = 0; k < press_tuner::kKindCount; ++k) {
    rows.push_back({kKindLabels[k], OfCount(now.right[k], now.recorded[k]),
                    proposed ? OfCount(next.right[k], next.recorded[k]) : u"-"});
  }
  rows.push_back({u"Hold interval", Ms(current_.hold_ms), proposed ? Ms(proposal_.timing.hold_ms) : u"-"});
  rows.push_back(
      {u"Double-press interval", Ms(current_.double_ms), proposed ? Ms(proposal_.timing.double_ms) : u"-"});
  rows.push_back({u"A single press waits", Ms(now.single_wait_ms), proposed ? Ms(next.single_wait_ms) : u"-"});
  return rows;
}

bool TunerModel::Accept(bool for_every_button) {
  const std::u16string own_hold = ButtonSettingName(kHoldIntervalSetting, button_);
  const std::u16string own_double = ButtonSettingName(kDoubleIntervalSetting, button_);
  const std::u16string global_hold = kHoldIntervalSetting.global_name;
  const std::u16string global_double = kDoubleIntervalSetting.global_name;
  if (!CanAccept() || own_hold.empty() || own_double.empty()) {
    plat::SetLastError(plat::kErrorInvalidParameter);
    return false;
  }
  const press_rule::Timing timing = proposal_.timing;
  // What was stored, to put back should a write fail halfway: a launcher
  // must never read one new interval beside one old one for good.
  const std::optional<uint32_t> before[4] = {Stored(own_hold), Stored(own_double), Stored(global_hold),
                                              Stored(global_double)};
  bool stored;
  if (for_every_button) {
    stored = WriteSettingDword(global_hold, timing.hold_ms) && WriteSettingDword(global_double, timing.double_ms) &&
             DeleteRegValue(plat::RegRoot::Product, kSettingsKey, own_hold) &&
             DeleteRegValue(plat::RegRoot::Product, kSettingsKey, own_double);
  } else {
    stored = WriteSettingDword(own_hold, timing.hold_ms) && WriteSettingDword(own_double, timing.double_ms);
  }
  if (!stored) {
    const uint32_t error = plat::GetLastError();
    LogFormat(u"Tuning button %ld: the timing could not be stored (error %ld)\n", false, button_, error);
    PutBack(own_hold, before[0]);
    PutBack(own_double, before[1]);
    PutBack(global_hold, before[2]);
    PutBack(global_double, before[3]);
    plat::SetLastError(error);
    return false;
  }
  LogFormat(for_every_button ? u"Tuning button %ld: hold %ld ms, double press %ld ms stored for every button\n"
                             : u"Tuning button %ld: hold %ld ms, double press %ld ms stored for this button\n",
            false, button_, timing.hold_ms, timing.double_ms);
  return true;
}
