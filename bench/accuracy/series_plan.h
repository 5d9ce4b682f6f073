// Human-like press series for the accuracy benchmark: three populations of
// people, five gestures, key times drawn log-normal around each population's
// medians. Seeded, and the same on every build and standard library: the
// generator and the normal draws are our own, so a seed names one set of
// series for good.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "shared/press_rule.h"

namespace accuracy {

enum class Gesture { kSingle, kHold, kDouble, kDoubleHold, kTriple };
constexpr Gesture kGestures[] = {Gesture::kSingle, Gesture::kHold, Gesture::kDouble, Gesture::kDoubleHold,
                                 Gesture::kTriple};
constexpr int kGestureCount = 5;

const char* GestureName(Gesture gesture);  // "single", "hold", "double", "double-hold", "triple"
bool GestureFromName(std::string_view name, Gesture* gesture);

// A population's median times, in milliseconds: how long a tap keeps the
// key down, how long the key stays up between presses of a series, and how
// long a press meant as a hold keeps it down.
struct Population {
  const char* name;
  double tap_ms;
  double gap_ms;
  double hold_ms;
};
constexpr Population kPopulations[] = {
    {"typical", 100, 130, 800},
    {"hurried", 70, 90, 550},
    {"slow", 170, 250, 1000},
};
constexpr int kPopulationCount = 3;
// Index into kPopulations, or -1.
int PopulationFromName(std::string_view name);

// The spread of every time: the standard deviation of its logarithm. A
// person's taps vary by roughly a third around their usual length.
constexpr double kSpread = 0.3;
// No key moves quicker than this, and no time strays past kMaxFactor times
// its median (which keeps a series short; at this spread it almost never
// comes into play).
constexpr double kMinTimeMs = 20;
constexpr double kMaxFactor = 4;

// Reproducible draws: std::mt19937_64's sequence is fixed by the standard;
// the uniform and normal draws on top of it are ours, not the library's.
class TimeSource {
 public:
  explicit TimeSource(uint64_t seed);
  double Uniform();  // [0, 1)
  double Normal();   // standard normal (Box-Muller)
  // A time around `median_ms`, log-normal, rounded to whole milliseconds
  // and kept within [kMinTimeMs, kMaxFactor * median_ms].
  uint64_t Time(double median_ms);
  uint64_t Below(uint64_t bound);  // uniform in [0, bound), bound >= 1

 private:
  std::mt19937_64 engine_;
  double spare_ = 0;
  bool has_spare_ = false;
};

// One series as a person means to play it: each press's key down and key
// up, in milliseconds from the first key down.
struct PlannedSeries {
  int population = 0;  // index into kPopulations
  Gesture gesture = Gesture::kSingle;
  int index = 0;  // its place among the series of its population and gesture
  std::vector<press_rule::PlayedPress> presses;
};

// The first `n` series of one population and gesture for `seed`. A larger n
// gives the same series first and more after them.
std::vector<PlannedSeries> PlanCell(int population, Gesture gesture, int n, uint64_t seed);
// `n` series of every population and gesture, in an order drawn from `seed`
// that mixes them, so that a machine's changing load falls on all alike.
std::vector<PlannedSeries> Plan(int n, uint64_t seed);

}  // namespace accuracy
