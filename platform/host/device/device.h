// The emulated Pocket PC behind the host backend: what devicesim and the
// tests may reach beyond platform.h. Device programs never include this.
//
// A device folder holds registry.db (registry, device state and journal in
// one SQLite database, WAL, busy timeout), fs/ (the device's file system)
// and locks/ (one flock file per named mutex).
//
// Durability, chosen: every write is atomic and is in the write-ahead log
// (registry.db-wal) before the call returns, so a program killed at any
// point loses nothing it committed, and the next reader in any process sees
// it. The log is not synced at each commit: it is synced, and folded back
// into registry.db, once it holds 64 pages, by the program whose commit
// passes that: as it ends for a device program or devicesim (FoldLogAtEnd),
// so that a press never waits for the disk before it acts (one that runs
// long folds within a commit at 1,024 pages), else within that commit. A
// power loss or a crash of the machine may therefore take back the commits
// made since the last fold, never corrupt what stays, as the device's own
// registry keeps its latest writes in memory until it flushes. The log stays
// between programs (shorter than 64 pages, it is not folded at an end):
// registry.db, registry.db-wal and registry.db-shm together are the
// registry; copy or move the device folder, never registry.db alone.
//
// Host specifics of the platform calls: a missing device makes every call
// fail with error 3 and never creates a database; listing the root folder
// gives no "." and ".."; a corrupt registry.db fails calls with 1015; a
// shortcut or association chain deeper than 8 (a loop) fails with 1921; the
// desktop window exists unless switched off and is the first foreground
// window; MessageBox never blocks (journal, stderr, kIdOk) unless the
// program runs a window system: see platform/host/ui/window_system.h.
//
// Threads. A process has one connection to registry.db, opened on its first
// call and shared by every call of platform.h and of this header, together
// with the process's list of programs it started and its journal
// transaction. Calls that reach the device must therefore come from one
// thread at a time: the device programs have one thread; devicesim serve
// makes every such call under its device lock (serve::LockDevice), from
// whichever of its threads. The last error is kept per thread. These reach
// no device and may be called from any thread at any time: ToUtf8,
// FromUtf8, ErrorText, JsonString, NowMs, ProcessStartTime, the channel's
// codec (platform/host/ui/channel.h), and Folder, as long as SetFolder is
// called only before a second thread starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace device {

// ---- Text -----------------------------------------------------------------
// The host's 8-bit form of device text (registry names, host paths, what
// devicesim prints): UTF-8, except that an unpaired surrogate keeps its own
// 3-byte form, so that names which differ only there stay different, as they
// do on the device. Text files are written as strict UTF-8 instead.
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

// ---- Errors ---------------------------------------------------------------
// A Win32 number as devicesim shows it: "error 112: the disk is full".
std::string ErrorText(uint32_t code);

// ---- Where the device is -------------------------------------------------
// QUADRAKEY_DEVICE, else $XDG_DATA_HOME/quadrakey/device, else
// ~/.local/share/quadrakey/device.
std::string DefaultFolder();
// The folder the backend uses (QUADRAKEY_DEVICE is read once per process;
// SetFolder overrides it, also for the programs this process starts).
std::string Folder();
void SetFolder(const std::string& folder);
// This process folds the log as it ends (plat::ExitProcess calls
// FoldLogIfDue), not within the commit that passes 64 pages. The device
// programs' entry and devicesim ask for it; the tests fold within commits.
void FoldLogAtEnd();
// Folds the log when this process asked to fold at its end and its last
// commit left 64 pages or more; true when it folded.
bool FoldLogIfDue();
// True when the folder holds a device (registry.db exists).
bool Exists();
// Makes an empty device in the folder: registry.db with its tables, fs/,
// locks/. False with a message in *error when it cannot.
bool Create(std::string* error);

// Host path of a device path. Each existing component is matched without
// regard to case; missing components are kept as written; "." and ".." are
// resolved without ever leaving fs/.
std::string HostPath(const std::u16string& device_path);

// ---- Reading the device -----------------------------------------------------
// Every read and write below reports a device that cannot be read or written
// (a read-only folder, a full disk, a corrupt registry.db): false with the
// last error set, never the look of missing data or of a default.

// Opens the registry for this process and reads from it, as a program's
// first call would; false with the last error (3: no device) when it cannot.
bool Open();

// ---- Registry beyond the program's view ---------------------------------
struct RegValue {
  std::u16string name;
  uint32_t type;
  std::string data;  // raw bytes (REG_SZ: UTF-16LE with its zero)
};
// Values of a key in name order. False with error 2 when the key is missing.
bool ListValues(plat::RegRoot root, const std::u16string& path, std::vector<RegValue>* out);
// Subkey names in enumeration order. False with error 2 when the key is missing.
bool ListSubkeys(plat::RegRoot root, const std::u16string& path, std::vector<std::u16string>* out);
// False with error 2 when the key is missing, with another when it cannot tell.
bool KeyExists(plat::RegRoot root, const std::u16string& path);
// The key's path as the registry spells it (the path names it in any case);
// false when the key is missing.
bool StoredKeyPath(plat::RegRoot root, const std::u16string& path, std::u16string* stored);
// Calls `visit` for the key and every key below it, each before its subkeys
// and subkeys in enumeration order, with the key's path as the registry
// spells it and its values in name order. One read transaction, and each key
// is reached from its parent, so a deep tree costs no more per key than a
// shallow one. `visit` returns false to stop. False when the key is missing,
// a read fails or `visit` stopped.
using KeyVisitor = bool (*)(const std::u16string& stored_path, const std::vector<RegValue>& values,
                            void* context);
bool VisitKeyTree(plat::RegRoot root, const std::u16string& path, KeyVisitor visit, void* context);
// UTF-16LE bytes of a text, and the code units of UTF-16LE bytes (an odd last
// byte is not part of any unit): registry data and registry editor files.
std::string ToUtf16Le(const std::u16string& text);
std::u16string FromUtf16Le(const std::string& bytes);
// A REG_SZ value's data: the text's UTF-16LE code units and a terminating zero.
std::string RegTextData(const std::u16string& text);
// The text in REG_SZ data, as the device's programs read it: the code units
// up to the first zero (all of them when there is none); an odd last byte is
// not part of any unit.
std::u16string RegTextOf(const std::string& data);
// Runs `body` as one transaction: all or nothing.
bool Transaction(bool (*body)(void*), void* context);

// ---- Many registry changes as one -----------------------------------------
// What a registry editor file asks for, in file order.
struct RegChange {
  enum Kind { kDeleteKey, kCreateKey, kSetValue, kDeleteValue };
  Kind kind;
  plat::RegRoot root;
  std::u16string path;
  std::u16string name;  // kSetValue, kDeleteValue; empty: the default value
  uint32_t type = 0;
  std::string data;
};
struct RegChangeFailure {
  size_t index = 0;     // the change that failed; the count of changes when
                        // the registry refused to begin or to commit
  bool at_key = false;  // its key could not be read, opened or made
  uint32_t error = 0;
};
// Makes the changes in order, all or nothing, as the registry calls would
// one by one (a missing key or value to delete is no failure; each change
// passes the fault table as those calls do). The keys are found and the
// work planned before the write lock is taken, so other programs wait for
// the import only while its rows are written, never for its planning; a
// deep key costs its path once, not once per level. False with *failure.
bool ApplyRegChanges(const std::vector<RegChange>& changes, RegChangeFailure* failure);

// ---- Device state -------------------------------------------------------
// A key this process puts down is held by it: once the process has ended
// without putting it up (killed), the key reads as up everywhere. Keys sent
// as key events (KeybdEvent) have no holder.
bool IsKeyDown(int virtual_key, bool* down);
// A key's move goes into the device's key history the moment it happens,
// never waiting for the registry (whose write lock an import may hold); the
// time it was noted (NowMs), which the key's state and the journal line
// that tells of it then carry.
int64_t NoteKeyMove(int virtual_key, bool down);
// `at`: the move's time as NoteKeyMove gave it; 0: the move is noted now.
bool SetKeyDown(int virtual_key, bool down, int64_t at = 0);
// When the key last went down (milliseconds as NowMs counts them), whether
// it is down still or up again; 0 when its time was not kept.
bool KeyDownAt(int virtual_key, int64_t* down_at);
// The keys down, in code order.
bool KeysDown(std::vector<int>* keys);

// The environment variable that hands a launcher its press ("vk:time").
inline constexpr char kPressVariable[] = "QUADRAKEY_PRESS";
// The next program this process starts is the launcher of the press of
// `virtual_key` that went down at `down_at` (NowMs, as KeyDownAt gives it);
// 0 for the key: it is no press's. No other program gets a press.
void DatePressOfNextStart(int virtual_key, int64_t down_at);

struct DisplayState {
  uint32_t orientation;  // platform value (kDmdo0 ...)
  bool rotation_supported;
};
bool GetDisplay(DisplayState* state);
bool SetDisplay(const DisplayState& state);

bool IsSipShown(bool* shown);
bool SetSipShown(bool shown);

bool Foreground(plat::Window* window);
// The desktop window (which shows Today) exists unless switched off.
bool HasDesktopWindow(bool* present);
bool SetHasDesktopWindow(bool present);

// ---- Where a key down goes -------------------------------------------------
// On the device a key down goes to the owner of a hot key for it, else to the
// shell's button table (devicesim's shell), else to the program of the
// foreground window as a key down and a key up.

// The device's own keys beside the buttons of the shell's table (volume,
// a side key), by virtual key; devicesim init makes the stock device's.
struct DeviceKey {
  int virtual_key;
  std::u16string name;
};
bool DeviceKeys(std::vector<DeviceKey>* keys);  // in code order
// Replaces them; false with 87 for a code outside 1..0xFE or an empty name.
bool SetDeviceKeys(const std::vector<DeviceKey>& keys);
// The code of a key named `name`: a device key's name, else a standard
// name (plat::GetKeyName), letter case, blanks, '-' and '_' not counting;
// -1 when no key has that name.
int KeyCodeByName(const std::u16string& name);

// A hot key registration (plat::RegisterHotKey) of a running program.
struct HotKey {
  int virtual_key = 0;
  uint32_t modifiers = 0;
  plat::Window window = 0;
  int id = 0;
  int64_t pid = 0;
  std::string program;  // its file name
};
// The live registrations, by key; those of ended programs are dropped.
bool HotKeys(std::vector<HotKey>* keys);
// Registrations the device refused, kept while the program that asked runs
// and until it registers or unregisters that id.
struct HotKeyRefusal {
  HotKey asked;
  uint32_t error = 0;     // 1409: another registration holds the key
  int64_t holder_pid = 0;
};
bool HotKeyRefusals(std::vector<HotKeyRefusal>* refusals);
// The live hot key for the key with these modifiers; *found false when none.
bool FindHotKey(int virtual_key, uint32_t modifiers, HotKey* key, bool* found);
// Posts the key down to the hot key's window as its hot-key event and
// journals it ("hotkey"); false with 1400 when its program takes no
// messages any more, 1816 when its queue is full.
bool SendHotKey(const HotKey& key);
// Posts the key to the program of the foreground window as its key down or
// up, journalled ("keymessage"). *taken false when the foreground window is
// the desktop or its program has ended: nothing takes the key then.
bool PostKeyToForeground(int virtual_key, bool up, bool* taken);
// A key a dialog took for itself (plat::CaptureKey): each of its moves goes
// to that dialog alone, before hot keys, the shell's table, watchers and the
// foreground window; the shell runs nothing for it.
struct KeyCaptor {
  int virtual_key = 0;
  plat::Window window = 0;
  int64_t pid = 0;
  std::string program;  // its file name
};
// The live captor of the key; *found false when none. Rows of ended
// programs are dropped on the way.
bool FindKeyCaptor(int virtual_key, KeyCaptor* captor, bool* found);
// Every live captor, by key.
bool KeyCaptors(std::vector<KeyCaptor>* captors);
// Waits until program `pid` has dispatched every message posted to it
// before this call and waits for input again (as WaitForInputIdle). False
// with 1400 when it has no message port (no window, or ended), 1460 when
// `timeout_ms` passed first.
bool WaitForInputIdle(int64_t pid, int timeout_ms);

// ---- Notification icons ----------------------------------------------------------
// An icon a running program shows (plat::ShowTrayIcon), with its menu.
struct TrayItem {
  uintptr_t command = 0;  // 0: a line that cannot be chosen
  std::u16string text;
};
struct TrayIcon {
  plat::Window window = 0;
  int64_t pid = 0;
  std::string program;  // its file name
  std::u16string tip;
  std::vector<TrayItem> menu;
};
// The icons of running programs, oldest first; those of ended programs are dropped.
bool TrayIcons(std::vector<TrayIcon>* icons);
// Chooses an item of the icon's menu as a person's click does: the window
// hears kTrayCommand; journalled ("traychoice"). False with 1400 when its
// program takes no messages any more.
bool ChooseTrayItem(const TrayIcon& icon, uintptr_t command);

// ---- Journal --------------------------------------------------------------
// Events and their fields: key {vk, up, flags}; hotkey {vk, window, owner,
// id}; keymessage {vk, window, owner, up}; keytaken {vk, window, owner,
// taken: true when a dialog took the key, false when it gave it back}; start {program, args, and
// child: the new process's id when a host program was spawned} (only for a
// start that succeeded); open {file, ok, error}; message {text,
// caption, flags}; beep {type}; sip {request, shown}; foreground {window};
// display {orientation: the requested one in degrees, -1 for an invalid
// value; ok}; trayicon {window, tip, menu: the items' texts; or removed};
// traychoice {window, command}; notice {text, ms}. Journalling never changes the caller's last error.
struct JournalEntry {
  int64_t id;
  int64_t t_ms;        // wall clock, milliseconds since the epoch
  int64_t pid;
  std::string event;   // key, start, open, message, beep, sip, foreground, display
  std::string fields;  // JSON object members, without braces: "\"vk\":33,\"up\":false"
};
// Appends an entry stamped now with this process's id. False when it could
// not be written, with the reason in *error when given.
bool Journal(const std::string& event, const std::string& json_fields, uint32_t* error = nullptr);
// The same with the time given (NowMs), for an entry that tells of a moment
// already past, such as a key's move.
bool JournalAt(int64_t t_ms, const std::string& event, const std::string& json_fields, uint32_t* error = nullptr);
// Entries with id > after_id, oldest first.
bool ReadJournal(int64_t after_id, std::vector<JournalEntry>* entries);
// The id of the last entry ever made (cleared ones count), 0 for none.
bool LastJournalId(int64_t* id);
bool ClearJournal();
// For tests, where an unreadable journal fails the expectations anyway:
// the same reads, with no entries (and id 0) when the journal cannot be read.
std::vector<JournalEntry> ReadJournal(int64_t after_id = 0);
int64_t LastJournalId();
// JSON string literal (with quotes) of a UTF-16 text.
std::string JsonString(const std::u16string& text);
int64_t NowMs();

// ---- The shell ------------------------------------------------------------
// Runs a command as the device's shell runs a button table entry's command:
// a (possibly quoted) program or shortcut path, then arguments. A shortcut
// is opened, an existing document opens through its association, anything
// else is started with CreateProcess (which adds a missing ".exe" and looks
// a bare name up in \Windows, as the device's loader does).
bool RunShellCommand(const std::u16string& command);
// Splits a command into the program path and the rest. A quoted first token
// is the program; unquoted, the shortest prefix ending at a blank that names
// an existing file, else the text up to the first blank.
void SplitCommand(const std::u16string& command, std::u16string* program, std::u16string* args);
// Pids of the processes started by this process so far. They are not
// waited for; a caller that wants their exit codes calls waitpid.
std::vector<int> StartedProcesses();
// Programs this process starts from now on read nothing, append their
// output (stdout and stderr) to the host file `output_file`, and get a
// session of their own, so that a long-lived program holds none of its
// starter's pipes or terminal. Empty: they share this process's (the default).
void DetachStartedPrograms(const std::string& output_file);

// ---- Windows of running programs --------------------------------------------
// A program that makes a main window registers it here with the address of
// its window-system channel (the abstract Unix socket devicesim ui talks
// to). A row whose process has ended, or whose pid now belongs to another
// process, is dead: never answered, and removed when found.
struct WindowRecord {
  plat::Window window = 0;
  int64_t pid = 0;
  int64_t start_time = 0;  // the process's start time, as ProcessStartTime
  std::u16string class_name;
  std::u16string title;
  std::string channel;  // abstract socket name, without its leading zero byte
};
bool RegisterWindow(const WindowRecord& record);
void UnregisterWindows(int64_t pid);
// The live rows, oldest first.
std::vector<WindowRecord> LiveWindows();
// A running process's start time (clock ticks since boot); -1 when no such
// process runs (an ended one waiting to be reaped counts as ended).
int64_t ProcessStartTime(int64_t pid);

}  // namespace device
