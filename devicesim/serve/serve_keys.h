// The keys devicesim serve holds down for its pages: a hardware button goes
// down and up as separate requests, so the server remembers which page
// holds which key and lets every one of them go when that page goes away
// (its event stream ends, or it is not heard from for a while, whichever
// comes first) or the server stops. A key already down cannot go down
// again, nor a key that is up go up.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "devicesim/shell/press.h"

namespace devicesim::serve {

class HeldKeys {
 public:
  enum class Result {
    kOk,
    kNoButton,     // no table entry of that name (*message says so)
    kNotAButton,   // the entry names no key
    kAlreadyDown,
    kNotDown,
    kDeviceFailure,  // the device could not be read or changed (*message says why)
  };

  // The button table entry `name` goes down for `page`: key down, journal,
  // its command through the shell (the programs it starts write to
  // `output_file`). A command the shell could not run is reported in
  // *message with kOk: the key is down, as on the device.
  // `went_down` runs once the key is down and journalled, before the command.
  Result ButtonDown(const std::string& page, const std::string& name, const std::string& output_file,
                    std::string* message, const std::function<void()>& went_down = nullptr);
  Result ButtonUp(const std::string& page, const std::string& name, std::string* message);
  // The key the page's tuner records (0: none): a page's press of it moves
  // the key and is journalled, but the shell runs nothing for it.
  void SetTaken(int virtual_key) { taken_ = virtual_key; }
  // The power key (virtual key 0xDF), journalled as a key event.
  Result PowerDown(const std::string& page, std::string* message);
  Result PowerUp(const std::string& page, std::string* message);

  using Clock = std::chrono::steady_clock;
  // The page was heard from (a heartbeat, or any press it asks for).
  void Heard(const std::string& page, Clock::time_point now = Clock::now());
  // Lets go of the keys of every page not heard from within `silence`; the
  // number of keys let go. Keys held without a page (a script's) wait for
  // their key up or the server's end.
  size_t ReleaseSilent(std::chrono::milliseconds silence, Clock::time_point now = Clock::now());

  // Lets go of the keys `page` holds; of every key with ReleaseAll.
  void ReleasePage(const std::string& page);
  void ReleaseAll();
  size_t Count() const;

 private:
  struct Held {
    std::string page;
    bool power = false;
    HardwareButton button;
  };
  void Release(const Held& held);
  Result Up(const std::string& page, int key, const std::string& what, std::string* message);

  mutable std::mutex mutex_;
  std::atomic<int> taken_{0};
  std::map<int, Held> held_;  // by virtual key
  std::map<std::string, Clock::time_point> heard_;  // pages, last heard from
};

}  // namespace devicesim::serve
