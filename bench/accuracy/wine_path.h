// The path of real key events (win32 build under Wine): the key goes down
// and up through XTest on the X display, where a Wine desktop has the focus;
// the key listener TapdeckH takes it and starts TapdeckX for each press.
// The watcher key_watch.exe, running in the same desktop, writes every key
// event with its time: the key's downs and ups as Wine dated them, and the
// keys the dispatches sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/accuracy/press_path.h"

namespace accuracy {

class WinePath : public PressPath {
 public:
  WinePath() = default;
  WinePath(const WinePath&) = delete;
  WinePath& operator=(const WinePath&) = delete;
  ~WinePath() override;

  // The display in DISPLAY; the watcher's file; the prefix whose TapdeckX
  // processes are waited for; how long none must run before a series
  // counts as ended (a launcher can start late on a busy machine).
  bool Prepare(const std::string& watch_file, const std::string& prefix, int quiet_ms, std::string* error);
  press_rule::Timing timing() const override { return timing_; }
  bool Play(const PlannedSeries& series, Observed* observed, std::string* problem) override;

  // Dispatches seen before a series' first key: a launcher of an earlier
  // series that acted after it was taken as ended.
  int strays() const { return strays_; }
  // How late each key event was sent, in ms after its planned moment.
  const std::vector<double>& send_lateness() const { return lateness_; }
  // How long after each key event the watcher's hook saw it, in ms (the
  // listener's hook, called before it, saw it no later): until then no
  // launcher can know of it.
  const std::vector<double>& delivery_lag() const { return lag_; }

 private:
  struct WatchLine {
    uint32_t time;
    uint32_t seen;
    int vk;
    bool up;
    bool injected;
  };
  bool ReadWatch(std::vector<WatchLine>* lines);
  bool Key(bool down);
  int LaunchersRunning() const;

  void* display_ = nullptr;  // Display*
  unsigned keycode_ = 0;
  bool key_down_ = false;
  int watch_fd_ = -1;
  std::string partial_;
  std::string prefix_;
  int quiet_ms_ = 0;
  int strays_ = 0;
  std::vector<double> lateness_;
  std::vector<double> lag_;
  press_rule::Timing timing_;
};

}  // namespace accuracy
