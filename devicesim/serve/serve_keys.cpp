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
    if (!KeyGoesDown(button, message)) {
      // Nothing is held that did not go down; a key that did is let go.
      std::string ignored;
      devicesim::ButtonUp(button, &ignored);
      return Result::kDeviceFailure;
    }
    held_[button.virtual_key] = Held{page, false, button};
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
  auto device = LockDevice();
  Release(released);
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
  held_[kVkOff] = Held{page, true, {}};
  if (!page.empty()) heard_[page] = Clock::now();
  auto device = LockDevice();
  plat::KeybdEvent(static_cast<uint8_t>(kVkOff), 0, 0, 0);
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
    const std::string& page = held->second.page;
    auto heard = heard_.find(page);
    if (page.empty() || (heard != heard_.end() && now - heard->second < silence)) {
      ++held;
      continue;
    }
    auto device = LockDevice();
    Release(held->second);
    held = held_.erase(held);
    ++released;
  }
  // Pages gone quiet with nothing held are forgotten.
  for (auto heard = heard_.begin(); heard != heard_.end();)
    heard = now - heard->second >= silence ? heard_.erase(heard) : std::next(heard);
  return released;
}

void HeldKeys::ReleasePage(const std::string& page) {
  std::lock_guard<std::mutex> keys(mutex_);
  for (auto held = held_.begin(); held != held_.end();) {
    if (held->second.page != page) {
      ++held;
      continue;
    }
    auto device = LockDevice();
    Release(held->second);
    held = held_.erase(held);
  }
}

void HeldKeys::ReleaseAll() {
  std::lock_guard<std::mutex> keys(mutex_);
  auto device = LockDevice();
  for (const auto& [key, held] : held_) Release(held);
  held_.clear();
}

size_t HeldKeys::Count() const {
  std::lock_guard<std::mutex> keys(mutex_);
  return held_.size();
}

}  // namespace devicesim::serve
