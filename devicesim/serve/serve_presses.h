// Every press of a hardware button as part of a series, and what the series
// did: the launcher processes each press started, which of them acted, the
// press slot it dispatched and its action, told from what the programs
// already leave behind: the journal (the keys, the launchers' starts, and
// what a launcher did that a person would see) and the launcher's closing
// report (launch.log), which names the slot of every dispatch that is not a
// shell launch. A shell launch's slot is the one with the opened file among
// the press count's slots; where both have it, the launcher's own rule
// tells (waited for the hold interval with the key still down: held).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "devicesim/serve/serve_views.h"

namespace devicesim::serve {

// The launcher's closing report, as launch.log holds it after a dispatch.
struct ClosingReport {
  uint32_t button = 0;
  int32_t press_count = 0;
  bool hold = false;
  std::string shortcut;  // the assignment dispatched; empty: unassigned
  bool success = false;
  int64_t written_ms = 0;  // the file's last change, wall clock
};
// Reads a whole report ("Launch button ..." to "Success" or "Error: N");
// false for anything else, a report cut short included.
bool ParseClosingReport(const std::string& text, ClosingReport* report);
// The report in the application folder's launch.log now, if there is one.
// Call with the device lock held.
std::optional<ClosingReport> ReadClosingReport();

class PressTimeline {
 public:
  // The button table and the timings in force, as ButtonsJson gives them:
  // a series takes them at its first press.
  void SetButtons(const Json& buttons);
  // Follows one journal entry, of any process, in journal order.
  void Follow(const device::JournalEntry& entry, const Json& fields);
  // Launchers that have not been seen to end.
  std::vector<int64_t> Running() const;
  // Launcher `pid` has ended (noticed at wall-clock `t_ms`); `report` is
  // launch.log as it is now.
  void Ended(int64_t pid, int64_t t_ms, const std::optional<ClosingReport>& report);
  // True once after anything the series show has changed.
  bool TakeChanged();
  // The latest series, oldest first: see serve_presses.cpp for the fields.
  Json SeriesJson() const;

  static constexpr size_t kKeptPresses = 64;
  static constexpr size_t kShownSeries = 12;

 private:
  struct Action {
    int64_t id = 0, t = 0;
    std::string event;
    Json fields;
    bool own = true;  // made by the launcher itself, not by a program it started
  };
  struct Launcher {
    int64_t pid = 0;
    uint32_t button = 0;
    int64_t started_t = 0;
    bool ended = false;
    int64_t ended_t = 0;
    std::vector<Action> actions;
    std::optional<ClosingReport> report;
  };
  struct Press {
    int64_t id = 0;  // the key-down entry's
    std::string entry;
    int64_t down_t = 0;
    int64_t up_id = 0, up_t = 0;  // 0: still down
    int64_t launcher = 0;         // its TapdeckX process
    std::vector<Action> shell;    // what the shell did instead (a button not taken over)
    bool shell_done = false;      // the shell has run the command
    Json settings;                // the button's row and the timings, as they were
  };
  struct Decision;

  Press* FindPress(int64_t id);
  Launcher* LauncherOf(int64_t pid);
  Json SeriesOf(const std::vector<const Press*>& presses) const;

  Json buttons_ = nullptr;
  std::deque<Press> presses_;
  std::map<int64_t, Launcher> launchers_;
  std::map<int64_t, int64_t> owner_;      // a launcher's descendants: pid -> launcher
  std::map<int64_t, int64_t> pressing_;   // a process pressing a button now -> its press
  std::set<std::pair<int64_t, std::string>> claimed_;  // reports already told to a launcher
  bool changed_ = false;
};

}  // namespace devicesim::serve
