#include "keylistener/key_listener.h"

#include "keylistener/listener_control.h"
#include "keylistener/listener_icon.h"
#include "platform/ui.h"
#include "shared/button_model.h"
#include "shared/debuglog.h"
#include "shared/press_notice.h"
#include "shared/settings.h"
#include "shared/text.h"
#include "shared/user_buttons.h"

namespace {

constexpr char16_t kInstanceMutex[] = u"QuadrakeyKeyListenerMutex";
constexpr char16_t kLogName[] = u"listener.log";
// Longer names are cut in the log: a name is the user's, and its length is not ours to choose.
constexpr size_t kLoggedNameChars = 60;
// How long a listener started while another holds the lock waits for it to
// end, and how often it looks.
constexpr uint32_t kTakeOverLimitMs = 10000;
constexpr uint32_t kTakeOverPollMs = 50;
constexpr int kStartReadAttempts = 3;
constexpr uint32_t kStartReadRetryMs = 200;

std::u16string Decimal(uint32_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// A name as one log line can hold it: control characters (a line break
// would start a line of its own) become '?', and a long name is cut.
std::u16string LoggedName(const std::u16string& name) {
  std::u16string shown;
  for (char16_t c : name) {
    if (shown.size() == kLoggedNameChars) return shown + u"...";
    shown += (c < 0x20 || c == 0x7F) ? u'?' : c;
  }
  return shown;
}

// The hardware buttons' keys: the shell takes them itself. Each is the
// code the configuration program stored for it, else (before its first run)
// the key the table entry's name encodes. False with the error when the
// table could not be read whole: keys counted from a part would move every
// user-defined button onto another's position.
bool ReadHardwareKeys(std::vector<uint32_t>* keys, uint32_t* error) {
  keys->clear();
  const ButtonTable table = ReadButtonTable();
  *error = table.read_error;
  if (*error != 0) return false;
  const std::vector<const ButtonTableEntry*> buttons = table.Buttons();
  for (size_t i = 0; i < buttons.size(); ++i) {
    uint32_t key = GetVirtualKey(static_cast<uint32_t>(i));
    if (key == 0) {
      const int named = EntryVirtualKey(buttons[i]->Entry());
      if (named > 0) key = static_cast<uint32_t>(named);
    }
    keys->push_back(key);
  }
  return true;
}

KeyListener* running_listener = nullptr;
// The listener ended because it was asked to, not because its list is empty.
bool end_asked = false;
// Whether the icon showed at its last try: a missing notification area is
// logged once, not at every change.
bool icon_shown = true;

// The icon tells what the listener does now. Without a notification area
// the listener goes on listening all the same.
ListenerIcon shown_icon;  // what the icon shows now

void ShowIcon(plat::Window window, bool changed_only = false) {
  const ListenerIcon icon = DescribeListener(running_listener->Buttons(), running_listener->Paused());
  // The retry timer asks every 2 seconds; the icon changes far less often.
  if (changed_only && icon_shown && icon == shown_icon) return;
  const bool shown = plat::ShowTrayIcon(window, icon.tip, icon.menu);
  if (shown) shown_icon = icon;
  if (!shown && icon_shown) {
    LogFormat(u"No notification area to show the icon in (error %ld): the listener goes on listening without it\n",
              false, plat::GetLastError());
  } else if (shown && !icon_shown) {
    LogText(u"The icon shows now.\n");
  }
  icon_shown = shown;
}

// Gives every key back and the window goes at once: a listener started from
// now on finds none to tell, waits for this one to end and listens itself.
void EndListening(plat::Window window) {
  running_listener->Release();
  plat::RemoveTrayIcon(window);
  plat::DestroyMessageWindow(window);
  plat::PostQuit(0);
}

void OpenTapdeck() {
  const std::u16string program = GetAppFolderPath(u"tapdeck.exe");
  if (!plat::CreateProcess(program, u"")) {
    LogFormat(u"Cannot start %s (error %ld)\n", false, program, plat::GetLastError());
  }
}

void OnIconCommand(plat::Window window, uintptr_t command) {
  switch (command) {
    case kIconOpenTapdeck:
      OpenTapdeck();
      break;
    case kIconPause:
      if (running_listener->Paused()) {
        LogText(u"Resumed from the icon's menu: the listener takes its keys again.\n");
        if (running_listener->Load() == 0 && running_listener->ReadError() == 0) {
          LogText(u"The list is empty; the listener ends.\n");
          EndListening(window);
          return;
        }
      } else {
        running_listener->Pause();
        LogText(u"Paused from the icon's menu: every key is given back until Resume.\n");
      }
      ShowIcon(window);
      break;
    case kIconQuit:
      LogText(u"Quit from the icon's menu: the listener ends for this session (it starts again at sign-in).\n");
      end_asked = true;
      EndListening(window);
      break;
    default:
      break;
  }
}

intptr_t ListenerWindowProc(plat::Window window, plat::WindowEvent event, uintptr_t first, intptr_t second) {
  if (running_listener == nullptr) return 0;
  switch (event) {
    case plat::WindowEvent::kKeyEvent:
      running_listener->OnKeyEvent(first, second);
      break;
    case plat::WindowEvent::kHotKey:
      running_listener->OnHotKey(static_cast<int>(first));
      break;
    case plat::WindowEvent::kTimer:
      if (first == KeyListener::kKeyPollTimer) running_listener->OnKeyPoll();
      if (first == KeyListener::kRetryTimer) {
        running_listener->RetryHeldKeys();
        ShowIcon(window, true);
      }
      break;
    case plat::WindowEvent::kTrayCommand:
      OnIconCommand(window, first);
      break;
    case plat::WindowEvent::kAppText:
      if (first == kListenerNotice && second != 0 && !plat::ShowNotice(window, *reinterpret_cast<const std::u16string*>(second), kPressNoticeMs)) {
        LogFormat(u"Cannot show a press notice (error %ld)\n", false, plat::GetLastError());
      }
      break;
    case plat::WindowEvent::kSessionEnd:
      // The system ends the program once this returns: the keys go back now.
      LogText(u"The session ends: the listener gives its keys back.\n");
      end_asked = true;
      EndListening(window);
      break;
    case plat::WindowEvent::kAppMessage:
      if (first == kListenerReadList) {
        // A change made in Quadrakey ends a pause: the person expects the
        // button just set up to work at once.
        if (running_listener->Load() == 0 && running_listener->ReadError() == 0) {
          LogText(u"The list is empty; the listener ends.\n");
          EndListening(window);
        } else {
          ShowIcon(window);
        }
      } else if (first == kListenerEnd) {
        LogText(u"Asked to end.\n");
        end_asked = true;
        EndListening(window);
      }
      break;
    default:
      break;
  }
  return 0;
}

// Another listener holds the single-instance lock: one that runs is told to
// read the list again; one that is ending (its window already gone) is
// waited for, and this one listens instead. True when this one is to run.
bool TakeOver(plat::Mutex instance, bool* failed) {
  for (uint32_t waited = 0;; waited += kTakeOverPollMs) {
    if (TellKeyListenerListChanged()) return false;
    if (waited >= kTakeOverLimitMs) return false;  // still starting up: it reads the list itself
    const plat::WaitResult got = plat::WaitForMutex(instance, kTakeOverPollMs);
    if (got == plat::WaitResult::Acquired) return true;
    if (got == plat::WaitResult::Failed) {
      *failed = true;
      return false;
    }
  }
}

// A failed read is not an empty list; a second try at start-up rides out a
// moment's lock or a slow card.
size_t LoadAtStart(KeyListener& listener) {
  size_t count = listener.Load();
  for (int attempt = 1; attempt < kStartReadAttempts && listener.ReadError() != 0; ++attempt) {
    plat::Sleep(kStartReadRetryMs);
    count = listener.Load();
  }
  return count;
}

}  // namespace

KeyListener::KeyListener(plat::Window window) : window_(window) {}

KeyListener::~KeyListener() { Release(); }

void KeyListener::Release() {
  StopKeys();
  buttons_.clear();
}

void KeyListener::Pause() {
  StopKeys();
  for (ListenedButton& button : buttons_) {
    button.listening = false;
    button.held_elsewhere = false;
  }
  paused_ = true;
}

void KeyListener::StopKeys() {
  if (watching_) plat::WatchKeys(window_, {});
  watching_ = false;
  UnregisterAll();
  down_.clear();
  plat::KillTimer(window_, kKeyPollTimer);
  plat::KillTimer(window_, kRetryTimer);
}

void KeyListener::UnregisterAll() {
  // Every id asked for, held or refused: a refusal the device remembers is
  // forgotten with it.
  for (size_t i = 0; i < buttons_.size(); ++i) plat::UnregisterHotKey(window_, static_cast<int>(i + 1));
}

size_t KeyListener::Load() {
  UserButtonList list;
  list.Load();
  std::vector<uint32_t> hardware_keys;
  read_error_ = list.ReadError();
  if (read_error_ == 0) ReadHardwareKeys(&hardware_keys, &read_error_);
  if (read_error_ != 0) {
    LogFormat(buttons_.empty() ? u"The list cannot be read (error %ld)\n"
                               : u"The list cannot be read (error %ld): the listener goes on with the buttons it had\n",
              false, read_error_);
    return buttons_.size();
  }
  UnregisterAll();
  buttons_.clear();
  paused_ = false;
  const size_t hardware = hardware_keys.size();
  LogFormat(u"Reading the list (hardware buttons: %ld, user-defined buttons: %ld)\n", false,
            static_cast<uint32_t>(hardware), static_cast<uint32_t>(list.Count()));
  for (size_t i = 0; i < list.Count(); ++i) {
    ListenedButton button;
    button.key_code = list.KeyCodeAt(i);
    button.name = list.NameAt(i);
    button.page_position = static_cast<uint32_t>(hardware + i);
    const std::u16string shown = LoggedName(button.name);
    const uint32_t code = button.key_code;
    LogFormat(u"  %ld: key %ld \"%s\" as button %ld: ", false, static_cast<uint32_t>(i), code, shown,
              button.page_position);
    bool usable = true;
    if (code < 1 || code > 0xFE) {
      LogText(u"not listened to, not a key (codes run from 1 to 254)\n");
      usable = false;
    } else if (button.page_position >= kButtonPositionLimit) {
      LogFormat(u"not listened to, button %ld has no settings of its own (only buttons 0 to %ld do)\n", false,
                button.page_position, kButtonPositionLimit - 1);
      usable = false;
    } else {
      for (size_t h = 0; h < hardware_keys.size() && usable; ++h) {
        if (hardware_keys[h] == code) {
          LogFormat(u"not listened to, the key is hardware button %ld's\n", false, static_cast<uint32_t>(h));
          usable = false;
        }
      }
    }
    if (usable) {
      // The launcher asks for the key's state under this name to tell a hold.
      if (GetVirtualKey(button.page_position) != code) SetVirtualKey(button.page_position, code);
      button.listening = plat::RegisterHotKey(window_, static_cast<int>(i + 1), 0, code);
      if (button.listening) {
        LogText(u"listening\n");
      } else {
        const uint32_t error = plat::GetLastError();
        button.held_elsewhere = error == plat::kErrorHotKeyAlreadyRegistered;
        LogFormat(button.held_elsewhere
                      ? u"not listened to, another program holds the key (error %ld): tried again until it lets go\n"
                      : u"not listened to, the key cannot be registered (error %ld)\n",
                  false, error);
      }
    }
    buttons_.push_back(std::move(button));
  }
  Watch();
  TimeRetries();
  return buttons_.size();
}

void KeyListener::TimeRetries() {
  for (const ListenedButton& button : buttons_) {
    if (button.held_elsewhere) {
      plat::SetTimer(window_, kRetryTimer, kRetryMs);
      return;
    }
  }
  plat::KillTimer(window_, kRetryTimer);
}

// A key held at sign-in by a program that ends later would otherwise stay
// dead until the listener is started again.
void KeyListener::RetryHeldKeys() {
  bool freed = false;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    ListenedButton& button = buttons_[i];
    if (!button.held_elsewhere) continue;
    if (plat::RegisterHotKey(window_, static_cast<int>(i + 1), 0, button.key_code)) {
      button.listening = true;
      button.held_elsewhere = false;
      freed = true;
      LogFormat(u"  %ld: key %ld \"%s\" as button %ld: listening, the other program has let it go\n", false,
                static_cast<uint32_t>(i), button.key_code, LoggedName(button.name), button.page_position);
    } else if (const uint32_t error = plat::GetLastError(); error != plat::kErrorHotKeyAlreadyRegistered) {
      button.held_elsewhere = false;
      LogFormat(u"  %ld: key %ld \"%s\" as button %ld: ", false, static_cast<uint32_t>(i), button.key_code,
                LoggedName(button.name), button.page_position);
      LogFormat(u"not listened to, the key cannot be registered (error %ld)\n", false, error);
    }
  }
  if (freed) Watch();
  TimeRetries();
}

void KeyListener::Watch() {
  std::vector<uint32_t> keys;
  for (const ListenedButton& button : buttons_)
    if (button.listening) keys.push_back(button.key_code);
  const bool was_watching = watching_;
  watching_ = plat::WatchKeys(window_, keys);
  if (!watching_ && (was_watching || !keys.empty())) {
    // Hot keys still start the launcher, which then times each press from
    // its own start.
    LogFormat(u"The keys' presses cannot be dated (error %ld): each is timed from when its launcher starts\n",
              false, plat::GetLastError());
  }
  if (watching_) {
    down_.clear();
    plat::KillTimer(window_, kKeyPollTimer);
  }
}

void KeyListener::Launch(const ListenedButton& button, const intptr_t* stamp) {
  const std::u16string program = GetAppFolderPath(u"TapdeckX.exe");
  const std::u16string position = Decimal(button.page_position);
  const bool started = stamp != nullptr
                           ? plat::StartPressLauncher(program, position, static_cast<int>(button.key_code), *stamp)
                           : plat::CreateProcess(program, position);
  if (!started) {
    LogFormat(u"Key %ld: cannot start %s (error %ld)\n", false, button.key_code, program, plat::GetLastError());
  }
}

void KeyListener::OnKeyEvent(uintptr_t key_and_up, intptr_t stamp) {
  if (!watching_ || (key_and_up & plat::kKeyEventUp) != 0) return;
  const uint32_t key = static_cast<uint32_t>(key_and_up & 0xFF);
  for (const ListenedButton& button : buttons_) {
    if (button.listening && button.key_code == key) {
      Launch(button, &stamp);
      return;
    }
  }
}

void KeyListener::OnHotKey(int id) {
  if (watching_ || id < 1 || static_cast<size_t>(id) > buttons_.size()) return;
  const ListenedButton& button = buttons_[static_cast<size_t>(id) - 1];
  if (!button.listening) return;
  // Auto-repeat sends the same hot key again while the key stays down.
  if (!down_.insert(button.key_code).second) return;
  Launch(button, nullptr);
  plat::SetTimer(window_, kKeyPollTimer, kKeyPollMs);
}

void KeyListener::OnKeyPoll() {
  for (auto key = down_.begin(); key != down_.end();) {
    if ((plat::GetAsyncKeyState(static_cast<int>(*key)) & 0x8000) == 0) {
      key = down_.erase(key);
    } else {
      ++key;
    }
  }
  if (down_.empty()) plat::KillTimer(window_, kKeyPollTimer);
}

int RunKeyListener() {
  plat::Mutex instance = plat::CreateNamedMutex(kInstanceMutex);
  if (instance == nullptr) return 1;
  const plat::WaitResult got = plat::WaitForMutex(instance, 0);
  if (got != plat::WaitResult::Acquired) {
    bool failed = got == plat::WaitResult::Failed;
    if (failed || !TakeOver(instance, &failed)) {
      plat::CloseMutex(instance);
      return failed ? 1 : 0;
    }
  }
  // A moment's failed read of the folder would put the log where no one
  // looks for the listener's whole life.
  std::u16string log_path = GetLogFilePath(kLogName);
  for (int attempt = 1; attempt < kStartReadAttempts && log_path == kLogName; ++attempt) {
    plat::Sleep(kStartReadRetryMs);
    log_path = GetLogFilePath(kLogName);
  }
  SetLogFile(log_path);
  SetLogFlush(true);
  ResetLogFile();
  EnableLog(true);
  int code = 0;
  for (bool listen = true; listen;) {
    listen = false;
    const plat::Window window = plat::CreateMessageWindow(kKeyListenerClass, ListenerWindowProc);
    if (window == 0) {
      LogFormat(u"Cannot make the listener's window (error %ld)\n", false, plat::GetLastError());
      code = 1;
      break;
    }
    end_asked = false;
    {
      KeyListener listener(window);
      running_listener = &listener;
      const size_t count = LoadAtStart(listener);
      if (listener.ReadError() != 0) {
        LogText(u"The listener ends: without the list it cannot tell one button from another.\n");
        code = 1;
      } else if (count == 0) {
        LogText(u"The list is empty; the listener ends.\n");
      } else {
        icon_shown = true;
        ShowIcon(window);
        code = plat::RunMessageLoop();
      }
      plat::RemoveTrayIcon(window);
      running_listener = nullptr;
    }
    plat::DestroyMessageWindow(window);  // when it is not gone already
    if (code == 0 && !end_asked) {
      // A start told the window in its last moments is lost with it; the
      // list it was told of is not.
      UserButtonList list;
      list.Load();
      if (list.Count() > 0 && list.ReadError() == 0) {
        LogText(u"The list changed as the listener ended: it reads it again.\n");
        listen = true;
      }
    }
  }
  plat::ReleaseMutex(instance);
  plat::CloseMutex(instance);
  return code;
}

int QuitRunningListener(uint32_t limit_ms) {
  plat::Mutex instance = plat::CreateNamedMutex(kInstanceMutex);
  if (instance == nullptr) return 1;
  int code = 1;
  // A listener holds the lock until it has given its keys back; one still
  // starting up has no window to tell yet, and is told once it has.
  for (uint32_t waited = 0; waited <= limit_ms; waited += kTakeOverPollMs) {
    StopKeyListener();
    const plat::WaitResult got = plat::WaitForMutex(instance, kTakeOverPollMs);
    if (got == plat::WaitResult::Acquired || got == plat::WaitResult::Abandoned) {
      plat::ReleaseMutex(instance);
      code = 0;
      break;
    }
    if (got == plat::WaitResult::Failed) break;
  }
  plat::CloseMutex(instance);
  return code;
}
