// The keys devicesim serve holds down for its clients: a hardware button
// goes down and up as separate requests, so the server remembers which
// client holds which key and lets every one of them go when that client goes
// away (for a page: its event stream ends; for a connection: it closes; for
// either: it is not heard from for a while, whichever comes first) or the
// server stops. A client is named by the caller (serve_http.h: a page's id,
// or a connection's name). A key already down cannot go down again, nor a
// key that is up go up. With a ledger (serve_ledger.h), every key is in it
// before it goes down and until it has gone up.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "devicesim/serve/serve_ledger.h"
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

  // Keeps the keys held in `ledger` from now on (not owned).
  void SetLedger(KeyLedger* ledger);

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
  // Lets go of the keys of every client not heard from within `silence`;
  // the number of keys let go.
  size_t ReleaseSilent(std::chrono::milliseconds silence, Clock::time_point now = Clock::now());

  // Lets go of the keys `page` holds; of every key with ReleaseAll.
  void ReleasePage(const std::string& page);
  void ReleaseAll();
  size_t Count() const;

  // Keys a server that is gone held (its ledger): each goes up, journalled as
  // any key up, unless it was pressed again since (a button whose holder
  // died reads as up, but its key up was never journalled). The keys let
  // go, as "0xC1 (40C1)".
  std::vector<std::string> ReleaseLeftBehind(const std::vector<LedgerKey>& keys);

 private:
  struct Held {
    std::string page;
    bool power = false;
    HardwareButton button;
    int64_t since = 0, down_at = 0;  // as LedgerKey has them
  };
  // With the device lock held: the key of `code` is down now; its press's time for the ledger.
  void NoteDown(int code);
  void Release(const Held& held);
  Result Up(const std::string& page, int key, const std::string& what, std::string* message);
  // With mutex_ held: the ledger now says what held_ does.
  void RecordLocked();

  mutable std::mutex mutex_;
  std::atomic<int> taken_{0};
  std::map<int, Held> held_;  // by virtual key
  std::map<std::string, Clock::time_point> heard_;  // pages, last heard from
  KeyLedger* ledger_ = nullptr;
  bool ledger_failed_ = false;  // said once
};

}  // namespace devicesim::serve
