#include "devicesim/serve/serve_keys.h"

#include <cstdio>

#include "devicesim/serve/serve_views.h"
#include "platform/host/device/device.h"

namespace devicesim::serve {
namespace {

constexpr int kVkOff = 0xDF;

std::string KeyText(int key) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", key);
  return text;
}

}  // namespace

HeldKeys::Result HeldKeys::ButtonDown(const std::string& page, const std::string& name,
                                      const std::string& output_file, std::string* message,
                                      const std::function<void()>& went_down) {
  std::lock_guard<std::mutex> keys(mutex_);
  HardwareButton button;
  {
    auto device = LockDevice();
    switch (FindHardwareButton(name, &button, message)) {
      case FindButtonResult::kFound: break;
      case FindButtonResult::kNoEntry: return Result::kNoButton;
      case FindButtonResult::kNotAButton: return Result::kNotAButton;
      case FindButtonResult::kUnreadable: return Result::kDeviceFailure;
    }
    auto held = held_.find(button.virtual_key);
    if (held != held_.end()) {
      *message = "key " + KeyText(button.virtual_key) + " is already down" +
                 (held->second.power ? " (the power key)"
                                     : " (button " + device::ToUtf8(held->second.button.entry) + ")");
      return Result::kAlreadyDown;
    }
    // In the ledger before it goes down: a kill in between leaves a key
    // listed that is up, which the next server passes over.
    held_[button.virtual_key] = Held{page, false, button, device::NowMs(), 0};
    RecordLocked();
    if (!KeyGoesDown(button, message)) {
      // Nothing is held that did not go down; a key that did is let go.
      std::string ignored;
      devicesim::ButtonUp(button, &ignored);
      held_.erase(button.virtual_key);
      RecordLocked();
      return Result::kDeviceFailure;
    }
    NoteDown(button.virtual_key);
    if (!page.empty()) heard_[page] = Clock::now();
  }
  // The device is let go in between, so that the key down shows while the
  // shell is still starting the command.
  if (went_down) went_down();
  if (button.virtual_key == taken_) return Result::kOk;  // recorded, not acted on
  auto device = LockDevice();
  device::DetachStartedPrograms(output_file);
  message->clear();
  RunButtonCommand(button, message);
  return Result::kOk;
}

HeldKeys::Result HeldKeys::Up(const std::string& page, int key, const std::string& what, std::string* message) {
  std::lock_guard<std::mutex> keys(mutex_);
  auto held = held_.find(key);
  if (held == held_.end()) {
    *message = what + " is not down";
    return Result::kNotDown;
  }
  if (held->second.page != page) {
    *message = what + " is held down by another page";
    return Result::kNotDown;
  }
  Held released = held->second;
  held_.erase(held);
  {
    auto device = LockDevice();
    Release(released);
  }
  RecordLocked();
  message->clear();
  return Result::kOk;
}

HeldKeys::Result HeldKeys::ButtonUp(const std::string& page, const std::string& name, std::string* message) {
  // The entry may have left the table while its key was down: the key still
  // goes up, found by the name's own key digits. A key without an entry went
  // down by its code or name.
  std::u16string entry = device::FromUtf8(name);
  int key = EntryVirtualKey(entry);
  {
    std::lock_guard<std::mutex> keys(mutex_);
    auto held = held_.find(key);
    if (held == held_.end() || held->second.button.entry.empty()) {
      key = KeyCodeOf(name);
      held = held_.find(key);
      if (held != held_.end() && held->second.button.entry.empty()) entry.clear();
    }
    if (key < 0 || held == held_.end() || held->second.power ||
        plat::CompareNoCase(held->second.button.entry, entry) != 0) {
      *message = "button " + name + " is not down";
      return Result::kNotDown;
    }
  }
  return Up(page, key, "button " + name, message);
}

HeldKeys::Result HeldKeys::PowerDown(const std::string& page, std::string* message) {
  std::lock_guard<std::mutex> keys(mutex_);
  if (held_.count(kVkOff) != 0) {
    *message = "the power key is already down";
    return Result::kAlreadyDown;
  }
  auto device = LockDevice();
  held_[kVkOff] = Held{page, true, {}, device::NowMs(), 0};
  RecordLocked();
  if (!page.empty()) heard_[page] = Clock::now();
  plat::KeybdEvent(static_cast<uint8_t>(kVkOff), 0, 0, 0);
  NoteDown(kVkOff);
  message->clear();
  return Result::kOk;
}

HeldKeys::Result HeldKeys::PowerUp(const std::string& page, std::string* message) {
  return Up(page, kVkOff, "the power key", message);
}

void HeldKeys::Release(const Held& held) {
  if (held.power) {
    plat::KeybdEvent(static_cast<uint8_t>(kVkOff), 0, plat::kKeyEventKeyUp, 0);
  } else {
    std::string problem;
    if (!devicesim::ButtonUp(held.button, &problem))
      std::fprintf(stderr, "devicesim serve: button %s: %s\n", device::ToUtf8(held.button.entry).c_str(),
                   problem.c_str());
  }
}

void HeldKeys::Heard(const std::string& page, Clock::time_point now) {
  if (page.empty()) return;
  std::lock_guard<std::mutex> keys(mutex_);
  heard_[page] = now;
}

size_t HeldKeys::ReleaseSilent(std::chrono::milliseconds silence, Clock::time_point now) {
  std::lock_guard<std::mutex> keys(mutex_);
  size_t released = 0;
  for (auto held = held_.begin(); held != held_.end();) {
    auto heard = heard_.find(held->second.page);
    if (heard != heard_.end() && now - heard->second < silence) {
      ++held;
      continue;
    }
    {
      auto device = LockDevice();
      Release(held->second);
    }
    held = held_.erase(held);
    ++released;
  }
  if (released > 0) RecordLocked();
  // Pages gone quiet with nothing held are forgotten.
  for (auto heard = heard_.begin(); heard != heard_.end();)
    heard = now - heard->second >= silence ? heard_.erase(heard) : std::next(heard);
  return released;
}

void HeldKeys::ReleasePage(const std::string& page) {
  std::lock_guard<std::mutex> keys(mutex_);
  bool released = false;
  for (auto held = held_.begin(); held != held_.end();) {
    if (held->second.page != page) {
      ++held;
      continue;
    }
    {
      auto device = LockDevice();
      Release(held->second);
    }
    held = held_.erase(held);
    released = true;
  }
  if (released) RecordLocked();
}

void HeldKeys::ReleaseAll() {
  std::lock_guard<std::mutex> keys(mutex_);
  {
    auto device = LockDevice();
    for (const auto& [key, held] : held_) Release(held);
  }
  held_.clear();
  RecordLocked();
}

void HeldKeys::SetLedger(KeyLedger* ledger) {
  std::lock_guard<std::mutex> keys(mutex_);
  ledger_ = ledger;
  RecordLocked();
}

void HeldKeys::NoteDown(int code) {
  auto held = held_.find(code);
  int64_t at = 0;
  if (ledger_ == nullptr || held == held_.end() || !device::KeyDownAt(code, &at)) return;
  held->second.down_at = at;
  RecordLocked();
}

void HeldKeys::RecordLocked() {
  if (ledger_ == nullptr) return;
  std::vector<LedgerKey> keys;
  for (const auto& [key, held] : held_) keys.push_back(LedgerKey{held.power, held.button, held.since, held.down_at});
  std::string problem;
  if (!ledger_->Record(keys, &problem) && !ledger_failed_) {
    ledger_failed_ = true;
    std::fprintf(stderr, "devicesim serve: %s; a key held when this server is killed stays down\n", problem.c_str());
  }
}

std::vector<std::string> HeldKeys::ReleaseLeftBehind(const std::vector<LedgerKey>& keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto device = LockDevice();
  std::vector<std::string> released;
  for (const LedgerKey& key : keys) {
    int code = key.power ? kVkOff : key.button.virtual_key;
    bool down = false;
    int64_t at = 0;
    if (held_.count(code) != 0 || !device::IsKeyDown(code, &down) || !device::KeyDownAt(code, &at)) continue;
    // Its press, if the device kept no later one. (Killed between a key up
    // and the ledger's next write, a key up is journalled twice.)
    bool same_press = key.down_at != 0 ? at == key.down_at : at >= key.since && at != 0;
    // A button held by the gone server reads as up; a key event's key stays down.
    if (!same_press || (key.power && !down)) continue;
    Release(Held{"", key.power, key.button, 0, 0});
    released.push_back(KeyText(code) + (key.power ? " (the power key)"
                                        : key.button.entry.empty() ? "" : " (" + device::ToUtf8(key.button.entry) + ")"));
  }
  return released;
}

size_t HeldKeys::Count() const {
  std::lock_guard<std::mutex> keys(mutex_);
  return held_.size();
}

}  // namespace devicesim::serve
