// devicesim press / series: hardware button presses through the device's
// shell, timed against absolute deadlines, with every started program waited
// for.
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "devicesim/cli/commands.h"
#include "devicesim/shell/press.h"
#include "devicesim/cli/report.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kPressHelp[] =
    "usage: devicesim press KEY [--hold MS] [--json] [--timeout MS]\n"
    "\n"
    "Presses a hardware button or any other key: a series of one press held for\n"
    "--hold milliseconds (default 80). See 'devicesim series --help'.\n";

const char kSeriesHelp[] =
    "usage: devicesim series KEY D1 [G1 D2 [G2 D3 ...]] [--json] [--timeout MS]\n"
    "\n"
    "Presses a key several times. KEY is a hardware button's entry in the shell's\n"
    "button table (HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys), such as 40C1, in any\n"
    "letter case (its last two hex digits are the button's virtual key); or any\n"
    "virtual key by its code (0x75 or 117) or by its name (\"Volume Up\", side-key,\n"
    "F6: the device's keys as 'devicesim state' lists them, and the standard\n"
    "names). D1, D2, ... are how long each press keeps the key down and G1, G2,\n"
    "... the gaps between presses, in milliseconds, timed from the first key down.\n"
    "\n"
    "Each press: the key goes down and goes to the program holding a hot key for\n"
    "it, else to the shell, which runs the button table entry's command (its\n"
    "default value, or \"ResetCmd\" when that is empty), else to the program of\n"
    "the foreground window; the key goes up after D. Then devicesim waits for\n"
    "every program the series started, their children included, and for what\n"
    "the hot keys' programs started, and prints the journal entries made\n"
    "meanwhile with their time in milliseconds since the first key down.\n"
    "\n"
    "  --json        print the entries as 'journal --json' does, \"t\" relative\n"
    "  --timeout MS  how long to wait for the started programs (default 15000);\n"
    "                programs still running then are named and stopped\n"
    "\n"
    "Exit status: 0 done; 1 no such button, the shell could not run the command,\n"
    "or a program hung; 2 usage error; 130 interrupted (the key is released).\n";

constexpr long long kMaxDuration = 600000;
constexpr long long kDefaultHold = 80;
constexpr long long kDefaultTimeout = 15000;
// Later than this and the key's timing no longer is what was asked for.
constexpr int64_t kLateNoticeMs = 10;

int RunPress(const Args& args);
int RunSeries(const Args& args);

}  // namespace

const Command kPressCommand = {"press", "press a hardware button once", kPressHelp, RunPress};
const Command kSeriesCommand = {"series", "press a hardware button in a timed series", kSeriesHelp,
                                RunSeries};

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

timespec Monotonic() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec AddMs(timespec base, int64_t ms) {
  int64_t nanos = base.tv_nsec + (ms % 1000) * 1000000;
  base.tv_sec += static_cast<time_t>(ms / 1000 + nanos / 1000000000);
  base.tv_nsec = static_cast<long>(nanos % 1000000000);
  return base;
}

int64_t MsBetween(const timespec& from, const timespec& to) {
  return (static_cast<int64_t>(to.tv_sec) - from.tv_sec) * 1000 + (to.tv_nsec - from.tv_nsec) / 1000000;
}

// False when a signal asked devicesim to stop.
bool SleepUntil(const timespec& deadline) {
  while (!g_interrupted) {
    int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    if (result == 0) return !g_interrupted;
    if (result != EINTR) return !g_interrupted;
  }
  return false;
}

// Every living process below this one, found through /proc.
std::map<int, std::string> Descendants() {
  std::map<int, int> parent_of;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return {};
  while (dirent* item = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(item->d_name, &end, 10);
    if (end == item->d_name || *end != '\0') continue;
    std::ifstream stat(std::string("/proc/") + item->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    int parent = 0;
    rest >> state >> parent;
    if (state != "Z") parent_of[static_cast<int>(pid)] = parent;
  }
  closedir(proc);
  std::map<int, std::string> found;
  bool grew = true;
  int self = static_cast<int>(getpid());
  while (grew) {
    grew = false;
    for (const auto& [pid, parent] : parent_of) {
      if (found.count(pid) == 0 && (parent == self || found.count(parent) != 0)) {
        std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        std::string command((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (char& c : command) c = c == '\0' ? ' ' : c;
        while (!command.empty() && command.back() == ' ') command.pop_back();
        found[pid] = command;
        grew = true;
      }
    }
  }
  return found;
}

void ReapAvailable() {
  int status = 0;
  while (waitpid(-1, &status, WNOHANG) > 0) {
  }
}

// Waits until this process has no child left: the programs it started and,
// as a subreaper, their orphaned children. False (with the culprits named
// and stopped) when they outlive the time limit or devicesim is interrupted.
bool WaitForStartedPrograms(const Command& self, int64_t limit_ms) {
  timespec deadline = AddMs(Monotonic(), limit_ms);
  timespec pause{0, 5 * 1000000};
  while (true) {
    int status = 0;
    pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid > 0) continue;
    if (pid < 0 && errno == ECHILD) return true;
    if (g_interrupted || MsBetween(Monotonic(), deadline) <= 0) break;
    nanosleep(&pause, nullptr);
  }
  std::map<int, std::string> running = Descendants();
  std::string names;
  for (const auto& [pid, command] : running) {
    names += "\n  pid " + std::to_string(pid) + ": " + command;
  }
  if (g_interrupted) {
    std::fprintf(stderr, "devicesim %s: interrupted; stopping the programs still running:%s\n",
                 self.name, names.c_str());
  } else {
    std::fprintf(stderr, "devicesim %s: still running after %lld ms, now stopped:%s\n", self.name,
                 static_cast<long long>(limit_ms), names.c_str());
  }
  for (const auto& entry : running) kill(entry.first, SIGTERM);
  timespec grace = AddMs(Monotonic(), 500);
  while (MsBetween(Monotonic(), grace) > 0 && !Descendants().empty()) {
    ReapAvailable();
    nanosleep(&pause, nullptr);
  }
  for (const auto& entry : Descendants()) kill(entry.first, SIGKILL);
  while (waitpid(-1, nullptr, 0) > 0) {
  }
  return false;
}

std::string ProgramOfPid(int64_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(file, name);
  return name.empty() ? "?" : name;
}

// The programs started by `starters` (and, in turn, by those) according to
// the journal after `*seen`, added to `started`; false when the journal
// cannot be read.
bool FindStarts(std::set<int64_t>* starters, std::map<int64_t, std::string>* started, int64_t* seen) {
  std::vector<device::JournalEntry> entries;
  if (!device::ReadJournal(*seen, &entries)) return false;
  for (const device::JournalEntry& entry : entries) {
    *seen = entry.id;
    if (entry.event != "start" || starters->count(entry.pid) == 0) continue;
    nlohmann::json fields = nlohmann::json::parse("{" + entry.fields + "}", nullptr, false);
    if (!fields.is_object() || !fields.contains("child") || !fields["child"].is_number_integer()) continue;
    const int64_t child = fields["child"].get<int64_t>();
    starters->insert(child);
    (*started)[child] = fields.value("program", std::string("?"));
  }
  return true;
}

// Waits for the work of the hot keys the series sent: each owner has taken
// them (its queue is empty again), then every program the owners started,
// and what those started in turn, has ended. They are not devicesim's
// children, so the journal names them. False, with the culprits named (and
// stopped), past `limit_ms` or when interrupted.
bool WaitForHotKeyWork(const Command& self, const std::set<int64_t>& owners, int64_t after_id, int64_t limit_ms,
                       std::vector<std::string>* problems) {
  const timespec deadline = AddMs(Monotonic(), limit_ms);
  for (int64_t owner : owners) {
    const int64_t left = std::max<int64_t>(MsBetween(Monotonic(), deadline), 1);
    // An owner that ended meanwhile has nothing left to take.
    if (!device::WaitForInputIdle(owner, static_cast<int>(left)) && plat::GetLastError() != plat::kErrorInvalidWindowHandle)
      problems->push_back("pid " + std::to_string(owner) + " (" + ProgramOfPid(owner) +
                          ") did not take its hot key within " + std::to_string(limit_ms) + " ms");
  }
  std::set<int64_t> starters(owners.begin(), owners.end());
  std::map<int64_t, std::string> started;
  int64_t seen = after_id;
  const timespec pause{0, 5 * 1000000};
  for (;;) {
    // Those seen running first, the journal after: a program that ended in
    // between has journalled every start it made.
    std::map<int64_t, std::string> running;
    for (const auto& [pid, program] : started)
      if (device::ProcessStartTime(pid) >= 0) running[pid] = program;
    const size_t known = started.size();
    if (!FindStarts(&starters, &started, &seen)) {
      problems->push_back("cannot read the journal: " + device::ErrorText(plat::GetLastError()));
      return false;
    }
    if (running.empty() && started.size() == known) return true;
    if (g_interrupted || MsBetween(Monotonic(), deadline) <= 0) {
      std::string names;
      for (const auto& [pid, program] : running) {
        names += "\n  pid " + std::to_string(pid) + ": " + program;
        kill(static_cast<pid_t>(pid), SIGTERM);
      }
      std::fprintf(stderr, "devicesim %s: %s; stopping what the hot keys started:%s\n", self.name,
                   g_interrupted ? "interrupted" : ("still running after " + std::to_string(limit_ms) + " ms").c_str(),
                   names.c_str());
      return false;
    }
    nanosleep(&pause, nullptr);
  }
}

struct Options {
  std::vector<int64_t> holds;  // D1, D2, ...
  std::vector<int64_t> gaps;   // G1, G2, ...
  bool json = false;
  int64_t timeout_ms = kDefaultTimeout;
};

int RunSeriesOf(const Command& self, const std::string& name, const Options& options) {
  if (!RequireDevice(self)) return kExitFailure;
  HardwareButton button;
  std::string error;
  if (FindHardwareButton(name, &button, &error) != FindButtonResult::kFound) return Failure(self, error);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // Programs the pressed command starts may start others and end first;
  // their orphans must come back to us to be waited for.
  if (prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0)
    std::fprintf(stderr, "devicesim %s: cannot become a subreaper; grandchildren are not waited for\n",
                 self.name);

  if (!options.json) {
    if (button.entry.empty()) {
      std::printf("%s %s (key 0x%02X): not in the button table\n", self.name, device::ToUtf8(button.key_name).c_str(),
                  button.virtual_key);
    } else {
      std::printf("%s %s (key 0x%02X): %s\n", self.name, device::ToUtf8(button.entry).c_str(), button.virtual_key,
                  button.command.empty() ? "no command" : device::ToUtf8(button.command).c_str());
    }
    std::fflush(stdout);
  }
  int64_t before = 0;
  if (!device::LastJournalId(&before)) return DeviceFailure(self, "cannot read the journal");
  std::vector<std::string> problems;
  std::set<int64_t> hot_key_owners;
  timespec down_at{};
  bool interrupted = false;
  for (size_t press = 0; press < options.holds.size(); ++press) {
    if (press > 0) {
      down_at = AddMs(down_at, options.holds[press - 1] + options.gaps[press - 1]);
      if (!SleepUntil(down_at)) {
        interrupted = true;
        break;
      }
    }
    int64_t late = press == 0 ? 0 : MsBetween(down_at, Monotonic());
    if (late > kLateNoticeMs)
      problems.push_back("press " + std::to_string(press + 1) + " came " + std::to_string(late) + " ms late");
    {
      std::string problem;
      if (!KeyGoesDown(button, &problem)) problems.push_back("press " + std::to_string(press + 1) + ": " + problem);
    }
    // The series is timed from the first key down as the journal stamped
    // it, so no later entry can show earlier than asked for.
    if (press == 0) down_at = Monotonic();
    std::string problem;
    KeyTaker taker;
    if (!RunButtonCommand(button, &problem, &taker))
      problems.push_back("press " + std::to_string(press + 1) + ": " + problem);
    if (taker.kind == KeyTaker::Kind::kHotKey) hot_key_owners.insert(taker.pid);
    timespec up_at = AddMs(down_at, options.holds[press]);
    bool slept = SleepUntil(up_at);
    late = MsBetween(up_at, Monotonic());
    // The key must never stay down, whatever happened.
    {
      std::string problem;
      if (!ButtonUp(button, &problem)) problems.push_back("press " + std::to_string(press + 1) + ": " + problem);
    }
    if (!slept) {
      interrupted = true;
      break;
    }
    if (late > kLateNoticeMs)
      problems.push_back("key up of press " + std::to_string(press + 1) + " came " +
                         std::to_string(late) + " ms late (starting the command took longer)");
  }
  bool all_ended = WaitForStartedPrograms(self, options.timeout_ms);
  if (!hot_key_owners.empty() && !interrupted)
    all_ended = WaitForHotKeyWork(self, hot_key_owners, before, options.timeout_ms, &problems) && all_ended;

  std::vector<device::JournalEntry> entries;
  if (!device::ReadJournal(before, &entries)) {
    problems.push_back("cannot read the journal: " + device::ErrorText(plat::GetLastError()));
    entries.clear();
  }
  int64_t origin = entries.empty() ? device::NowMs() : entries.front().t_ms;
  for (const device::JournalEntry& entry : entries) {
    if (entry.event == "button" && entry.pid == static_cast<int64_t>(getpid())) {
      origin = entry.t_ms;
      break;
    }
  }
  std::string out;
  for (const device::JournalEntry& entry : entries) {
    out += (options.json ? FormatEntryJson(entry, origin) : FormatEntryText(entry, true, origin)) + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  bool failed = false;
  for (const std::string& problem : problems) {
    bool only_late = problem.find(" late") != std::string::npos;
    std::fprintf(stderr, "devicesim %s: %s\n", self.name, problem.c_str());
    failed = failed || !only_late;
  }
  if (interrupted || g_interrupted) return 130;
  if (!all_ended || failed) return kExitFailure;
  return kExitOk;
}

bool ParseMs(const std::string& text, long long max, int64_t* value) {
  long long parsed = 0;
  if (!ParseNumber(text, 0, max, &parsed)) return false;
  *value = parsed;
  return true;
}

int ParseCommon(const Command& self, const ParsedArgs& parsed, Options* options) {
  options->json = parsed.Has("--json");
  if (parsed.Has("--timeout") && (!ParseMs(parsed.Value("--timeout"), 3600000, &options->timeout_ms) ||
                                  options->timeout_ms == 0))
    return UsageError(self, "--timeout takes milliseconds from 1 to 3600000");
  return -1;
}

int RunPress(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kPressCommand, args,
                                {{"--hold", true}, {"--json", false}, {"--timeout", true}}, &parsed);
  if (status >= 0) return status;
  if (parsed.positional.size() != 1) return UsageError(kPressCommand, "press takes one KEY");
  Options options;
  if ((status = ParseCommon(kPressCommand, parsed, &options)) >= 0) return status;
  int64_t hold = kDefaultHold;
  if (parsed.Has("--hold") && !ParseMs(parsed.Value("--hold"), kMaxDuration, &hold))
    return UsageError(kPressCommand, "--hold takes milliseconds from 0 to 600000");
  options.holds.push_back(hold);
  return RunSeriesOf(kPressCommand, parsed.positional[0], options);
}

int RunSeries(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kSeriesCommand, args, {{"--json", false}, {"--timeout", true}}, &parsed);
  if (status >= 0) return status;
  if (parsed.positional.size() < 2)
    return UsageError(kSeriesCommand, "series takes KEY and at least one press duration");
  if (parsed.positional.size() % 2 != 0)
    return UsageError(kSeriesCommand, "durations and gaps alternate: D1 [G1 D2 [G2 D3 ...]]");
  Options options;
  if ((status = ParseCommon(kSeriesCommand, parsed, &options)) >= 0) return status;
  for (size_t i = 1; i < parsed.positional.size(); ++i) {
    int64_t ms = 0;
    if (!ParseMs(parsed.positional[i], kMaxDuration, &ms))
      return UsageError(kSeriesCommand, "'" + parsed.positional[i] +
                                            "' is not a number of milliseconds from 0 to 600000");
    (i % 2 == 1 ? options.holds : options.gaps).push_back(ms);
  }
  return RunSeriesOf(kSeriesCommand, parsed.positional[0], options);
}

}  // namespace
}  // namespace devicesim
