#include "bench/accuracy/series_plan.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace accuracy {
namespace {

constexpr const char* kGestureNames[] = {"single", "hold", "double", "double-hold", "triple"};

// Spreads nearby seeds apart (SplitMix64's finaliser), so that the streams
// of neighbouring cells share nothing.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

uint64_t CellSeed(uint64_t seed, int population, Gesture gesture) {
  return Mix(Mix(seed) ^ static_cast<uint64_t>(population * kGestureCount + static_cast<int>(gesture) + 1));
}

// Which press of the gesture is the one meant as a hold, or -1.
int HeldPress(Gesture gesture) {
  switch (gesture) {
    case Gesture::kHold:
      return 0;
    case Gesture::kDoubleHold:
      return 1;
    default:
      return -1;
  }
}

int PressCount(Gesture gesture) {
  switch (gesture) {
    case Gesture::kSingle:
    case Gesture::kHold:
      return 1;
    case Gesture::kDouble:
    case Gesture::kDoubleHold:
      return 2;
    case Gesture::kTriple:
      return 3;
  }
  return 1;
}

PlannedSeries Draw(TimeSource& source, int population, Gesture gesture, int index) {
  const Population& people = kPopulations[population];
  PlannedSeries series;
  series.population = population;
  series.gesture = gesture;
  series.index = index;
  uint64_t at = 0;
  for (int press = 0; press < PressCount(gesture); ++press) {
    if (press > 0) at += source.Time(people.gap_ms);
    const uint64_t down = at;
    at += source.Time(press == HeldPress(gesture) ? people.hold_ms : people.tap_ms);
    series.presses.push_back({down, at});
  }
  return series;
}

}  // namespace

const char* GestureName(Gesture gesture) { return kGestureNames[static_cast<int>(gesture)]; }

bool GestureFromName(std::string_view name, Gesture* gesture) {
  for (Gesture g : kGestures) {
    if (name == GestureName(g)) {
      *gesture = g;
      return true;
    }
  }
  return false;
}

int PopulationFromName(std::string_view name) {
  for (int i = 0; i < kPopulationCount; ++i)
    if (name == kPopulations[i].name) return i;
  return -1;
}

TimeSource::TimeSource(uint64_t seed) : engine_(seed) {}

double TimeSource::Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

double TimeSource::Normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  // 1 - Uniform() is in (0, 1]: its logarithm is finite.
  const double radius = std::sqrt(-2.0 * std::log(1.0 - Uniform()));
  const double angle = 2.0 * std::numbers::pi * Uniform();
  spare_ = radius * std::sin(angle);
  has_spare_ = true;
  return radius * std::cos(angle);
}

uint64_t TimeSource::Time(double median_ms) {
  const double drawn = median_ms * std::exp(kSpread * Normal());
  const double kept = std::clamp(drawn, kMinTimeMs, std::max(kMinTimeMs, kMaxFactor * median_ms));
  return static_cast<uint64_t>(std::llround(kept));
}

uint64_t TimeSource::Below(uint64_t bound) {
  // Rejection keeps every value equally likely.
  const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
  uint64_t x = engine_();
  while (x >= limit) x = engine_();
  return x % bound;
}

std::vector<PlannedSeries> PlanCell(int population, Gesture gesture, int n, uint64_t seed) {
  TimeSource source(CellSeed(seed, population, gesture));
  std::vector<PlannedSeries> cell;
  for (int i = 0; i < n; ++i) cell.push_back(Draw(source, population, gesture, i));
  return cell;
}

std::vector<PlannedSeries> Plan(int n, uint64_t seed) {
  std::vector<PlannedSeries> all;
  for (int population = 0; population < kPopulationCount; ++population) {
    for (Gesture gesture : kGestures) {
      std::vector<PlannedSeries> cell = PlanCell(population, gesture, n, seed);
      all.insert(all.end(), cell.begin(), cell.end());
    }
  }
  TimeSource order(Mix(seed ^ 0x6F72646572ULL));  // its own stream: "order"
  for (size_t i = all.size(); i > 1; --i) std::swap(all[i - 1], all[order.Below(i)]);
  return all;
}

}  // namespace accuracy
