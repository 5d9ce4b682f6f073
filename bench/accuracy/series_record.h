// The benchmark's raw results: one line per series played (what was planned,
// what was played, what was dispatched), and lines about each run (its
// settings and the machine's load). A run writes them; the table is made
// from them, so a table can always be made again from the file.
//
//   series PATH CONDITION POPULATION GESTURE INDEX planned=0-100,230-330
//          played=0-101,231-330 dispatched=double@731 complete=1
//   run PATH CONDITION key=value ...
//
// (fields separated by tabs; times in ms from the series' first key down)
#pragma once

#include <string>
#include <vector>

#include "bench/accuracy/series_plan.h"
#include "bench/accuracy/series_score.h"

namespace accuracy {

struct SeriesRecord {
  std::string path;       // "host", "wine"
  std::string condition;  // "idle", "load"
  PlannedSeries planned;
  Observed observed;
};

struct RunRecord {
  std::string path;
  std::string condition;
  std::vector<std::pair<std::string, std::string>> values;  // in order
};

std::string FormatSeries(const SeriesRecord& record);
std::string FormatRun(const RunRecord& record);

// One line of a results file. Lines that are neither (blank, or starting
// with '#') are kNone; a malformed one is kBad with the reason in *error.
enum class LineKind { kNone, kSeries, kRun, kBad };
LineKind ParseLine(const std::string& line, SeriesRecord* series, RunRecord* run, std::string* error);

}  // namespace accuracy
