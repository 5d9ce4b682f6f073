// The page's event stream: the state devicesim serve shows (device, buttons,
// screen, the journal's tail) and the events that change it, for any number
// of server-sent-event streams. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "devicesim/serve/serve_views.h"

namespace devicesim::serve {

class EventHub {
 public:
  // Streams beyond `max_streams` are refused: each holds a server thread.
  explicit EventHub(size_t max_streams);

  // Each of these publishes an event when the state changed.
  void SetDevice(const Json& device);
  void SetButtons(const Json& buttons);
  // The screen of program `pid` (0 and null: no program runs). A screen of
  // the same program with a lower serial than the last one is older news
  // and dropped.
  void SetScreen(int64_t pid, int64_t serial, const Json& screen);
  void AddJournal(const std::vector<Json>& entries);
  // The journal started over (the device was made anew): streams get a
  // fresh snapshot.
  void ResetJournal();

  // {"device", "buttons", "screen", "journal": [the latest entries]}.
  Json Snapshot() const;

  bool OpenStream();
  void CloseStream();
  // What a stream writes next: the snapshot on its first call, then the
  // events after *cursor, waiting up to `wait` for one, or a keep-alive
  // comment when none came. Empty once the hub stops.
  std::string NextForStream(uint64_t* cursor, bool* started, std::chrono::milliseconds wait);
  void Stop();
  bool Stopped() const;

  static constexpr size_t kJournalTail = 300;

 private:
  void PublishLocked(const std::string& name, const std::string& data);
  std::string SnapshotEventLocked() const;
  Json SnapshotLocked() const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
  size_t max_streams_;
  size_t streams_ = 0;
  // Events as written, numbered; the oldest are dropped, and a stream that
  // falls behind them gets a snapshot instead.
  std::deque<std::pair<uint64_t, std::string>> events_;
  uint64_t next_event_ = 1;

  Json device_ = nullptr;
  Json buttons_ = nullptr;
  std::string device_text_, buttons_text_, screen_text_ = "null";
  Json screen_ = nullptr;
  int64_t screen_pid_ = 0;
  int64_t screen_serial_ = -1;
  std::deque<Json> journal_;
};

}  // namespace devicesim::serve
