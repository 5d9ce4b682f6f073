// What the timing programs share: starting a program with an argument vector
// (never through a shell) and summing up samples.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Starts args[0] with `args`, its standard output to `out_path` (its
// standard error too when `quiet`), and waits for it. Its exit status, or -1
// when it could not start or did not end by itself. `ms`, when given, gets
// the time from its start to its end; `faults` the page faults it took.
int RunProgram(std::vector<std::string> args, const char* out_path = "/dev/null", bool quiet = false,
               double* ms = nullptr, long* faults = nullptr);

// A new private folder under the temporary folder, named STEM.XXXXXX; "" when
// it cannot be made.
std::string MakeTempFolder(const char* stem);

// 0 for no samples.
double Median(std::vector<double> values);
double Percentile(std::vector<double> values, double fraction);

}  // namespace bench
