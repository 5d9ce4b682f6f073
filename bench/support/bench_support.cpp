#include "bench/support/bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

extern char** environ;

namespace bench {

int RunProgram(std::vector<std::string> args, const char* out_path, bool quiet, double* ms, long* faults) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = -1;
  const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  struct rusage usage = {};
  if (started) wait4(pid, &status, 0, &usage);
  if (faults != nullptr) *faults = usage.ru_minflt + usage.ru_majflt;
  if (ms != nullptr) *ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return started && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string MakeTempFolder(const char* stem) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string(stem) + ".XXXXXX")).string();
  return mkdtemp(pattern.data()) == nullptr ? std::string() : pattern;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

}  // namespace bench
