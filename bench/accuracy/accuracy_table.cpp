#include "bench/accuracy/accuracy_table.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <tuple>

namespace accuracy {
namespace {

// Rows in the order a reader expects: paths and conditions as the files
// first name them (idle before load), populations and gestures as planned.
struct Order {
  std::vector<std::string> paths;
  std::vector<std::string> conditions;
  void Note(const std::string& path, const std::string& condition) {
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    if (std::find(conditions.begin(), conditions.end(), condition) == conditions.end()) {
      conditions.push_back(condition);
      std::stable_partition(conditions.begin(), conditions.end(), [](const std::string& c) { return c == "idle"; });
    }
  }
};

uint32_t Number(const RunRecord& run, const std::string& name, uint32_t fallback) {
  for (const auto& [key, value] : run.values) {
    uint32_t parsed = 0;
    const char* end = value.data() + value.size();
    if (key == name && std::from_chars(value.data(), end, parsed).ptr == end) return parsed;
  }
  return fallback;
}

std::string Percent(int part, int whole) {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", whole == 0 ? 0.0 : 100.0 * part / whole);
  return text;
}

std::string Delay(const std::vector<double>& delays, double fraction) {
  if (delays.empty()) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.0f", Percentile(delays, fraction));
  return text;
}

std::string Confusions(const Tally& tally) {
  std::string text;
  if (!tally.rule_confusions.empty()) text += "rule: " + Tally::Main(tally.rule_confusions, 2);
  if (!tally.meaning_confusions.empty())
    text += std::string(text.empty() ? "" : "; ") + "meant: " + Tally::Main(tally.meaning_confusions, 2);
  return text;
}

std::string Row(const std::string& path, const std::string& condition, const std::string& population,
                const std::string& gesture, const Tally& tally) {
  char text[512];
  std::snprintf(text, sizeof text, "%-5s %-9s %-10s %-12s %6d %7s %7s %10s %6s %5s  %s", path.c_str(),
                condition.c_str(), population.c_str(), gesture.c_str(), tally.series,
                Percent(tally.with_rule, tally.series).c_str(), Percent(tally.as_meant, tally.series).c_str(),
                Percent(tally.rule_as_meant, tally.series).c_str(), Delay(tally.delays, 0.5).c_str(),
                Delay(tally.delays, 0.9).c_str(), Confusions(tally).c_str());
  std::string row = text;
  while (!row.empty() && row.back() == ' ') row.pop_back();
  return row + "\n";
}

}  // namespace

bool ReadResults(const std::string& path, Results* results, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    SeriesRecord series;
    RunRecord run;
    std::string why;
    switch (ParseLine(line, &series, &run, &why)) {
      case LineKind::kSeries:
        results->series.push_back(std::move(series));
        break;
      case LineKind::kRun:
        results->runs.push_back(std::move(run));
        break;
      case LineKind::kBad:
        *error = path + ":" + std::to_string(number) + ": " + why;
        return false;
      case LineKind::kNone:
        break;
    }
  }
  return true;
}

std::string FormatTable(const Results& results) {
  Order order;
  std::map<std::pair<std::string, std::string>, press_rule::Timing> timings;
  for (const RunRecord& run : results.runs) {
    order.Note(run.path, run.condition);
    press_rule::Timing& timing = timings[{run.path, run.condition}];
    timing.hold_ms = Number(run, "hold", timing.hold_ms);
    timing.double_ms = Number(run, "double", timing.double_ms);
  }
  using Key = std::tuple<std::string, std::string, int, int>;
  std::map<Key, Tally> cells;
  for (const SeriesRecord& record : results.series) {
    order.Note(record.path, record.condition);
    const press_rule::Timing timing = timings[{record.path, record.condition}];
    const SeriesScore score = ScoreSeries(record.planned.gesture, record.observed, timing);
    cells[{record.path, record.condition, record.planned.population, static_cast<int>(record.planned.gesture)}].Add(
        record.planned.gesture, score, record.observed.complete,
        record.observed.presses.size() == record.planned.presses.size());
  }

  std::string out;
  out += "rule: the slots dispatched are the ones the press rule gives for the key times as played\n";
  out += "meant: one dispatch, of the slot the gesture means; rule=meant: the rule's own reading is that\n";
  out += "delay: ms from the rule's moment for a dispatch to the dispatch, in series that agree with the rule\n\n";
  char header[256];
  std::snprintf(header, sizeof header, "%-5s %-9s %-10s %-12s %6s %7s %7s %10s %6s %5s  %s\n", "path", "condition",
                "population", "gesture", "series", "rule", "meant", "rule=meant", "median", "p90", "main confusions");
  out += header;
  std::vector<std::string> totals;
  for (const std::string& path : order.paths) {
    for (const std::string& condition : order.conditions) {
      Tally total;
      for (int population = 0; population < kPopulationCount; ++population) {
        for (Gesture gesture : kGestures) {
          const auto cell = cells.find({path, condition, population, static_cast<int>(gesture)});
          if (cell == cells.end()) continue;
          out += Row(path, condition, kPopulations[population].name, GestureName(gesture), cell->second);
          total.Add(cell->second);
        }
      }
      if (total.series == 0) continue;
      out += Row(path, condition, "all", "all", total);
      totals.push_back(Row(path, condition, "all", "all", total));
      std::string notes;
      if (total.incomplete > 0) notes += std::to_string(total.incomplete) + " with a key event unseen; ";
      if (total.press_count_off > 0)
        notes += std::to_string(total.press_count_off) + " played with more or fewer presses than planned; ";
      if (!notes.empty()) out += "      (" + notes.substr(0, notes.size() - 2) + ")\n";
      out += "\n";
    }
  }
  if (totals.size() > 1) {
    out += "totals\n";
    for (const std::string& row : totals) out += row;
    out += "\n";
  }
  out += "runs\n";
  for (const RunRecord& run : results.runs) {
    out += "  " + run.path + " " + run.condition + ":";
    for (const auto& [name, value] : run.values) out += " " + name + "=" + value;
    out += "\n";
  }
  return out;
}

}  // namespace accuracy
