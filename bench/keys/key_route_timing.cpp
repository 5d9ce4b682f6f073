// Times key down to "TapdeckX started" on the emulated device, by the two
// routes a press takes: the shell's (a taken-over hardware button: its table
// entry's command, the takeover shortcut) and the key listener's (a
// user-defined button: a hot key to TapdeckH, which starts TapdeckX). Both
// in the same run, alternating, with a stand-in TapdeckX that reports the
// moment it starts.
//
// usage: key_route_timing [REPETITIONS] [BIN_DIR]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "devicesim/shell/press.h"
#include "platform/host/device/device.h"
#include "platform/platform.h"

namespace {

std::string bin_dir = QK_BIN_DIR;

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool Sim(const std::string& device, std::vector<std::string> args) {
  args.insert(args.begin(), {bin_dir + "/devicesim", "--device", device});
  if (bench::RunProgram(args) == 0) return true;
  std::fprintf(stderr, "devicesim %s failed\n", args[3].c_str());
  return false;
}

// The stand-in's report: its start time, or -1 after five seconds.
int64_t AwaitMark(int fifo) {
  std::string line;
  char c = 0;
  while (true) {
    pollfd ready{fifo, POLLIN, 0};
    if (poll(&ready, 1, 5000) <= 0) return -1;
    if (read(fifo, &c, 1) != 1) return -1;
    if (c == '\n') break;
    line += c;
  }
  return std::atoll(line.c_str());
}

// One press: key down to the stand-in's start, in milliseconds; -1 when it
// never started.
double Press(const devicesim::HardwareButton& button, int fifo) {
  std::string problem;
  const int64_t down = NowNs();
  if (!devicesim::KeyGoesDown(button, &problem) || !devicesim::RunButtonCommand(button, &problem)) {
    std::fprintf(stderr, "press: %s\n", problem.c_str());
    return -1;
  }
  const int64_t started = AwaitMark(fifo);
  devicesim::ButtonUp(button, &problem);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  return started < 0 ? -1 : static_cast<double>(started - down) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = argc > 1 ? std::atoi(argv[1]) : 200;
  if (repetitions < 1) repetitions = 1;
  if (argc > 2) bin_dir = argv[2];
  const std::string device = bench::MakeTempFolder("qkkeys");
  if (device.empty()) return 1;
  const std::string app = "\\Program Files\\Quadrakey\\";
  // A stock device; a taken-over Button 2 (index 1), and the side key as the
  // first user-defined button (page position 5).
  if (!Sim(device, {"init"}) || !Sim(device, {"shortcut", app + "TapdeckB.lnk", "\"" + app + "TapdeckX.exe\" 1"}) ||
      !Sim(device, {"reg", "set", "HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C2", "@", "--sz", "\"" + app + "TapdeckB.lnk\""}) ||
      !Sim(device, {"reg", "set", "HKLM\\Software\\Quadrakey\\Hotkeys", "B0", "--sz", "Side"}) ||
      !Sim(device, {"reg", "set", "HKLM\\Software\\Quadrakey\\Hotkeys", "H0", "--dword", "199"}))
    return 1;
  device::SetFolder(device);
  std::filesystem::copy_file(bin_dir + "/key_route_marker", device::HostPath(u"\\Program Files\\Quadrakey\\TapdeckX.exe"),
                             std::filesystem::copy_options::overwrite_existing);
  const std::string fifo_path = device + "/marks";
  mkfifo(fifo_path.c_str(), 0600);
  setenv("QK_MARK_FIFO", fifo_path.c_str(), 1);
  const int fifo = open(fifo_path.c_str(), O_RDWR | O_NONBLOCK);

  if (!plat::CreateProcess(u"\\Program Files\\Quadrakey\\TapdeckH.exe", u"")) return 1;
  const int listener = device::StartedProcesses().back();
  for (int i = 0; i < 500; ++i) {
    std::vector<device::HotKey> keys;
    if (device::HotKeys(&keys) && !keys.empty()) break;
    plat::Sleep(10);
  }

  devicesim::HardwareButton shell, hot_key;
  std::string error;
  if (devicesim::FindHardwareButton("40C2", &shell, &error) != devicesim::FindButtonResult::kFound ||
      devicesim::FindHardwareButton("side-key", &hot_key, &error) != devicesim::FindButtonResult::kFound) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::vector<double> by_shell, by_listener;
  for (int i = 0; i < repetitions; ++i) {
    // Alternating, so that both routes see the same machine.
    const double a = Press(shell, fifo);
    plat::Sleep(5);
    const double b = Press(hot_key, fifo);
    plat::Sleep(5);
    if (a >= 0) by_shell.push_back(a);
    if (b >= 0) by_listener.push_back(b);
  }
  kill(listener, SIGTERM);
  waitpid(listener, nullptr, 0);
  std::error_code ignored;
  std::filesystem::remove_all(device, ignored);
  if (by_shell.empty() || by_listener.empty()) {
    std::fprintf(stderr, "no stand-in started\n");
    return 1;
  }
  std::printf("key down to TapdeckX started, %d presses each route (ms)\n", repetitions);
  std::printf("%-40s %8s %8s %8s %8s\n", "route", "p10", "median", "p90", "max");
  for (const auto& [name, values] : {std::pair<const char*, std::vector<double>*>{"shell (button table, shortcut)", &by_shell},
                                     {"key listener (hot key, TapdeckH)", &by_listener}})
    std::printf("%-40s %8.2f %8.2f %8.2f %8.2f\n", name, bench::Percentile(*values, 0.1), bench::Percentile(*values, 0.5),
                bench::Percentile(*values, 0.9), *std::max_element(values->begin(), values->end()));
  std::printf("the listener adds %.2f ms to the median\n", bench::Percentile(by_listener, 0.5) - bench::Percentile(by_shell, 0.5));
  return 0;
}
