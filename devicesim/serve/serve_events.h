// The page's event stream: the state devicesim serve shows (device, buttons,
// screen, the journal's tail) and the events that change it, for any number
// of server-sent-event streams. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
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
  // New journal entries and, when given, the series they changed: one wake
  // of the streams, so a press reaches the page's journal and its timeline
  // in one write.
  void AddJournalAndPresses(const std::vector<Json>& entries, const Json* presses);
  // The journal started over (the device was made anew): streams get a
  // fresh snapshot.
  void ResetJournal();

  // {"device", "buttons", "screen", "presses", "tuner", "journal": [the latest entries]}.
  Json Snapshot() const;

  // The series of presses as the timeline draws them (a JSON array).
  void SetPresses(const Json& presses);
  // What the page's tuner shows (TunerPanel::View), published as "tuner".
  void SetTuner(const Json& tuner);

  // A stream for `page`. A page has one at a time: a stream it had before
  // ends (the page reconnected before the server noticed). 0 when the hub
  // has stopped or `max_streams` other pages have one.
  uint64_t OpenStream(const std::string& page);
  // True when it was the page's current stream: the page has none now.
  bool CloseStream(uint64_t stream);
  // Pages with a stream now; *mine tells whether `page` is one of them.
  size_t Streams(const std::string& page, bool* mine) const;
  // What `stream` writes next: the snapshot on its first call, then the
  // events after *cursor, waiting up to `wait` for one, or a keep-alive
  // comment when none came. Empty once the hub stops or the stream's page
  // opened another.
  std::string NextForStream(uint64_t stream, uint64_t* cursor, bool* started, std::chrono::milliseconds wait);
  void Stop();
  bool Stopped() const;

  static constexpr size_t kJournalTail = 300;

 private:
  void PublishLocked(const std::string& name, const std::string& data);
  void AddJournalLocked(const std::vector<Json>& entries);
  void SetPressesLocked(const Json& presses, std::string text);
  std::string SnapshotEventLocked() const;
  Json SnapshotLocked() const;
  bool CurrentLocked(uint64_t stream) const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
  size_t max_streams_;
  std::map<std::string, uint64_t> streams_;  // each page's current stream
  uint64_t next_stream_ = 1;
  // Events as written, numbered; the oldest are dropped, and a stream that
  // falls behind them gets a snapshot instead.
  std::deque<std::pair<uint64_t, std::string>> events_;
  uint64_t next_event_ = 1;

  Json device_ = nullptr;
  Json buttons_ = nullptr;
  Json presses_ = Json::array();
  Json tuner_ = nullptr;
  std::string tuner_text_ = "null";
  std::string device_text_, buttons_text_, presses_text_ = "[]", screen_text_ = "null";
  Json screen_ = nullptr;
  int64_t screen_pid_ = 0;
  int64_t screen_serial_ = -1;
  std::deque<Json> journal_;
};

}  // namespace devicesim::serve
