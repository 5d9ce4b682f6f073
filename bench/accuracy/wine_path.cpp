#include "bench/accuracy/wine_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

// Xlib's macros (None, Bool, Status, ...) stay below every other header.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace accuracy {
namespace {

constexpr int kF6 = 0x75;  // the listened key, as Windows names it
constexpr int64_t kMs = 1000000;
// The first key goes down this long after Play begins.
constexpr int64_t kLeadNs = 30 * kMs;
// Launchers still running this long after the series' last moment have hung.
constexpr int64_t kHungNs = 15000 * kMs;
constexpr int64_t kPollNs = 10 * kMs;

Display* Dpy(void* display) { return static_cast<Display*>(display); }

// What a /proc file holds; "" or less when the process ended meanwhile.
std::string ReadAll(const std::string& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  close(fd);
  return text;
}

}  // namespace

WinePath::~WinePath() {
  if (display_ != nullptr) {
    if (key_down_) Key(false);
    XCloseDisplay(Dpy(display_));
  }
  if (watch_fd_ >= 0) close(watch_fd_);
}

bool WinePath::Prepare(const std::string& watch_file, const std::string& prefix, int quiet_ms, std::string* error) {
  prefix_ = prefix;
  quiet_ms_ = quiet_ms;
  // The script gives the button the intervals a new installation has.
  timing_ = press_rule::Timing{press_rule::kDefaultIntervalMs, press_rule::kDefaultIntervalMs};
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) {
    *error = "cannot open the X display (DISPLAY)";
    return false;
  }
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(Dpy(display_), &event_base, &error_base, &major, &minor)) {
    *error = "the X display has no XTest";
    return false;
  }
  keycode_ = XKeysymToKeycode(Dpy(display_), XK_F6);
  if (keycode_ == 0) {
    *error = "the X display's keymap has no F6";
    return false;
  }
  watch_fd_ = open(watch_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (watch_fd_ < 0) {
    *error = "cannot read the watcher's file " + watch_file;
    return false;
  }
  std::vector<WatchLine> lines;
  ReadWatch(&lines);
  return true;
}

bool WinePath::Key(bool down) {
  XTestFakeKeyEvent(Dpy(display_), keycode_, down ? True : False, CurrentTime);
  XFlush(Dpy(display_));
  key_down_ = down;
  return true;
}

bool WinePath::ReadWatch(std::vector<WatchLine>* lines) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(watch_fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    partial_.append(buffer, static_cast<size_t>(got));
  }
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = partial_.substr(start, end - start);
    unsigned long time = 0, seen = 0, vk = 0;
    char up = 0, origin = 0;
    if (std::sscanf(line.c_str(), "%lu %lu %lu %c %c", &time, &seen, &vk, &up, &origin) == 5)
      lines->push_back({static_cast<uint32_t>(time), static_cast<uint32_t>(seen), static_cast<int>(vk), up == 'u',
                        origin == 'i'});
  }
  partial_.erase(0, start);
  return true;
}

int WinePath::LaunchersRunning() const {
  int running = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  const std::string mark = "WINEPREFIX=" + prefix_;
  while (dirent* item = readdir(proc)) {
    if (item->d_name[0] < '1' || item->d_name[0] > '9') continue;
    const std::string dir = std::string("/proc/") + item->d_name;
    const std::string command = ReadAll(dir + "/cmdline");
    if (command.find("TapdeckX.exe") == std::string::npos) continue;
    // One of this prefix's: another Wine run's launchers are not ours.
    const std::string environment = ReadAll(dir + "/environ");
    size_t at = 0;
    while (at < environment.size()) {
      const size_t end = std::min(environment.find('\0', at), environment.size());
      if (environment.compare(at, end - at, mark) == 0) {
        ++running;
        break;
      }
      at = end + 1;
    }
  }
  closedir(proc);
  return running;
}

bool WinePath::Play(const PlannedSeries& series, Observed* observed, std::string* problem) {
  *observed = Observed{};
  // Whatever came in since the last series: a late launcher's dispatch.
  std::vector<WatchLine> lines;
  ReadWatch(&lines);
  for (const WatchLine& line : lines) {
    Slot slot;
    if (line.injected && !line.up && SlotOfKey(line.vk, &slot)) ++strays_;
  }
  lines.clear();

  const int64_t start = NowNs() + kLeadNs;
  bool played = true;
  for (const press_rule::PlayedPress& press : series.presses) {
    for (const bool down : {true, false}) {
      const int64_t planned = start + static_cast<int64_t>(down ? press.down : press.up) * kMs;
      if (!SleepUntilNs(planned)) {
        played = false;
        break;
      }
      Key(down);
      lateness_.push_back(static_cast<double>(NowNs() - planned) / kMs);
    }
    if (!played) break;
  }
  if (key_down_) Key(false);
  if (!played) {
    *problem = "stopped";
    return false;
  }

  // Past the rule's last moment for the series, every launcher of it must
  // end and none may start for quiet_ms.
  const press_rule::PlayedPress& last = series.presses.back();
  const int64_t settled = start + static_cast<int64_t>(press_rule::WindowEnd(last.down, timing_)) * kMs;
  SleepUntilNs(settled);
  bool ended = false;
  int64_t quiet_since = NowNs();
  while (!StopAsked()) {
    const int64_t now = NowNs();
    if (LaunchersRunning() > 0) quiet_since = now;
    if (now - quiet_since >= quiet_ms_ * kMs) {
      ended = true;
      break;
    }
    if (now - settled > kHungNs) break;
    SleepUntilNs(now + kPollNs);
  }

  ReadWatch(&lines);
  bool down = false;
  uint32_t origin = 0;
  bool begun = false;
  for (const WatchLine& line : lines) {
    Slot slot;
    if (!line.injected && line.vk == kF6) {
      lag_.push_back(static_cast<double>(static_cast<int32_t>(line.seen - line.time)));
      if (!begun && !line.up) {
        begun = true;
        origin = line.time;
      }
      if (!begun) continue;
      const auto t = static_cast<uint64_t>(static_cast<int32_t>(line.time - origin));
      if (!line.up && !down) {
        observed->presses.push_back({t, 0});
        down = true;
      } else if (line.up && down) {
        observed->presses.back().up = t;
        down = false;
      } else if (line.up) {
        observed->complete = false;  // an up whose down went unseen
      }
      // A down while down is the key's auto-repeat.
    } else if (line.injected && !line.up && SlotOfKey(line.vk, &slot)) {
      if (!begun) {
        ++strays_;
        continue;
      }
      observed->dispatches.push_back({slot, static_cast<int32_t>(line.time - origin)});
    }
  }
  if (down || observed->presses.empty()) observed->complete = false;
  if (!ended) {
    *problem = StopAsked() ? "stopped" : "launchers still ran 15 s after the series";
    return false;
  }
  return true;
}

}  // namespace accuracy
