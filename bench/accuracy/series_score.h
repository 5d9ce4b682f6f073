// Scores what the programs did with one series, two ways: against what the
// press rule (shared/press_rule.h, the launcher's own) gives for the key
// times as played, and against what the person meant by the gesture. And
// sums the scores of many series up.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bench/accuracy/series_plan.h"
#include "shared/press_rule.h"

namespace accuracy {

// A press slot: press count 1 or 2, held or not.
struct Slot {
  int count = 1;
  bool hold = false;
  bool operator==(const Slot&) const = default;
};
const char* SlotName(Slot slot);  // "single", "hold", "double", "double-hold"
bool SlotFromName(const std::string& name, Slot* slot);
// The slot a person means by a gesture (a triple press means the double
// press and hold's slot).
Slot MeantSlot(Gesture gesture);
// "double+single"; "nothing" for none.
std::string SlotsName(const std::vector<Slot>& slots);

struct Dispatch {
  Slot slot;
  int64_t at = 0;  // ms from the series' first key down
  bool operator==(const Dispatch&) const = default;
};

// What a path saw of one series: its presses as played (key down and up,
// in order, ms from the first key down) and the slots dispatched, in order.
struct Observed {
  std::vector<press_rule::PlayedPress> presses;
  std::vector<Dispatch> dispatches;
  // False when a key down or up went unseen: the presses as played are not
  // known, so the series agrees with nothing.
  bool complete = true;
};

struct SeriesScore {
  std::vector<Slot> rule;      // the rule's outcomes for the presses as played
  std::vector<int64_t> rule_at;  // and when it makes each
  std::vector<Slot> got;       // what the programs dispatched
  bool agrees_with_rule = false;
  bool agrees_with_meaning = false;  // exactly one dispatch, of the meant slot
  bool rule_as_meant = false;        // the rule itself gives the meant slot
  // For a series that agrees with the rule: each dispatch's delay after
  // the rule's moment for it, in ms.
  std::vector<int64_t> delays;
};

// Every slot assigned, as the benchmark's device has them: each press waits
// and is classified.
SeriesScore ScoreSeries(Gesture gesture, const Observed& observed, const press_rule::Timing& timing);

// The sum of many scored series.
struct Tally {
  int series = 0;
  int with_rule = 0;
  int as_meant = 0;
  int rule_as_meant = 0;
  int press_count_off = 0;  // played with more or fewer presses than planned
  int incomplete = 0;       // a key event went unseen
  std::vector<double> delays;
  std::map<std::string, int> rule_confusions;     // "rule's -> got"
  std::map<std::string, int> meaning_confusions;  // "meant -> got"

  void Add(Gesture gesture, const SeriesScore& score, bool complete, bool press_count_as_planned);
  void Add(const Tally& other);
  // The most frequent confusions, "3x double -> single+single", at most `most`.
  static std::string Main(const std::map<std::string, int>& confusions, size_t most);
};

// 0 for no samples; the sample at `fraction` of the sorted values (nearest rank).
double Percentile(std::vector<double> values, double fraction);

}  // namespace accuracy
