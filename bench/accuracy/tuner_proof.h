// Whether the tuner's proposal (shared/press_tuner.h) serves a person beyond
// the presses it was made from: per population, a person records a few
// presses of each kind the tuner asks for, the tuner proposes, and fresh
// series of the same population, every gesture, are read at the proposal
// through the rule (press_rule::ReadSeries) and at the defaults. Repeated
// over seeds, so that a lucky or unlucky recording shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/accuracy/series_plan.h"
#include "shared/press_rule.h"
#include "shared/press_tuner.h"

namespace accuracy {

struct TunerTrialPlan {
  int recorded_per_kind = 5;   // what the tuner's dialog asks for
  int fresh_per_gesture = 50;  // five gestures: 250 fresh series
  uint64_t first_seed = 1;
  int seeds = 20;
  press_rule::Timing defaults{press_rule::kDefaultIntervalMs, press_rule::kDefaultIntervalMs};
};

// One person of one population, one seed.
struct TunerTrial {
  int population = 0;
  uint64_t seed = 0;
  press_tuner::Verdict verdict = press_tuner::Verdict::kTooFew;
  press_rule::Timing proposal;  // the defaults when the verdict is not usable
  int fresh = 0;
  int as_meant_at_proposal = 0;
  int as_meant_at_defaults = 0;
  int fresh_by_gesture[kGestureCount] = {};
  int right_by_gesture_at_proposal[kGestureCount] = {};
  int right_by_gesture_at_defaults[kGestureCount] = {};
  uint32_t single_wait_at_proposal = 0;
  uint32_t single_wait_at_defaults = 0;
};

// The recorded presses are drawn from `seed`, the fresh series from a seed
// of their own: they share nothing.
TunerTrial RunTunerTrial(int population, uint64_t seed, const TunerTrialPlan& plan);
// Every population over plan.seeds seeds.
std::vector<TunerTrial> RunTunerTrials(const TunerTrialPlan& plan);

// Per population: the proposals (median and range), the share read as
// meant at the proposal (over all seeds, and the worst seed) and at the
// defaults, per gesture, and a single press's wait; then what was run.
std::string FormatTunerTable(const std::vector<TunerTrial>& trials, const TunerTrialPlan& plan);

}  // namespace accuracy
