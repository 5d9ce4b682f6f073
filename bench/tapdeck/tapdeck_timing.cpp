// How long a person waits for tapdeck over a Start Menu of 10,000 shortcuts:
// from the start to the first page waiting for input, and for one change of
// the selected button, which reloads the four press combo boxes (10,014 lines
// the first, 10,013 the others).
//
// Through the process: tapdeck started by `devicesim run tapdeck` (the time
// of that whole command), button changes sent over the window system's
// channel as `devicesim ui select 1012 N` sends them (round trip until the
// program waits again), and a few through the devicesim command itself.
// In-process: tapdeck's main run in this process, the person acting from the
// idle hook, so that neither process start nor the channel counts.
//
// usage: tapdeck_timing [RUNS] [BIN_DIR]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "config/tapdeck.h"
#include "devicesim/shell/ui_client.h"
#include "platform/host/device/device.h"
#include "platform/host/ui/window_system.h"
#include "platform/person.h"
#include "shared/debuglog.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kShortcuts = 10000;
constexpr int kFolders = 200;
constexpr int kSpecialLines = 14;  // the special actions, "<Record>" included
constexpr int kButtonLines = 5;  // the stock device's hardware buttons
constexpr int kChangesPerRun = 10;
constexpr int kCommandChangesPerRun = 2;

std::string bin_dir = QK_BIN_DIR;
std::string device_dir;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs devicesim on the bench device, its output thrown away; its exit status.
int Sim(std::vector<std::string> args) {
  args.insert(args.begin(), {bin_dir + "/devicesim", "--device", device_dir});
  return bench::RunProgram(std::move(args));
}

bool IsCatalogued(const std::filesystem::path& path) {
  std::string name = path.filename().string();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name.find(".lnk") != std::string::npos || name.find(".exe") != std::string::npos;
}

// The stock device, with shortcuts added until its Start Menu holds
// kShortcuts in all, in folders one and two levels deep.
bool MakeDevice() {
  if (Sim({"init"}) != 0) return false;
  const std::filesystem::path menu = device::HostPath(u"\\Windows\\Start Menu");
  int present = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(menu); it != std::filesystem::end(it); ++it) {
    if (it->is_directory() && it->path().filename().string().rfind('.', 0) == 0) {
      it.disable_recursion_pending();  // the catalogue skips hidden folders
    } else if (it->is_regular_file() && IsCatalogued(it->path())) {
      ++present;
    }
  }
  for (int i = 0; present + i < kShortcuts; ++i) {
    const int f = i % kFolders;
    std::filesystem::path dir = menu / (f % 2 ? "Programs" : "") / ("Group " + std::to_string(f));
    if (f % 5 == 0) dir /= "Sub";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / ("Program " + std::to_string(i) + ".lnk")) << "21#\\Windows\\calendar.exe";
  }
  return true;
}

struct Samples {
  const char* name;
  std::vector<double> ms;
};

void Report(const Samples& samples) {
  if (samples.ms.empty()) {
    std::printf("%-52s no samples\n", samples.name);
    return;
  }
  std::printf("%-52s %5zu %9.1f %9.1f %9.1f\n", samples.name, samples.ms.size(), bench::Percentile(samples.ms, 0.5),
              bench::Percentile(samples.ms, 0.95), *std::max_element(samples.ms.begin(), samples.ms.end()));
}

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// The running tapdeck's window, once it has one; false when none runs.
device::channel::Request Show() {
  device::channel::Request request;
  request.verb = device::channel::kShowVerb;
  return request;
}

device::channel::Request Person(plat::person::ActionKind kind, int control = 0, int line = -1) {
  device::channel::Request request;
  device::channel::SetAction(plat::person::MakeAction(kind, control, line), &request);
  return request;
}

bool FindTapdeck(device::WindowRecord* program) {
  std::string error;
  return devicesim::ui::FindProgram(0, program, &error);
}

// Sends `request` (the screen when `screen` is given, else nothing back).
bool Send(const device::WindowRecord& program, device::channel::Request request, device::channel::Status expected,
          std::string* screen = nullptr) {
  request.format = screen != nullptr ? device::channel::Format::kJsonBrief : device::channel::Format::kNone;
  devicesim::ui::Outcome outcome = devicesim::ui::Send(program, request, 30000);
  if (outcome.kind != devicesim::ui::Outcome::kReplied || outcome.reply.status != expected) {
    std::fprintf(stderr, "tapdeck_timing: %s: %s%s\n", request.verb.c_str(), outcome.message.c_str(),
                 outcome.reply.message.c_str());
    return false;
  }
  if (screen != nullptr) *screen = outcome.reply.screen;
  return true;
}

// The number of lines of control `id` on the screen (JSON), or -1.
long LineCount(const std::string& screen, int id) {
  const size_t control = screen.find("{\"id\":" + std::to_string(id) + ",");
  const std::string key = "\"lineCount\":";
  const size_t at = control == std::string::npos ? control : screen.find(key, control);
  return at == std::string::npos ? -1 : std::atol(screen.c_str() + at + key.size());
}

// An ended tapdeck leaves the window table a moment after it says so.
bool WaitUntilNoWindow() {
  const Clock::time_point start = Clock::now();
  while (!device::LiveWindows().empty()) {
    if (MsSince(start) > 10000) return false;
    usleep(1000);
  }
  return true;
}

bool ThroughTheProcess(int runs, Samples* start_up, Samples* change, Samples* command, Samples* show) {
  for (int run = 0; run < runs; ++run) {
    if (!WaitUntilNoWindow()) return false;
    const Clock::time_point start = Clock::now();
    if (Sim({"run", "tapdeck"}) != 0) return false;
    start_up->ms.push_back(MsSince(start));

    device::WindowRecord program;
    if (!FindTapdeck(&program)) return false;
    if (run == 0) {
      // The figures mean something only over the whole catalogue.
      std::string screen;
      if (!Send(program, Show(), device::channel::Status::kOk, &screen)) return false;
      if (LineCount(screen, 1013) != kShortcuts + kSpecialLines) {
        std::fprintf(stderr, "tapdeck_timing: the single press offers %ld lines, not %d\n", LineCount(screen, 1013),
                     kShortcuts + kSpecialLines);
        return false;
      }
    }
    for (int k = 1; k <= kChangesPerRun; ++k) {
      const Clock::time_point sent = Clock::now();
      if (!Send(program, Person(plat::person::ActionKind::kSelect, 1012, k % kButtonLines),
                device::channel::Status::kOk))
        return false;
      change->ms.push_back(MsSince(sent));
    }
    for (int k = 1; k <= kCommandChangesPerRun; ++k) {
      const Clock::time_point sent = Clock::now();
      if (Sim({"ui", "select", "1012", std::to_string(k % kButtonLines), "--quiet"}) != 0) return false;
      command->ms.push_back(MsSince(sent));
    }
    const Clock::time_point asked = Clock::now();
    if (!Send(program, Show(), device::channel::Status::kOk)) return false;
    show->ms.push_back(MsSince(asked));
    if (!Send(program, Person(plat::person::ActionKind::kCancel), device::channel::Status::kEnded)) return false;
  }
  return WaitUntilNoWindow();
}

struct InProcessRun {
  Clock::time_point start;
  bool started = false;
  Samples* start_up;
  Samples* change;
  bool failed = false;
};

bool Act(const plat::person::Action& action) {
  std::u16string error;
  if (plat::person::Act(action, &error)) return true;
  std::fprintf(stderr, "tapdeck_timing: the person could not act: %s\n", device::ToUtf8(error).c_str());
  return false;
}

// The first wait for input ends the start-up; the person then changes the
// button a number of times and leaves.
void OnIdle(void* context) {
  auto* run = static_cast<InProcessRun*>(context);
  plat::person::Action leave;
  leave.kind = plat::person::ActionKind::kCancel;
  if (run->started) {
    Act(leave);  // anything else in front: leave it too
    return;
  }
  run->started = true;
  run->start_up->ms.push_back(MsSince(run->start));
  for (int k = 1; k <= kChangesPerRun && !run->failed; ++k) {
    plat::person::Action select;
    select.kind = plat::person::ActionKind::kSelect;
    select.control = 1012;
    select.line = k % kButtonLines;
    const Clock::time_point acted = Clock::now();
    run->failed = !Act(select);
    run->change->ms.push_back(MsSince(acted));
  }
  Act(leave);
}

bool InProcess(int runs, Samples* start_up, Samples* change) {
  device::SetFolder(device_dir);
  DeviceStartUp();  // the log and its mutex, on this device
  for (int i = 0; i < runs; ++i) {
    device::ResetWindowSystem();
    InProcessRun run{Clock::now(), false, start_up, change};
    plat::person::SetIdleHook(OnIdle, &run);
    const int code = RunTapdeck();
    plat::person::SetIdleHook(nullptr, nullptr);
    if (code != 0 || !run.started || run.failed) return false;
  }
  device::ResetWindowSystem();
  DeviceShutDown();  // closes the log file, so that the device can go
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  if (runs < 1) runs = 1;
  if (argc > 2) bin_dir = argv[2];
  device_dir = bench::MakeTempFolder("qkbench");
  if (device_dir.empty()) return 1;
  device::SetFolder(device_dir);

  int status = 0;
  std::printf("tapdeck over a Start Menu of %d shortcuts, %d runs; load average %s\n", kShortcuts, runs,
              LoadAverage().c_str());
  Samples start_up{"start-up to the first page (devicesim run tapdeck)", {}};
  Samples change{"button change (ui select 1012 N, over the channel)", {}};
  Samples command{"button change (devicesim ui select 1012 N --quiet)", {}};
  Samples show{"ui show round trip (the channel alone)", {}};
  Samples start_up_in{"in-process start-up to the first wait for input", {}};
  Samples change_in{"in-process button change", {}};
  if (!MakeDevice()) {
    std::fprintf(stderr, "tapdeck_timing: cannot make the device (devicesim init in %s)\n", bin_dir.c_str());
    status = 1;
  } else if (!ThroughTheProcess(runs, &start_up, &change, &command, &show)) {
    std::fprintf(stderr, "tapdeck_timing: the run through the process failed\n");
    device::WindowRecord program;
    if (FindTapdeck(&program)) Send(program, Person(plat::person::ActionKind::kCancel), device::channel::Status::kEnded);
    status = 1;
  } else if (!InProcess(runs, &start_up_in, &change_in)) {
    std::fprintf(stderr, "tapdeck_timing: the in-process run failed\n");
    status = 1;
  }
  std::printf("%-52s %5s %9s %9s %9s\n", "milliseconds", "n", "median", "p95", "max");
  for (const Samples* samples : {&start_up, &change, &command, &show, &start_up_in, &change_in}) Report(*samples);
  std::printf("load average afterwards %s\n", LoadAverage().c_str());

  std::error_code ignored;
  std::filesystem::remove_all(device_dir, ignored);
  return status;
}
