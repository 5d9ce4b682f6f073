#include "bench/accuracy/series_score.h"

#include <algorithm>

namespace accuracy {
namespace {

constexpr const char* kSlotNames[] = {"single", "hold", "double", "double-hold"};

// The rule's times count from an origin past 0: a time of 0 means "not seen".
constexpr uint64_t kOrigin = 1000000;

}  // namespace

const char* SlotName(Slot slot) { return kSlotNames[(slot.count == 2 ? 2 : 0) + (slot.hold ? 1 : 0)]; }

bool SlotFromName(const std::string& name, Slot* slot) {
  for (int i = 0; i < 4; ++i) {
    if (name == kSlotNames[i]) {
      *slot = Slot{i >= 2 ? 2 : 1, i % 2 == 1};
      return true;
    }
  }
  return false;
}

Slot MeantSlot(Gesture gesture) {
  switch (gesture) {
    case Gesture::kSingle:
      return {1, false};
    case Gesture::kHold:
      return {1, true};
    case Gesture::kDouble:
      return {2, false};
    case Gesture::kDoubleHold:
    case Gesture::kTriple:
      return {2, true};
  }
  return {1, false};
}

std::string SlotsName(const std::vector<Slot>& slots) {
  if (slots.empty()) return "nothing";
  std::string name;
  for (const Slot& slot : slots) name += (name.empty() ? "" : "+") + std::string(SlotName(slot));
  return name;
}

SeriesScore ScoreSeries(Gesture gesture, const Observed& observed, const press_rule::Timing& timing) {
  SeriesScore score;
  for (const Dispatch& dispatch : observed.dispatches) score.got.push_back(dispatch.slot);
  if (!observed.complete) return score;
  std::vector<press_rule::PlayedPress> presses;
  for (const press_rule::PlayedPress& press : observed.presses)
    presses.push_back({press.down + kOrigin, press.up + kOrigin});
  for (const press_rule::Outcome& outcome : press_rule::ReadSeries(presses, timing, press_rule::ExtraSlots{})) {
    score.rule.push_back({outcome.press_count, outcome.hold});
    score.rule_at.push_back(static_cast<int64_t>(outcome.at - kOrigin));
  }
  const std::vector<Slot> meant{MeantSlot(gesture)};
  score.agrees_with_rule = score.got == score.rule;
  score.agrees_with_meaning = score.got == meant;
  score.rule_as_meant = score.rule == meant;
  if (score.agrees_with_rule) {
    for (size_t i = 0; i < score.rule.size(); ++i)
      score.delays.push_back(observed.dispatches[i].at - score.rule_at[i]);
  }
  return score;
}

void Tally::Add(Gesture gesture, const SeriesScore& score, bool complete, bool press_count_as_planned) {
  series += 1;
  incomplete += complete ? 0 : 1;
  with_rule += score.agrees_with_rule ? 1 : 0;
  as_meant += score.agrees_with_meaning ? 1 : 0;
  rule_as_meant += score.rule_as_meant ? 1 : 0;
  press_count_off += press_count_as_planned ? 0 : 1;
  for (int64_t delay : score.delays) delays.push_back(static_cast<double>(delay));
  if (!score.agrees_with_rule)
    rule_confusions[(complete ? SlotsName(score.rule) : "unseen keys") + " -> " + SlotsName(score.got)] += 1;
  if (!score.agrees_with_meaning)
    meaning_confusions[std::string(GestureName(gesture)) + " -> " + SlotsName(score.got)] += 1;
}

void Tally::Add(const Tally& other) {
  series += other.series;
  with_rule += other.with_rule;
  as_meant += other.as_meant;
  rule_as_meant += other.rule_as_meant;
  press_count_off += other.press_count_off;
  incomplete += other.incomplete;
  delays.insert(delays.end(), other.delays.begin(), other.delays.end());
  for (const auto& [name, count] : other.rule_confusions) rule_confusions[name] += count;
  for (const auto& [name, count] : other.meaning_confusions) meaning_confusions[name] += count;
}

std::string Tally::Main(const std::map<std::string, int>& confusions, size_t most) {
  std::vector<std::pair<std::string, int>> ranked(confusions.begin(), confusions.end());
  // Most frequent first; ties by name, so that a table reads the same every time.
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  for (size_t i = 0; i < ranked.size() && i < most; ++i)
    text += (text.empty() ? "" : ", ") + std::to_string(ranked[i].second) + "x " + ranked[i].first;
  return text;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double rank = fraction * static_cast<double>(values.size() - 1);
  return values[static_cast<size_t>(rank + 0.5)];
}

}  // namespace accuracy
