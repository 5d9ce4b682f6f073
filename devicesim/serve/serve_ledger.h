// The keys a devicesim serve holds down, kept in the device folder while it
// runs, so that a server killed with a key down (kill -9, a crash) does not
// leave it down for good: the next server to start on the device lets go of
// what a server that is gone left in its ledger.
//
// Each server has a ledger of its own ("serve-keys.PID"), rewritten whole
// (a new file renamed over the old) before a key goes down and after it
// goes up, and a lock file beside it ("serve-keys.PID.lock") that it holds
// locked while it runs: a ledger whose lock can be taken is left behind.
// Host build only.
#pragma once

#include <string>
#include <vector>

#include "devicesim/shell/press.h"

namespace devicesim::serve {

struct LedgerKey {
  bool power = false;     // the power key (0xDF), pressed by its code
  HardwareButton button;  // otherwise: the button, as it went down
  // The device's time (device::NowMs) just before the key went down, and
  // its press's time as the device keeps it (KeyDownAt) once it was down (0
  // until then): a key pressed again since is not the gone server's.
  int64_t since = 0;
  int64_t down_at = 0;
};

class KeyLedger {
 public:
  KeyLedger() = default;
  ~KeyLedger();
  KeyLedger(const KeyLedger&) = delete;
  KeyLedger& operator=(const KeyLedger&) = delete;

  // Makes this process's ledger in `folder`, empty and locked. False with a
  // message when it cannot: the server then runs without one.
  bool Open(const std::string& folder, std::string* error);
  bool IsOpen() const { return lock_fd_ >= 0; }
  // The keys held now; false with a message when the ledger could not be
  // written (the one before it stays whole).
  bool Record(const std::vector<LedgerKey>& keys, std::string* error);
  // All keys went up: the ledger and its lock go. (So they do when the
  // ledger is destroyed listing none.)
  void Close();

 private:
  std::string path_;
  int lock_fd_ = -1;
  bool holding_ = false;  // the ledger lists keys
};

// A ledger a server that is gone left behind, locked by the caller until
// Forget, so that two servers starting at once do not both let go.
struct LeftBehind {
  std::string path;
  std::vector<LedgerKey> keys;
  std::string problem;  // the ledger could not be read whole: which keys is unknown
  int lock_fd = -1;
};

// The ledgers in `folder` whose servers are gone.
std::vector<LeftBehind> FindLeftBehind(const std::string& folder);
// Removes a ledger once its keys went up, and lets go of its lock.
void Forget(LeftBehind* ledger);

// The ledger's text, and back (false for anything else, a ledger cut
// short included).
std::string LedgerText(const std::vector<LedgerKey>& keys);
bool ParseLedger(const std::string& text, std::vector<LedgerKey>* keys);

}  // namespace devicesim::serve
