// What one press costs at its cheapest: a whole TapdeckX process on the
// at-once path (only the single press assigned, "<Page Up>") against a bare
// process start, timed in pairs in one run so that both see the same load;
// then where the press's time goes, each part timed in this process.
//
// usage: press_cost [PAIRS] [BIN_DIR]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "launcher/dispatch.h"
#include "launcher/press_classifier.h"
#include "platform/host/device/device.h"
#include "platform/platform.h"
#include "shared/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string bin_dir = QK_BIN_DIR;
std::string device_dir;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Starts a program, waits for it and gives its wall time in milliseconds,
// or -1 when it did not end with `status`; its page faults go to *faults.
double TimedRun(std::vector<std::string> args, int expected = 0, std::vector<double>* faults = nullptr) {
  double ms = -1;
  long taken = 0;
  const bool ended = bench::RunProgram(std::move(args), "/dev/null", true, &ms, &taken) == expected;
  if (ended && faults != nullptr) faults->push_back(static_cast<double>(taken));
  return ended ? ms : -1;
}

void PrintRow(const char* what, const std::vector<double>& ms) {
  std::printf("  %-52s %8.3f %8.3f\n", what, bench::Median(ms), bench::Percentile(ms, 0.95));
}

bool Sim(std::vector<std::string> args) {
  args.insert(args.begin(), {bin_dir + "/devicesim", "--device", device_dir});
  return TimedRun(args) >= 0;
}

// A process that keeps the device open, as the shell does, until `*release`
// is closed; its pid, or -1.
pid_t StartHolder(int* release) {
  int ends[2];
  if (pipe(ends) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[1]);
    device::SetFolder(device_dir);
    if (!device::Open()) _exit(1);
    char byte;
    while (read(ends[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(ends[0]);
  if (pid < 0) {
    close(ends[1]);
    return -1;
  }
  *release = ends[1];
  return pid;
}

// Each step of a press, timed alone, `rounds` times over, while another
// process holds the device open as the shell does.
void Breakdown(int rounds) {
  device::SetFolder(device_dir);  // nothing of this process's connection goes into the holder
  int release = -1;
  const pid_t holder = StartHolder(&release);
  if (holder < 0) {
    std::fprintf(stderr, "press_cost: cannot start the process that holds the device\n");
    std::exit(1);
  }
  DeviceStartUp();
  std::vector<double> open, reads, dispatch_read, journal, dispatch, close, whole;
  for (int i = 0; i < rounds; ++i) {
    Clock::time_point t = Clock::now();
    if (!device::Open()) {
      std::fprintf(stderr, "press_cost: cannot open the device\n");
      std::exit(1);
    }
    open.push_back(MsSince(t));

    t = Clock::now();
    uint32_t n = GetState(0);
    std::u16string slots = GetShortcut(0, 1, true) + GetShortcut(0, 2, false) + GetShortcut(0, 2, true);
    reads.push_back(MsSince(t));
    if (n != 0 || !slots.empty()) {
      std::fprintf(stderr, "press_cost: the button is not on the at-once path\n");
      std::exit(1);
    }

    t = Clock::now();
    std::u16string assignment = GetShortcut(0, 1, false);
    dispatch_read.push_back(MsSince(t));

    t = Clock::now();
    plat::KeybdEvent(33, 0, plat::kKeyEventSilent, 0);
    plat::KeybdEvent(33, 0, plat::kKeyEventKeyUp | plat::kKeyEventSilent, 0);
    journal.push_back(MsSince(t));

    t = Clock::now();
    DispatchPressSlot(0, 1, false);
    dispatch.push_back(MsSince(t));

    t = Clock::now();
    device::SetFolder(device_dir);  // the connection closes as at a process's end
    close.push_back(MsSince(t));

    t = Clock::now();
    ClassifyPress(0);
    device::SetFolder(device_dir);
    whole.push_back(MsSince(t));
  }
  DeviceShutDown();
  ::close(release);
  int status = 0;
  if (waitpid(holder, &status, 0) != holder || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "press_cost: the process that held the device failed\n");
    std::exit(1);
  }
  std::printf("where the time goes, in this process, the device held open (%d rounds; ms: median, p95)\n",
              rounds);
  PrintRow("open the device (first read)", open);
  PrintRow("classification reads (counter, three slots)", reads);
  PrintRow("one assignment read", dispatch_read);
  PrintRow("key events: down and up, each with its journal line", journal);
  PrintRow("dispatch (read, key events, closing report)", dispatch);
  PrintRow("close the device", close);
  PrintRow("a whole press without the process (open to close)", whole);
}

// Whole processes in pairs: the launcher on the at-once path against a bare
// process start, each pair in turn order so that neither side always runs
// warmer; and the launcher's own start and end, where it finds no device.
bool Pairs(const char* how, int pairs, const std::string& launcher) {
  std::vector<double> press, bare, linked, ratio;
  // A first touch of a page is what a fresh process pays most for on some
  // machines: the counts tell one machine's figures from another's.
  std::vector<double> press_faults, bare_faults, linked_faults;
  for (int i = 0; i < pairs; ++i) {
    double p = 0, b = 0;
    if (i % 2 == 0) {
      p = TimedRun({launcher, "0"}, 0, &press_faults);
      b = TimedRun({"/bin/true"}, 0, &bare_faults);
    } else {
      b = TimedRun({"/bin/true"}, 0, &bare_faults);
      p = TimedRun({launcher, "0"}, 0, &press_faults);
    }
    setenv("QUADRAKEY_DEVICE", (device_dir + "/none").c_str(), 1);
    const double l = TimedRun({launcher, "0"}, 1, &linked_faults);
    setenv("QUADRAKEY_DEVICE", device_dir.c_str(), 1);
    if (p < 0 || b < 0 || l < 0) {
      std::fprintf(stderr, "press_cost: a run failed\n");
      return false;
    }
    press.push_back(p);
    bare.push_back(b);
    linked.push_back(l);
    ratio.push_back(p / b);
  }
  std::printf("whole processes %s, %d pairs (ms: median, p95)\n", how, pairs);
  PrintRow("TapdeckX 0 (at once: \"<Page Up>\")", press);
  PrintRow("/bin/true (bare process start)", bare);
  PrintRow("TapdeckX with no device: its start and end alone", linked);
  std::printf("  page faults (median): TapdeckX %.0f, /bin/true %.0f, TapdeckX with no device %.0f\n",
              bench::Median(press_faults), bench::Median(bare_faults), bench::Median(linked_faults));
  std::printf("  ratio TapdeckX / bare start: median of pairs %.2f, of medians %.2f\n\n", bench::Median(ratio),
              bench::Median(press) / bench::Median(bare));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int pairs = argc > 1 ? std::atoi(argv[1]) : 200;
  if (pairs < 1) pairs = 1;
  if (argc > 2) bin_dir = argv[2];
  device_dir = bench::MakeTempFolder("qkbench");
  if (device_dir.empty()) return 1;
  setenv("QUADRAKEY_DEVICE", device_dir.c_str(), 1);

  const std::string key = "HKLM\\Software\\Quadrakey";
  if (!Sim({"init"}) || !Sim({"reg", "set", key, "ButtonA", "--sz", "<Page Up>"}) || !Sim({"install", bin_dir})) {
    std::fprintf(stderr, "press_cost: cannot make the bench device\n");
    return 1;
  }
  // The copy installed on the device, which the shell starts: the linker's
  // own output file runs measurably slower on some machines (same bytes,
  // another page-cache layout), and no device ever runs it.
  device::SetFolder(device_dir);
  const std::string launcher = device::HostPath(u"\\Program Files\\Quadrakey\\TapdeckX.exe");
  std::printf("TapdeckX as installed on the bench device: %s\n\n", launcher.c_str());

  // As the shell starts it: devicesim has the device open while the press
  // runs, so the launcher finds the registry's log already read.
  if (!device::Open()) {
    std::fprintf(stderr, "press_cost: cannot open the bench device\n");
    return 1;
  }
  if (!Pairs("as the shell starts it (the device held open by the shell)", pairs, launcher)) return 1;
  // Alone, the first program to open the device reads the registry's log.
  device::SetFolder(device_dir);  // closes this process's connection
  if (!Pairs("alone (no other program has the device open)", pairs / 2 > 0 ? pairs / 2 : 1, launcher)) return 1;
  std::vector<device::JournalEntry> entries = device::ReadJournal(0);
  const long keys = std::count_if(entries.begin(), entries.end(),
                                  [](const device::JournalEntry& e) { return e.event == "key"; });
  if (keys != 2L * (pairs + (pairs / 2 > 0 ? pairs / 2 : 1))) {
    std::fprintf(stderr, "press_cost: %ld key events journalled for the presses\n", keys);
    return 1;
  }

  Breakdown(pairs < 50 ? 50 : pairs);
  std::error_code ignored;
  std::filesystem::remove_all(device_dir, ignored);
  return 0;
}
