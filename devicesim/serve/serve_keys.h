// The keys devicesim serve holds down for its pages: a hardware button goes
// down and up as separate requests, so the server remembers which page
// holds which key and lets every one of them go when that page goes away or
// the server stops. A key already down cannot go down again, nor a key that
// is up go up.
#pragma once

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
  Result ButtonDown(const std::string& page, const std::string& name, const std::string& output_file,
                    std::string* message);
  Result ButtonUp(const std::string& page, const std::string& name, std::string* message);
  // The power key (virtual key 0xDF), journalled as a key event.
  Result PowerDown(const std::string& page, std::string* message);
  Result PowerUp(const std::string& page, std::string* message);

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
  std::map<int, Held> held_;  // by virtual key
};

}  // namespace devicesim::serve
