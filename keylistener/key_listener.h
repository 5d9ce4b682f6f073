// The resident key listener's work: every user-defined button's key held as
// a hot key of the listener's hidden window, and on a key's first down (not
// its auto-repeat) the press launcher started with that button's page
// position, as the shell starts a taken-over button's command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

// One entry of the stored list as the listener took it.
struct ListenedButton {
  uint32_t key_code = 0;
  std::u16string name;
  uint32_t page_position = 0;  // hardware buttons first, then the list
  bool listening = false;      // its hot key is registered
  bool held_elsewhere = false; // another program holds the key: tried again
};

class KeyListener {
 public:
  explicit KeyListener(plat::Window window);
  ~KeyListener();  // gives every hot key back
  KeyListener(const KeyListener&) = delete;
  KeyListener& operator=(const KeyListener&) = delete;

  // Reads the list and counts the hardware buttons again (as the
  // configuration program does), gives back the hot keys held so far and
  // takes one for each usable entry; logs each entry and why one is not
  // listened to. Keeps "VirtualKey" + letter of every usable position equal
  // to its key code. The list's length. When the list or the hardware
  // buttons cannot be read, nothing changes: the buttons taken so far stay,
  // ReadError says why (0 after a whole read), and the count is theirs.
  size_t Load();
  uint32_t ReadError() const { return read_error_; }
  // Stops watching keys and gives every hot key back (as the destructor does).
  void Release();
  // A watched key moved (plat::WatchKeys): each key down starts the
  // launcher with the press dated, so that it is read from when the key
  // really went down and up however late the launcher runs.
  void OnKeyEvent(uintptr_t key_and_up, intptr_t stamp);
  // The hot key `id` went down. Only where keys cannot be watched does it
  // start the launcher (undated): the first down does, further ones
  // (auto-repeat) do nothing until the key has been seen up.
  void OnHotKey(int id);
  // The key poll of undated keys: keys seen up are forgotten; the poll stops
  // when none is down.
  void OnKeyPoll();
  // Tries again each key another program held: one it has let go of is
  // listened to from now on. The retry timer runs while any is held.
  void RetryHeldKeys();

  // Gives every key back for a while, keeping the buttons to show; Load
  // takes them again and ends the pause.
  void Pause();
  bool Paused() const { return paused_; }

  const std::vector<ListenedButton>& Buttons() const { return buttons_; }
  bool AnyKeyDown() const { return !down_.empty(); }

  // The timer that watches keys go up, and how often (milliseconds).
  static constexpr uintptr_t kKeyPollTimer = 1;
  static constexpr uint32_t kKeyPollMs = 10;
  // How often keys another program holds are tried again.
  static constexpr uintptr_t kRetryTimer = 2;
  static constexpr uint32_t kRetryMs = 2000;

 private:
  // Stops watching, gives every hot key back and stops the timers; the
  // buttons stay.
  void StopKeys();
  void UnregisterAll();
  void Watch();
  void TimeRetries();
  void Launch(const ListenedButton& button, const intptr_t* stamp);

  plat::Window window_;
  std::vector<ListenedButton> buttons_;  // in list order; hot key id = index + 1
  bool watching_ = false;                // key events come dated
  std::set<uint32_t> down_;              // undated keys seen down and not yet up
  uint32_t read_error_ = 0;
  bool paused_ = false;
};

// The program: one instance (a second start tells the first to read the list
// again and ends; one that comes while the first is ending waits for it and
// listens itself), the log "listener.log" in the application folder, the
// hidden window and its message loop. Its exit code: 1 when it could not
// listen (no window, the list unreadable).
int RunKeyListener();

// Asks a running listener to end and waits until it has, up to `limit_ms`
// (as an uninstaller must before it removes the program): 0 when no
// listener runs any more, also when none ran; 1 when one still runs.
int QuitRunningListener(uint32_t limit_ms);
