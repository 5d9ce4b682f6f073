#include "bench/accuracy/tuner_proof.h"

#include <algorithm>
#include <cstdio>

#include "bench/accuracy/series_score.h"

namespace accuracy {
namespace {

// Fresh series come from a seed this far from the recording's.
constexpr uint64_t kFreshSeedOffset = 0x5EED0000;

Gesture GestureOf(press_tuner::Kind kind) {
  switch (kind) {
    case press_tuner::Kind::kSingle: return Gesture::kSingle;
    case press_tuner::Kind::kHold: return Gesture::kHold;
    case press_tuner::Kind::kDouble: return Gesture::kDouble;
    case press_tuner::Kind::kDoubleHold: return Gesture::kDoubleHold;
  }
  return Gesture::kSingle;
}

bool AsMeant(const PlannedSeries& series, const press_rule::Timing& timing) {
  Observed observed;
  observed.presses = series.presses;
  return ScoreSeries(series.gesture, observed, timing).rule_as_meant;
}

std::string Percent(int part, int whole) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", whole == 0 ? 0.0 : 100.0 * part / whole);
  return text;
}

template <typename T>
T Median(std::vector<T> values) {
  if (values.empty()) return T{};
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

TunerTrial RunTunerTrial(int population, uint64_t seed, const TunerTrialPlan& plan) {
  TunerTrial trial;
  trial.population = population;
  trial.seed = seed;
  std::vector<press_tuner::Gesture> recorded;
  for (press_tuner::Kind kind : press_tuner::kKinds) {
    for (const PlannedSeries& series : PlanCell(population, GestureOf(kind), plan.recorded_per_kind, seed))
      recorded.push_back({kind, series.presses});
  }
  const press_tuner::Proposal proposal = press_tuner::Propose(recorded, plan.defaults);
  trial.verdict = proposal.verdict;
  trial.proposal = proposal.timing;
  trial.single_wait_at_proposal = press_tuner::Read({}, proposal.timing).single_wait_ms;
  trial.single_wait_at_defaults = press_tuner::Read({}, plan.defaults).single_wait_ms;
  for (Gesture gesture : kGestures) {
    const int g = static_cast<int>(gesture);
    for (const PlannedSeries& series :
         PlanCell(population, gesture, plan.fresh_per_gesture, seed + kFreshSeedOffset)) {
      trial.fresh += 1;
      trial.fresh_by_gesture[g] += 1;
      if (AsMeant(series, proposal.timing)) {
        trial.as_meant_at_proposal += 1;
        trial.right_by_gesture_at_proposal[g] += 1;
      }
      if (AsMeant(series, plan.defaults)) {
        trial.as_meant_at_defaults += 1;
        trial.right_by_gesture_at_defaults[g] += 1;
      }
    }
  }
  return trial;
}

std::vector<TunerTrial> RunTunerTrials(const TunerTrialPlan& plan) {
  std::vector<TunerTrial> trials;
  for (int population = 0; population < kPopulationCount; ++population)
    for (int i = 0; i < plan.seeds; ++i) trials.push_back(RunTunerTrial(population, plan.first_seed + i, plan));
  return trials;
}

std::string FormatTunerTable(const std::vector<TunerTrial>& trials, const TunerTrialPlan& plan) {
  std::string out;
  char line[512];
  std::snprintf(line, sizeof line,
                "%-8s %5s %-18s %-16s %8s %9s %7s %8s  %s\n", "people", "seeds", "proposal hold/dbl",
                "range", "as meant", "worst", "wait", "defaults", "per gesture at proposal (at defaults)");
  out += line;
  for (int population = 0; population < kPopulationCount; ++population) {
    std::vector<uint32_t> holds, doubles, waits;
    int fresh = 0, right = 0, right_defaults = 0, seeds = 0, unusable = 0;
    double worst = 1.0;
    int by_gesture[kGestureCount] = {}, by_gesture_defaults[kGestureCount] = {}, fresh_by_gesture[kGestureCount] = {};
    for (const TunerTrial& trial : trials) {
      if (trial.population != population) continue;
      seeds += 1;
      unusable += (trial.verdict == press_tuner::Verdict::kProposed || trial.verdict == press_tuner::Verdict::kClose)
                      ? 0
                      : 1;
      holds.push_back(trial.proposal.hold_ms);
      doubles.push_back(trial.proposal.double_ms);
      waits.push_back(trial.single_wait_at_proposal);
      fresh += trial.fresh;
      right += trial.as_meant_at_proposal;
      right_defaults += trial.as_meant_at_defaults;
      if (trial.fresh > 0) worst = std::min(worst, static_cast<double>(trial.as_meant_at_proposal) / trial.fresh);
      for (int g = 0; g < kGestureCount; ++g) {
        by_gesture[g] += trial.right_by_gesture_at_proposal[g];
        by_gesture_defaults[g] += trial.right_by_gesture_at_defaults[g];
        fresh_by_gesture[g] += trial.fresh_by_gesture[g];
      }
    }
    if (seeds == 0) continue;
    char proposal[32], range[32], worst_text[16], wait[16], defaults[16];
    std::snprintf(proposal, sizeof proposal, "%u/%u", Median(holds), Median(doubles));
    std::snprintf(range, sizeof range, "%u-%u/%u-%u", *std::min_element(holds.begin(), holds.end()),
                  *std::max_element(holds.begin(), holds.end()), *std::min_element(doubles.begin(), doubles.end()),
                  *std::max_element(doubles.begin(), doubles.end()));
    std::snprintf(worst_text, sizeof worst_text, "%.1f%%", 100.0 * worst);
    std::snprintf(wait, sizeof wait, "%u ms", Median(waits));
    std::snprintf(defaults, sizeof defaults, "%s", Percent(right_defaults, fresh).c_str());
    std::string gestures;
    for (Gesture gesture : kGestures) {
      const int g = static_cast<int>(gesture);
      gestures += std::string(gestures.empty() ? "" : ", ") + GestureName(gesture) + " " +
                  Percent(by_gesture[g], fresh_by_gesture[g]) + " (" +
                  Percent(by_gesture_defaults[g], fresh_by_gesture[g]) + ")";
    }
    std::snprintf(line, sizeof line, "%-8s %5d %-18s %-16s %8s %9s %7s %8s  %s\n", kPopulations[population].name,
                  seeds, proposal, range, Percent(right, fresh).c_str(), worst_text, wait, defaults,
                  gestures.c_str());
    out += line;
    if (unusable > 0) {
      std::snprintf(line, sizeof line, "         %d of %d recordings were found inconsistent: the defaults stayed\n",
                    unusable, seeds);
      out += line;
    }
  }
  std::snprintf(line, sizeof line,
                "\n%d recorded presses of each of the tuner's four kinds per person, %d fresh series of each of "
                "five gestures at the proposal and at the defaults %u/%u (a single press waits %u ms there); "
                "seeds %llu to %llu.\n",
                plan.recorded_per_kind, plan.fresh_per_gesture, plan.defaults.hold_ms, plan.defaults.double_ms,
                press_tuner::Read({}, plan.defaults).single_wait_ms,
                static_cast<unsigned long long>(plan.first_seed),
                static_cast<unsigned long long>(plan.first_seed + plan.seeds - 1));
  out += line;
  return out;
}

}  // namespace accuracy
