// Watches the device for devicesim serve and feeds the event hub: new
// journal entries, the device's state and the hardware buttons as soon as
// the device's database changes (inotify on the device folder, with a slow
// look as a backstop), and the running program's screen (its window-system
// channel, asked after every change and a few times a second).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devicesim/serve/serve_events.h"
#include "devicesim/serve/serve_keys.h"
#include "devicesim/serve/serve_presses.h"
#include "devicesim/serve/serve_tuner.h"
#include "devicesim/serve/serve_views.h"

namespace devicesim::serve {

class DeviceWatcher {
 public:
  // `keys` (may be null) learns which key the tuner records.
  explicit DeviceWatcher(EventHub* hub, HeldKeys* keys = nullptr);
  ~DeviceWatcher();
  DeviceWatcher(const DeviceWatcher&) = delete;
  DeviceWatcher& operator=(const DeviceWatcher&) = delete;

  // Reads the device once, then watches it on two threads. False with a
  // message when the device folder cannot be watched.
  bool Start(std::string* error);
  void Stop();
  // Look again now (the server changed something itself).
  void Poke();
  // Reads the journal's new entries and tells the page now, on the caller's
  // thread: a key the server put down shows without waiting for the watcher.
  void CatchUp();
  // With the device lock held: journal entries in (after, upto] made by
  // this process are a program the page started, not one a press started.
  void OwnStarts(int64_t after, int64_t upto);

  // The page's tuner (serve_tuner.h): "start" recording for the table entry
  // `entry`, "over" (start over), "stop", or "accept" (for every button or
  // this one). kUnknown for another action; kRefused with the reason in *error.
  enum class TuneResult { kDone, kRefused, kUnknown };
  TuneResult Tune(const std::string& action, const std::string& entry, bool for_every_button, std::string* error);
  Json TunerView();

  static constexpr int kBackstopMs = 200;
  // How often launchers are looked at while one runs: its end, and its
  // closing report, finish a series.
  static constexpr int kLaunchersEveryMs = 10;
  static constexpr int kScreenEveryMs = 250;
  static constexpr int kButtonsEveryMs = 100;
  static constexpr int kButtonsBackstopMs = 2000;

 private:
  void WatchDatabase();
  void WatchScreen();
  // Reads what changed; true when anything did.
  bool Update(bool* buttons_pending);
  // With catch_up_mutex_ and the device lock held: the journal's new
  // entries, followed; true when the journal started over.
  bool ReadJournalLocked(std::vector<Json>* entries);
  // Launchers that have ended since the last look, latest started first.
  std::vector<int64_t> EndedLaunchersLocked();
  void Publish(bool reset, const std::vector<Json>& entries);
  void ReadScreen();

  EventHub* hub_;
  HeldKeys* keys_;
  PressFollower follower_;  // under the device lock
  TunerPanel tuner_;        // under the device lock
  PressTimeline timeline_;  // under the device lock
  std::map<int64_t, int64_t> launcher_starts_;  // a launcher's process start time, against pid reuse
  // Journal entries reach the hub in order, whichever thread reads them.
  std::mutex catch_up_mutex_;
  int64_t last_id_ = 0;
  int64_t buttons_read_at_ = 0;
  int inotify_ = -1;
  int wake_ = -1;  // eventfd: Stop and Poke
  std::atomic<bool> stopping_{false};
  std::thread database_thread_, screen_thread_;
  std::mutex screen_mutex_;
  std::condition_variable screen_wanted_;
  bool screen_poked_ = false;
};

}  // namespace devicesim::serve
