#include "devicesim/serve/serve_events.h"

namespace devicesim::serve {
namespace {

constexpr size_t kKeptEvents = 512;

std::string EventText(const std::string& name, const std::string& data) {
  return "event: " + name + "\ndata: " + data + "\n\n";
}

}  // namespace

EventHub::EventHub(size_t max_streams) : max_streams_(max_streams) {}

void EventHub::PublishLocked(const std::string& name, const std::string& data) {
  events_.emplace_back(next_event_++, EventText(name, data));
  while (events_.size() > kKeptEvents) events_.pop_front();
  changed_.notify_all();
}

void EventHub::SetDevice(const Json& device) {
  std::string text = Dump(device);
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == device_text_) return;
  device_ = device;
  device_text_ = text;
  PublishLocked("device", text);
}

void EventHub::SetButtons(const Json& buttons) {
  std::string text = Dump(buttons);
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == buttons_text_) return;
  buttons_ = buttons;
  buttons_text_ = text;
  PublishLocked("buttons", text);
}

void EventHub::SetScreen(int64_t pid, int64_t serial, const Json& screen) {
  std::string text = Dump(screen);
  std::lock_guard<std::mutex> lock(mutex_);
  if (pid != 0 && pid == screen_pid_ && serial < screen_serial_) return;
  screen_pid_ = pid;
  screen_serial_ = serial;
  if (text == screen_text_) return;
  screen_ = screen;
  screen_text_ = text;
  PublishLocked("screen", text);
}

void EventHub::AddJournalLocked(const std::vector<Json>& entries) {
  if (entries.empty()) return;
  for (const Json& entry : entries) {
    journal_.push_back(entry);
    if (journal_.size() > kJournalTail) journal_.pop_front();
  }
  PublishLocked("journal", Dump(Json(entries)));
}

void EventHub::AddJournal(const std::vector<Json>& entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  AddJournalLocked(entries);
}

void EventHub::AddJournalAndPresses(const std::vector<Json>& entries, const Json* presses) {
  std::string text = presses != nullptr ? Dump(*presses) : std::string();
  std::lock_guard<std::mutex> lock(mutex_);
  AddJournalLocked(entries);
  if (presses != nullptr) SetPressesLocked(*presses, std::move(text));
}

void EventHub::ResetJournal() {
  std::lock_guard<std::mutex> lock(mutex_);
  journal_.clear();
  PublishLocked("snapshot", Dump(SnapshotLocked()));
}

Json EventHub::SnapshotLocked() const {
  Json journal = Json::array();
  for (const Json& entry : journal_) journal.push_back(entry);
  return Json{{"device", device_}, {"buttons", buttons_}, {"screen", screen_}, {"presses", presses_},
              {"tuner", tuner_}, {"journal", journal}};
}

Json EventHub::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return SnapshotLocked();
}

std::string EventHub::SnapshotEventLocked() const {
  // retry: how soon a page reconnects after the server went away and came back.
  return "retry: 1000\n" + EventText("snapshot", Dump(SnapshotLocked()));
}

void EventHub::SetPressesLocked(const Json& presses, std::string text) {
  if (text == presses_text_) return;
  presses_ = presses;
  presses_text_ = std::move(text);
  PublishLocked("presses", presses_text_);
}

void EventHub::SetPresses(const Json& presses) {
  std::string text = Dump(presses);
  std::lock_guard<std::mutex> lock(mutex_);
  SetPressesLocked(presses, std::move(text));
}

void EventHub::SetTuner(const Json& tuner) {
  std::string text = Dump(tuner);
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == tuner_text_) return;
  tuner_ = tuner;
  tuner_text_ = std::move(text);
  PublishLocked("tuner", tuner_text_);
}

uint64_t EventHub::OpenStream(const std::string& page) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopped_) return 0;
  auto own = streams_.find(page);
  if (own == streams_.end() && streams_.size() >= max_streams_) return 0;
  uint64_t stream = next_stream_++;
  streams_[page] = stream;
  changed_.notify_all();  // the page's earlier stream, if any, ends
  return stream;
}

bool EventHub::CloseStream(uint64_t stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = streams_.begin(); it != streams_.end(); ++it) {
    if (it->second != stream) continue;
    streams_.erase(it);
    return true;
  }
  return false;
}

size_t EventHub::Streams(const std::string& page, bool* mine) const {
  std::lock_guard<std::mutex> lock(mutex_);
  *mine = streams_.count(page) != 0;
  return streams_.size();
}

bool EventHub::CurrentLocked(uint64_t stream) const {
  for (const auto& [page, current] : streams_)
    if (current == stream) return true;
  return false;
}

std::string EventHub::NextForStream(uint64_t stream, uint64_t* cursor, bool* started, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopped_ || !CurrentLocked(stream)) return {};
  if (!*started) {
    *started = true;
    *cursor = next_event_ - 1;
    return SnapshotEventLocked();
  }
  changed_.wait_for(lock, wait, [&] { return stopped_ || next_event_ - 1 > *cursor || !CurrentLocked(stream); });
  if (stopped_ || !CurrentLocked(stream)) return {};
  if (next_event_ - 1 <= *cursor) return ": keep-alive\n\n";
  if (events_.empty() || events_.front().first > *cursor + 1) {
    *cursor = next_event_ - 1;
    return SnapshotEventLocked();
  }
  std::string text;
  for (const auto& [number, event] : events_) {
    if (number > *cursor) text += event;
  }
  *cursor = next_event_ - 1;
  return text;
}

void EventHub::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

bool EventHub::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

}  // namespace devicesim::serve
