// What devicesim serve tells its page about the device, as JSON: journal
// entries, the device's state, the hardware buttons with their assignments.
// Every function here that reads the device must be called with the device
// lock held.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/host/device/device.h"

namespace devicesim::serve {

// Ordered: journal fields keep the order they were written in.
using Json = nlohmann::ordered_json;

// The host device layer keeps one database connection (and one "programs
// started" list) per process: the server's threads take turns with it.
std::unique_lock<std::mutex> LockDevice();

// Never throws: text that is not UTF-8 (a lone surrogate from the registry)
// is replaced, not refused.
std::string Dump(const Json& value);

// {"id", "t", "pid", "event", "fields": {...}}; fields that do not read as
// JSON object members come as {"text": "<as stored>"}.
Json EntryJson(const device::JournalEntry& entry);

// Follows the journal and remembers what the page shows beside the screen:
// the program last started by a press and whether the display is on.
class PressFollower {
 public:
  // Journal entries with ids in (after, upto] made by this process are
  // starts the page asked for, not presses.
  void ExcludeOwnStarts(int64_t after, int64_t upto);
  void Follow(const device::JournalEntry& entry, const Json& fields);
  // {"program", "args", "t", "pid"} or null.
  const Json& LastStarted() const { return last_started_; }
  bool DisplayOn() const { return display_on_; }
  // The program a process runs, as the journal tells: the file name of what
  // started it, "devicesim serve" for this server, "devicesim" for another
  // process that pressed a button; empty when unknown.
  std::string ProgramOf(int64_t pid) const;

 private:
  std::map<int64_t, int> pressing_;  // buttons down, by the pid that pressed them
  std::set<int64_t> started_by_press_;
  std::vector<std::pair<int64_t, int64_t>> own_starts_;
  std::map<int64_t, std::string> programs_;
  Json last_started_;
  bool display_on_ = true;
};

// {"orientation": degrees or -1, "rotationSupported", "sip", "keysDown":
// [vk...], "foreground", "program": {"pid", "title", "class"} or null,
// "lastStarted", "displayOn"}.
Json DeviceJson(const PressFollower& follower);

// {"buttons": [{"index", "letter", "entry", "name", "title", "vk",
// "command", "takenOver", "enabled", "assignments": {"single", "hold",
// "double", "doubleHold"}}...], "holdInterval", "dblClickInterval",
// "recordCommand"}: the hardware buttons in the configuration program's
// order (its button index), with their settings.
Json ButtonsJson();

// The hardware keys the page draws, from ButtonsJson's buttons: [{"id",
// "kind": "button", "key" or "power", "place": "front", "side" or "top",
// "vk", "label", "title"}...], the buttons in table order, then the
// device's keys that the table does not have ("id" their code, "0xC7"), in
// code order, then the power key.
Json KeysJson(const Json& buttons);

}  // namespace devicesim::serve
