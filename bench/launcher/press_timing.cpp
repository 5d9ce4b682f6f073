// Times, over repeated series of real presses on the emulated device, how
// long after its key down the acting launcher dispatches, against the
// nominal delay of each path (0 for the at-once paths, the hold or the
// double-press interval for the timed ones).
//
// usage: press_timing [REPETITIONS] [BIN_DIR]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"

namespace {

constexpr int kHold = 200;
constexpr int kDouble = 250;

std::string bin_dir = QK_BIN_DIR;
std::string device_dir;

// Runs devicesim with an argument vector; its standard output, or "" with
// a message when it failed.
std::string Sim(std::vector<std::string> args) {
  args.insert(args.begin(), {bin_dir + "/devicesim", "--device", device_dir});
  const std::string out_path = device_dir + ".out";
  const int status = bench::RunProgram(args, out_path.c_str());
  std::ifstream file(out_path);
  std::stringstream text;
  text << file.rdbuf();
  std::remove(out_path.c_str());
  if (status != 0) {
    std::fprintf(stderr, "devicesim %s failed\n", args[3].c_str());
    return "";
  }
  return text.str();
}

void Set(const std::string& name, const std::string& text) {
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey", name, "--sz", text});
}

// An empty assignment is an unassigned slot.
void Clear(const std::string& name) { Set(name, ""); }

long long Member(const std::string& line, const std::string& name) {
  size_t at = line.find("\"" + name + "\":");
  return at == std::string::npos ? -1 : std::atoll(line.c_str() + at + name.size() + 3);
}

// Milliseconds from the acting press's key down to the first key event
// of the dispatch, or -1.
long long DispatchDelay(const std::string& output, int acting_press) {
  std::istringstream lines(output);
  std::string line;
  int presses = 0;
  long long down_at = -1;
  while (std::getline(lines, line)) {
    if (line.find("\"event\":\"button\"") != std::string::npos &&
        line.find("\"down\":true") != std::string::npos && ++presses == acting_press)
      down_at = Member(line, "t");
    if (line.find("\"event\":\"key\"") != std::string::npos && down_at >= 0)
      return Member(line, "t") - down_at;
  }
  return -1;
}

struct Path {
  const char* name;
  bool all_assigned;  // else only the slots the path needs
  std::vector<std::string> durations;
  int acting_press;
  int nominal;
};

long long Percentile(std::vector<long long> values, double fraction) {
  std::sort(values.begin(), values.end());
  size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = argc > 1 ? std::atoi(argv[1]) : 10;
  if (repetitions < 1) repetitions = 1;
  if (argc > 2) bin_dir = argv[2];
  device_dir = bench::MakeTempFolder("qkbench");
  if (device_dir.empty()) return 1;

  Sim({"init"});
  Sim({"install", bin_dir});
  Sim({"shortcut", "\\Program Files\\Quadrakey\\TapdeckB.lnk", "\"\\Program Files\\Quadrakey\\TapdeckX.exe\" 1"});
  Sim({"reg", "set", "HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C2", "@", "--sz",
       "\"\\Program Files\\Quadrakey\\TapdeckB.lnk\""});
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey", "VirtualKeyB", "--dword", "194"});
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey", "HoldInterval", "--dword", std::to_string(kHold)});
  Sim({"reg", "set", "HKLM\\Software\\Quadrakey", "DblClickInterval", "--dword", std::to_string(kDouble)});

  const Path paths[] = {
      {"single, nothing else assigned (at once)", false, {"50"}, 1, 0},
      {"single, held (h)", true, {"600"}, 1, kHold},
      {"single, released (max(h,d))", true, {"50"}, 1, kDouble},
      {"double, no double-hold (at once)", false, {"50", "80", "50"}, 2, 0},
      {"double, held (h)", true, {"50", "80", "600"}, 2, kHold},
      {"double, released (max(h,d))", true, {"50", "80", "50"}, 2, kDouble},
      {"triple (at once)", true, {"50", "80", "50", "80", "50"}, 3, 0},
  };
  std::printf("hold %d ms, double press %d ms, %d series per path\n", kHold, kDouble, repetitions);
  std::printf("%-42s %10s %10s %10s\n", "path", "median", "p95", "max");
  for (const Path& path : paths) {
    Set("ButtonB", "<Page Up>");
    Set("ButtonB2", "<Scroll Up>");
    if (path.all_assigned) {
      Set("ButtonBh", "<Page Down>");
      Set("ButtonB2h", "<Scroll Down>");
    } else {
      Clear("ButtonBh");
      Clear("ButtonB2h");
      if (path.acting_press == 1) Clear("ButtonB2");
    }
    std::vector<long long> late;
    for (int i = 0; i < repetitions; ++i) {
      std::vector<std::string> args = {"series", "40C2"};
      args.insert(args.end(), path.durations.begin(), path.durations.end());
      args.push_back("--json");
      long long delay = DispatchDelay(Sim(args), path.acting_press);
      if (delay >= 0) late.push_back(delay - path.nominal);
    }
    if (late.empty()) {
      std::printf("%-42s no dispatch seen\n", path.name);
      continue;
    }
    std::printf("%-42s %7lld ms %7lld ms %7lld ms\n", path.name, Percentile(late, 0.5),
                Percentile(late, 0.95), *std::max_element(late.begin(), late.end()));
  }
  std::printf("(figures: dispatch time after the acting key down, minus the nominal delay)\n");
  std::error_code ignored;
  std::filesystem::remove_all(device_dir, ignored);
  return 0;
}
