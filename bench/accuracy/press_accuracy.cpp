// The press-accuracy benchmark: plays human-like press series through the
// real programs, idle or beside a CPU load, and scores them against the
// press rule and against what the person meant. bench/accuracy/run.sh runs
// it whole; see the README's "Benchmarks".
//
// usage:
//   press_accuracy run --path host|wine --condition idle|load --out FILE
//                      [-n N] [--seed S] [--busy K]
//                      [--bin DIR]                      (host: devicesim's folder)
//                      [--watch FILE --prefix DIR]      (wine: the watcher's file, the prefix)
//   press_accuracy table FILE...
//   press_accuracy plan [-n N] [--seed S]
//   press_accuracy tune [--seed S] [--seeds K] [--recorded R] [--fresh F]
//                      (the tuner's proposal from R recorded presses of each
//                      kind, read on F fresh series of each gesture; no
//                      programs run: the rule reads them)
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/accuracy/accuracy_table.h"
#include "bench/accuracy/busy_load.h"
#include "bench/accuracy/host_path.h"
#include "bench/accuracy/series_record.h"
#include "bench/accuracy/tuner_proof.h"
#ifdef QK_ACCURACY_WINE_PATH
#include "bench/accuracy/wine_path.h"
#endif

namespace {

using namespace accuracy;

constexpr char kUsage[] =
    "usage: press_accuracy run --path host|wine --condition idle|load --out FILE\n"
    "                          [-n N] [--seed S] [--busy K] [--bin DIR] [--watch FILE --prefix DIR]\n"
    "       press_accuracy table FILE...\n"
    "       press_accuracy plan [-n N] [--seed S]\n"
    "       press_accuracy tune [--seed S] [--seeds K] [--recorded R] [--fresh F]\n";
constexpr int kDefaultN = 20;
constexpr uint64_t kDefaultSeed = 1;
// How long no launcher may run before a series counts as ended, under
// Wine: a launcher can start late, more so beside a load.
constexpr int kQuietIdleMs = 250;
constexpr int kQuietLoadMs = 800;
// A person's pause between two series.
constexpr int64_t kPauseNs = 150 * 1000000LL;
// The load ends by itself at the latest this long per series played.
constexpr unsigned kLoadSecondsPerSeries = 20;

int Usage(const std::string& why) {
  std::fprintf(stderr, "press_accuracy: %s\n%s", why.c_str(), kUsage);
  return 2;
}

// --name VALUE options after the subcommand; false on an unknown or
// incomplete one.
bool ParseOptions(int argc, char** argv, std::map<std::string, std::string>* options, std::string* error) {
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    if (name.rfind("-", 0) != 0 || i + 1 >= argc) {
      *error = "'" + name + "' needs a value, or is no option";
      return false;
    }
    (*options)[name] = argv[++i];
  }
  return true;
}

bool ParseCount(const std::map<std::string, std::string>& options, const std::string& name, long low, long high,
                long* value) {
  const auto found = options.find(name);
  if (found == options.end()) return true;
  char* end = nullptr;
  const long parsed = std::strtol(found->second.c_str(), &end, 10);
  if (end == found->second.c_str() || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + "," + five + "," + fifteen;
}

void OnSignal(int) { AskToStop(); }

int Run(const std::map<std::string, std::string>& options) {
  const auto get = [&](const char* name) {
    const auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
  };
  const std::string path = get("--path"), condition = get("--condition"), out_path = get("--out");
  if (path != "host" && path != "wine") return Usage("--path is host or wine");
  if (condition != "idle" && condition != "load") return Usage("--condition is idle or load");
  if (out_path.empty()) return Usage("--out names the results file");
  long n = kDefaultN, seed = kDefaultSeed;
  long busy = 2 * sysconf(_SC_NPROCESSORS_ONLN);
  if (!ParseCount(options, "-n", 1, 10000, &n)) return Usage("-n takes 1 to 10000 series per gesture");
  if (!ParseCount(options, "--seed", 0, 0x7FFFFFFF, &seed)) return Usage("--seed takes a number");
  if (!ParseCount(options, "--busy", 1, 256, &busy)) return Usage("--busy takes 1 to 256 processes");

  std::unique_ptr<PressPath> press_path;
  std::string error;
  if (path == "host") {
    auto host = std::make_unique<HostPath>();
    if (get("--bin").empty()) return Usage("the host path needs --bin DIR");
    if (!host->Prepare(get("--bin"), &error)) {
      std::fprintf(stderr, "press_accuracy: %s\n", error.c_str());
      return 1;
    }
    press_path = std::move(host);
  } else {
#ifdef QK_ACCURACY_WINE_PATH
    auto wine = std::make_unique<WinePath>();
    if (get("--watch").empty() || get("--prefix").empty()) return Usage("the wine path needs --watch and --prefix");
    if (!wine->Prepare(get("--watch"), get("--prefix"), condition == "load" ? kQuietLoadMs : kQuietIdleMs, &error)) {
      std::fprintf(stderr, "press_accuracy: %s\n", error.c_str());
      return 1;
    }
    press_path = std::move(wine);
#else
    std::fprintf(stderr, "press_accuracy: built without X11 and XTest, so without the wine path\n");
    return 1;
#endif
  }

  std::ofstream out(out_path, std::ios::app);
  if (!out) {
    std::fprintf(stderr, "press_accuracy: cannot write %s\n", out_path.c_str());
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const std::vector<PlannedSeries> plan = Plan(static_cast<int>(n), static_cast<uint64_t>(seed));
  BusyLoad load;
  if (condition == "load" &&
      !load.Start(static_cast<int>(busy), static_cast<unsigned>(plan.size()) * kLoadSecondsPerSeries + 60)) {
    std::fprintf(stderr, "press_accuracy: cannot start the load\n");
    return 1;
  }
  const press_rule::Timing timing = press_path->timing();
  out << FormatRun({path, condition,
                    {{"phase", "start"},
                     {"series", std::to_string(plan.size())},
                     {"seed", std::to_string(seed)},
                     {"hold", std::to_string(timing.hold_ms)},
                     {"double", std::to_string(timing.double_ms)},
                     {"busy", std::to_string(load.running())},
                     {"cores", std::to_string(sysconf(_SC_NPROCESSORS_ONLN))},
                     {"loadavg", LoadAverage()}}})
      << "\n"
      << std::flush;
  int played = 0, failed = 0;
  for (const PlannedSeries& series : plan) {
    if (StopAsked()) break;
    SeriesRecord record{path, condition, series, {}};
    std::string problem;
    if (!press_path->Play(series, &record.observed, &problem)) {
      if (StopAsked()) break;
      ++failed;
      std::fprintf(stderr, "press_accuracy: %s series %s %d: %s\n", kPopulations[series.population].name,
                   GestureName(series.gesture), series.index, problem.c_str());
    }
    out << FormatSeries(record) << "\n" << std::flush;
    ++played;
    if (played % 25 == 0)
      std::fprintf(stderr, "press_accuracy: %s %s: %d of %zu series (load average %s)\n", path.c_str(),
                   condition.c_str(), played, plan.size(), LoadAverage().c_str());
    SleepUntilNs(NowNs() + kPauseNs);
  }
  const std::string loadavg_end = LoadAverage();
  load.Stop();
  std::vector<std::pair<std::string, std::string>> end = {
      {"phase", "end"}, {"played", std::to_string(played)}, {"failed", std::to_string(failed)}, {"loadavg", loadavg_end}};
#ifdef QK_ACCURACY_WINE_PATH
  if (const auto* wine = dynamic_cast<const WinePath*>(press_path.get())) {
    char lateness[64];
    std::snprintf(lateness, sizeof lateness, "%.2f,%.2f", Percentile(wine->send_lateness(), 0.5),
                  Percentile(wine->send_lateness(), 0.99));
    end.push_back({"stray", std::to_string(wine->strays())});
    end.push_back({"key_sent_late_ms_p50_p99", lateness});
    std::snprintf(lateness, sizeof lateness, "%.0f,%.0f,%.0f", Percentile(wine->delivery_lag(), 0.5),
                  Percentile(wine->delivery_lag(), 0.99), Percentile(wine->delivery_lag(), 1.0));
    end.push_back({"key_seen_after_ms_p50_p99_max", lateness});
  }
#endif
  out << FormatRun({path, condition, end}) << "\n";
  return StopAsked() ? 130 : 0;
}

int Table(int argc, char** argv) {
  if (argc < 3) return Usage("table takes results files");
  Results results;
  for (int i = 2; i < argc; ++i) {
    std::string error;
    if (!ReadResults(argv[i], &results, &error)) {
      std::fprintf(stderr, "press_accuracy: %s\n", error.c_str());
      return 1;
    }
  }
  const std::string table = FormatTable(results);
  std::fwrite(table.data(), 1, table.size(), stdout);
  return 0;
}

int PrintPlan(const std::map<std::string, std::string>& options) {
  long n = kDefaultN, seed = kDefaultSeed;
  if (!ParseCount(options, "-n", 1, 10000, &n)) return Usage("-n takes 1 to 10000 series per gesture");
  if (!ParseCount(options, "--seed", 0, 0x7FFFFFFF, &seed)) return Usage("--seed takes a number");
  for (const PlannedSeries& series : Plan(static_cast<int>(n), static_cast<uint64_t>(seed))) {
    SeriesRecord record{"plan", "none", series, {}};
    std::printf("%s\n", FormatSeries(record).c_str());
  }
  return 0;
}

int Tune(const std::map<std::string, std::string>& options) {
  TunerTrialPlan plan;
  long seed = static_cast<long>(plan.first_seed), seeds = plan.seeds, recorded = plan.recorded_per_kind,
       fresh = plan.fresh_per_gesture;
  if (!ParseCount(options, "--seed", 0, 0x7FFFFFFF, &seed)) return Usage("--seed takes a number");
  if (!ParseCount(options, "--seeds", 1, 10000, &seeds)) return Usage("--seeds takes 1 to 10000");
  if (!ParseCount(options, "--recorded", 1, 100, &recorded)) return Usage("--recorded takes 1 to 100 per kind");
  if (!ParseCount(options, "--fresh", 1, 100000, &fresh)) return Usage("--fresh takes 1 to 100000 per gesture");
  plan.first_seed = static_cast<uint64_t>(seed);
  plan.seeds = static_cast<int>(seeds);
  plan.recorded_per_kind = static_cast<int>(recorded);
  plan.fresh_per_gesture = static_cast<int>(fresh);
  const std::string table = FormatTunerTable(RunTunerTrials(plan), plan);
  std::fwrite(table.data(), 1, table.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  if (command == "table") return Table(argc, argv);
  std::map<std::string, std::string> options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) return Usage(error);
  if (command == "run") return Run(options);
  if (command == "plan") return PrintPlan(options);
  if (command == "tune") return Tune(options);
  return Usage("no command '" + command + "'");
}
