// The benchmark's table, made from results files: path x condition x
// population x gesture, each row scored against the rule and against what
// was meant, with the dispatch delay and the main confusions; a total per
// path and condition; and what each run noted about the machine.
#pragma once

#include <string>
#include <vector>

#include "bench/accuracy/series_record.h"

namespace accuracy {

struct Results {
  std::vector<SeriesRecord> series;
  std::vector<RunRecord> runs;
};

// Adds the records of the file at `path`; false with the reason (file and
// line) when it cannot be read or a line is malformed.
bool ReadResults(const std::string& path, Results* results, std::string* error);

std::string FormatTable(const Results& results);

}  // namespace accuracy
