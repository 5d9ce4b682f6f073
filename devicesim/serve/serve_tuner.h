// The page's tuner: for one hardware button, the person presses as asked
// ("press once", "press and hold", "press twice", "press twice and hold",
// five times each) and the page shows, for the timing in force and the one
// proposed, how many of those presses each reads as meant and how long a
// single press waits; Accept stores the proposal for the button or for
// every button. The same model as tapdeck's dialog (config/model/
// tuner_model.h), fed with the key's downs and ups as the journal dates
// them, whoever pressed the key.
//
// While it records, the page's own presses of that button move the key
// and are journalled, but the shell runs nothing for them (HeldKeys): the
// person's presses must not act. Presses from elsewhere (devicesim press)
// still do. Every call but TakenKey() with the device lock held.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "config/model/tuner_model.h"
#include "devicesim/serve/serve_views.h"

namespace devicesim::serve {

class TunerPanel {
 public:
  TunerPanel();
  ~TunerPanel();

  // Begins recording for the button of `buttons` (as ButtonsJson gives
  // them) whose table entry is `entry`, any letter case; what an earlier
  // recording held is forgotten. False with the reason.
  bool Start(const Json& buttons, const std::string& entry, std::string* error);
  // Forgets the presses and asks from the first kind again.
  bool StartOver(std::string* error);
  // Stops recording; nothing is stored.
  void Stop();
  // Stores the proposal (TunerModel::Accept) and stops; false with the reason.
  bool Accept(bool for_every_button, std::string* error);

  // Follows one journal entry: a "button" entry of the recorded key is a
  // press's key down or up, at the entry's time.
  void Follow(const device::JournalEntry& entry, const Json& fields);

  // True once after anything View() shows has changed.
  bool TakeChanged();
  // {"recording", "entry", "index", "name", "prompt", "notice", "finished",
  // "canAccept", "rows": [{"label", "now", "proposed"}...], "current":
  // {"hold", "double"}, "proposal": {"hold", "double"} or null, "stored":
  // {"entry", "name", "hold", "double", "forEveryButton"} or null}.
  Json View() const;

  // The virtual key whose page presses run nothing now; 0 for none. Any thread.
  int TakenKey() const { return taken_key_.load(); }

 private:
  std::unique_ptr<TunerModel> model_;
  std::string entry_;
  uint32_t index_ = 0;
  std::atomic<int> taken_key_{0};
  Json stored_ = nullptr;
  bool changed_ = true;
};

}  // namespace devicesim::serve
