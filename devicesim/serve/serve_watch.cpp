#include "devicesim/serve/serve_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "devicesim/shell/ui_client.h"
#include "platform/host/device/device.h"

namespace devicesim::serve {
namespace {

// Older entries than these are not shown, only followed for the program
// last started by a press.
constexpr int64_t kFollowedAtStart = 5000;
constexpr int64_t kScreenTimeoutMs = 3000;

void Drain(int fd) {
  char buffer[4096];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

DeviceWatcher::DeviceWatcher(EventHub* hub, HeldKeys* keys) : hub_(hub), keys_(keys) {}

DeviceWatcher::~DeviceWatcher() {
  Stop();
  if (inotify_ >= 0) close(inotify_);
  if (wake_ >= 0) close(wake_);
}

bool DeviceWatcher::Start(std::string* error) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (inotify_ < 0 || wake_ < 0) {
    *error = std::string("cannot watch the device: ") + std::strerror(errno);
    return false;
  }
  // Every change of the registry, the state and the journal is a commit to
  // registry.db's write-ahead log in this folder.
  if (inotify_add_watch(inotify_, device::Folder().c_str(),
                        IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
    *error = "cannot watch " + device::Folder() + ": " + std::strerror(errno);
    return false;
  }
  {
    std::lock_guard<std::mutex> catching_up(catch_up_mutex_);
    auto device = LockDevice();
    Json buttons = ButtonsJson();
    timeline_.SetButtons(buttons);
    buttons["keys"] = KeysJson(buttons);
    int64_t last = device::LastJournalId();
    std::vector<Json> tail;
    for (const device::JournalEntry& entry : device::ReadJournal(std::max<int64_t>(0, last - kFollowedAtStart))) {
      Json json = EntryJson(entry);
      follower_.Follow(entry, json["fields"]);
      if (entry.id > last - static_cast<int64_t>(EventHub::kJournalTail)) {
        std::string program = follower_.ProgramOf(entry.pid);
        if (!program.empty()) json["program"] = program;
        tail.push_back(std::move(json));
      }
      last_id_ = entry.id;
    }
    last_id_ = std::max(last_id_, last);
    hub_->AddJournal(tail);
    hub_->SetDevice(DeviceJson(follower_));
    hub_->SetButtons(buttons);
    hub_->SetTuner(tuner_.View());
    tuner_.TakeChanged();
    buttons_read_at_ = device::channel::MonotonicMs();
  }
  ReadScreen();
  database_thread_ = std::thread([this] { WatchDatabase(); });
  screen_thread_ = std::thread([this] { WatchScreen(); });
  return true;
}

void DeviceWatcher::Stop() {
  if (stopping_.exchange(true)) return;
  uint64_t one = 1;
  if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
    // the threads still see stopping_ at their next look
  }
  {
    std::lock_guard<std::mutex> lock(screen_mutex_);
    screen_wanted_.notify_all();
  }
  if (database_thread_.joinable()) database_thread_.join();
  if (screen_thread_.joinable()) screen_thread_.join();
}

void DeviceWatcher::Poke() {
  uint64_t one = 1;
  if (write(wake_, &one, sizeof one) < 0) {
    // a full counter already wakes the watcher
  }
}

void DeviceWatcher::OwnStarts(int64_t after, int64_t upto) { follower_.ExcludeOwnStarts(after, upto); }

bool DeviceWatcher::ReadJournalLocked(std::vector<Json>* entries) {
  bool reset = false;
  int64_t last = device::LastJournalId();
  if (last < last_id_) {  // a device made anew in the same folder
    reset = true;
    last_id_ = 0;
    follower_ = PressFollower();
    timeline_ = PressTimeline();
    timeline_.SetButtons(ButtonsJson());
    launcher_starts_.clear();
    tuner_.Stop();
    if (keys_ != nullptr) keys_->SetTaken(0);
  }
  for (const device::JournalEntry& entry : device::ReadJournal(last_id_)) {
    Json json = EntryJson(entry);
    follower_.Follow(entry, json["fields"]);
    timeline_.Follow(entry, json["fields"]);
    tuner_.Follow(entry, json["fields"]);
    std::string program = follower_.ProgramOf(entry.pid);
    if (!program.empty()) json["program"] = program;
    entries->push_back(std::move(json));
    last_id_ = entry.id;
  }
  return reset;
}

std::vector<int64_t> DeviceWatcher::EndedLaunchersLocked() {
  std::vector<int64_t> ended;
  std::vector<int64_t> running = timeline_.Running();
  // Launchers the timeline no longer keeps are not looked at again.
  for (auto known = launcher_starts_.begin(); known != launcher_starts_.end();)
    known = std::find(running.begin(), running.end(), known->first) == running.end() ? launcher_starts_.erase(known)
                                                                                    : std::next(known);
  for (int64_t pid : running) {
    int64_t started = device::ProcessStartTime(pid);
    auto known = launcher_starts_.find(pid);
    if (known == launcher_starts_.end() && started >= 0) {
      launcher_starts_[pid] = started;
      continue;
    }
    // Gone, or its pid belongs to another process now.
    if (started < 0 || started != known->second) ended.push_back(pid);
  }
  for (int64_t pid : ended) launcher_starts_.erase(pid);
  // Running() lists them oldest first.
  std::reverse(ended.begin(), ended.end());
  return ended;
}

void DeviceWatcher::Publish(bool reset, const std::vector<Json>& entries) {
  if (reset) hub_->ResetJournal();
  if (tuner_.TakeChanged()) hub_->SetTuner(tuner_.View());
  if (!timeline_.TakeChanged()) {
    hub_->AddJournal(entries);
    return;
  }
  Json presses = timeline_.SeriesJson();
  hub_->AddJournalAndPresses(entries, &presses);
}

DeviceWatcher::TuneResult DeviceWatcher::Tune(const std::string& action, const std::string& entry,
                                              bool for_every_button, std::string* error) {
  std::lock_guard<std::mutex> catching_up(catch_up_mutex_);
  auto device = LockDevice();
  // What was pressed so far is the tuner's before it changes course.
  std::vector<Json> entries;
  Publish(ReadJournalLocked(&entries), entries);
  bool done = true;
  if (action == "start") {
    done = tuner_.Start(ButtonsJson(), entry, error);
  } else if (action == "over") {
    done = tuner_.StartOver(error);
  } else if (action == "stop") {
    tuner_.Stop();
  } else if (action == "accept") {
    done = tuner_.Accept(for_every_button, error);
  } else {
    return TuneResult::kUnknown;
  }
  if (keys_ != nullptr) keys_->SetTaken(tuner_.TakenKey());
  if (tuner_.TakeChanged()) hub_->SetTuner(tuner_.View());
  Poke();  // the timings in force may have changed
  return done ? TuneResult::kDone : TuneResult::kRefused;
}

Json DeviceWatcher::TunerView() {
  auto device = LockDevice();
  return tuner_.View();
}

void DeviceWatcher::CatchUp() {
  std::lock_guard<std::mutex> catching_up(catch_up_mutex_);
  std::vector<Json> entries;
  auto device = LockDevice();
  bool reset = ReadJournalLocked(&entries);
  Publish(reset, entries);
}

bool DeviceWatcher::Update(bool* buttons_pending) {
  std::vector<Json> entries;
  bool reset = false;
  {
    std::lock_guard<std::mutex> catching_up(catch_up_mutex_);
    auto device = LockDevice();
    // Which launchers ended is asked first: what they journalled before
    // they ended is in the journal by then.
    std::vector<int64_t> ended = EndedLaunchersLocked();
    reset = ReadJournalLocked(&entries);
    if (!ended.empty()) {
      std::optional<ClosingReport> report = ReadClosingReport();
      int64_t now = device::NowMs();
      for (int64_t pid : ended) timeline_.Ended(pid, now, report);
    }
    // The journal first: the rest takes longer to read.
    Publish(reset, entries);
  }
  Json device_state, buttons;
  bool read_buttons = false;
  {
    auto device = LockDevice();
    device_state = DeviceJson(follower_);
    // The button table takes a few dozen reads: at most every kButtonsEveryMs.
    int64_t now = device::channel::MonotonicMs();
    int64_t since = now - buttons_read_at_;
    if ((*buttons_pending && since >= kButtonsEveryMs) || since >= kButtonsBackstopMs) {
      buttons = ButtonsJson();
      timeline_.SetButtons(buttons);
      buttons["keys"] = KeysJson(buttons);
      buttons_read_at_ = now;
      read_buttons = true;
      *buttons_pending = false;
    }
  }
  hub_->SetDevice(device_state);
  if (read_buttons) hub_->SetButtons(buttons);
  return reset || !entries.empty();
}

void DeviceWatcher::WatchDatabase() {
  bool buttons_pending = false;
  while (!stopping_) {
    int timeout = kBackstopMs;
    {
      auto device = LockDevice();
      if (!timeline_.Running().empty()) timeout = kLaunchersEveryMs;
    }
    if (buttons_pending) {
      int64_t due = buttons_read_at_ + kButtonsEveryMs - device::channel::MonotonicMs();
      timeout = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(timeout, due)));
    }
    pollfd watched[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    int ready = poll(watched, 2, timeout);
    if (stopping_) break;
    bool changed = ready > 0;
    Drain(inotify_);
    Drain(wake_);
    if (changed) buttons_pending = true;
    if (Update(&buttons_pending) || changed) {
      std::lock_guard<std::mutex> lock(screen_mutex_);
      screen_poked_ = true;
      screen_wanted_.notify_all();
    }
  }
}

void DeviceWatcher::ReadScreen() {
  device::WindowRecord program;
  std::string error;
  bool found;
  {
    auto device = LockDevice();
    found = ui::FindProgram(0, &program, &error);
  }
  if (!found) {
    hub_->SetScreen(0, 0, nullptr);
    return;
  }
  device::channel::Request request;
  request.verb = "show";
  request.format = device::channel::Format::kJsonBrief;
  ui::Outcome outcome = ui::Send(program, request, kScreenTimeoutMs);
  if (outcome.kind == ui::Outcome::kLost ||
      (outcome.kind == ui::Outcome::kReplied && outcome.reply.status == device::channel::Status::kEnded)) {
    hub_->SetScreen(0, 0, nullptr);
    return;
  }
  if (outcome.kind != ui::Outcome::kReplied || outcome.reply.status != device::channel::Status::kOk) return;
  Json screen = Json::parse(outcome.reply.screen, nullptr, false);
  if (screen.is_discarded() || !screen.is_object()) return;
  hub_->SetScreen(program.pid, screen.value("serial", int64_t{0}), screen);
}

void DeviceWatcher::WatchScreen() {
  while (!stopping_) {
    {
      std::unique_lock<std::mutex> lock(screen_mutex_);
      screen_wanted_.wait_for(lock, std::chrono::milliseconds(kScreenEveryMs),
                              [this] { return screen_poked_ || stopping_.load(); });
      screen_poked_ = false;
    }
    if (stopping_) break;
    ReadScreen();
  }
}

}  // namespace devicesim::serve
