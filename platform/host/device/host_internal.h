// Pieces the host backend's modules share; not for callers outside platform/host.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/common/fault_gate.h"
#include "platform/host/device/device.h"

namespace device::internal {

// ---- Errors (errors.cpp) ------------------------------------------------------
uint32_t FromErrno(int error_number);
// The Win32 number of a SQLite result; `db` (may be null) tells the file
// system's own reason behind an I/O error (a full disk reads as 112).
uint32_t FromSqlite(int rc, sqlite3* db);
// Sets the last error and returns false, so failure paths stay one line.
bool Fail(uint32_t code);

// ---- This process (system.cpp) ----------------------------------------------
// getpid without a system call after the first: a press asks for it on every
// journal line and log lock. A forked child asks anew.
int64_t OwnPid();

// ---- Database --------------------------------------------------------------
// The process's connection to the current device's registry.db, opened on
// first use and again after the folder changes. Null with the last error set
// (3 when there is no device in the folder); never creates a database.
sqlite3* Db();
void CloseDb();

// One transaction: writes take the write lock at once (BEGIN IMMEDIATE) so
// that concurrent writers queue on the busy timeout instead of failing.
// Nested inside device::Transaction it joins the outer one.
class Txn {
 public:
  Txn(sqlite3* db, bool write);
  ~Txn();
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;
  bool ok() const { return ok_; }
  // Commits; false with the last error set when that fails.
  bool Commit();

 private:
  sqlite3* db_;
  bool ok_ = false;
  bool own_ = false;
  bool nested_ = false;
  bool done_ = false;
};

// A statement of the process's connection is prepared once and kept (by the
// address of its text, so pass string literals); one in use is never handed
// out twice at once, and a statement of another connection is prepared anew.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Stmt& Bind(int index, int64_t value);
  Stmt& Bind(int index, const std::string& text);
  Stmt& BindBlob(int index, const void* data, size_t size);
  // SQLITE_ROW, SQLITE_DONE or an error code (which also sets the last error).
  int Step();
  // The same, leaving the last error alone.
  int StepQuietly();
  int64_t Int(int column);
  bool IsNull(int column);
  std::string Text(int column);

 private:
  static constexpr size_t kNoSlot = static_cast<size_t>(-1);
  sqlite3_stmt* stmt_ = nullptr;
  size_t slot_ = kNoSlot;  // its place in the connection's cache
  uint64_t generation_ = 0;
};

// Runs a statement without results; false with the last error set.
bool Exec(sqlite3* db, const char* sql);

// ---- Journal rows and transactions ------------------------------------------
struct JournalRow {
  int64_t t_ms;
  int64_t pid;
  std::string event;
  std::string fields;
};
// Appends the row; false with the last error set. Inside an open transaction
// it joins that transaction, but what it records happened anyway: should the
// transaction roll back, the row is written again after it.
bool WriteJournalRow(const JournalRow& row);
// For a process that ends inside a transaction (memory ran out in the middle
// of a registry call): rolls it back and writes its journal rows again.
void AbandonTransaction();

// ---- Text ------------------------------------------------------------------
// The case-folded form under which registry names are compared.
std::string FoldKey(const std::u16string& text);

// ---- Registry rows (registry.cpp) ------------------------------------------
int64_t RootKeyId(plat::RegRoot root);
struct KeyName {
  std::u16string name;
  size_t end;  // where it ends in the path
};
// The names of a key path from `from` on, split at backslashes (empty names
// skipped); false with error 87 for a name longer than 255 characters.
bool SplitKeyPath(const std::u16string& path, size_t from, std::vector<KeyName>* names);
// The child of `parent` with that folded name: its id, 0 when missing, -1
// (last error set) when the registry cannot be read.
int64_t FindChild(sqlite3* db, int64_t parent, const std::string& folded);
// Makes the child; its id, or 0 with the last error set.
int64_t MakeChild(sqlite3* db, int64_t parent, const std::u16string& name, const std::string& folded);
// Deletes the key, its values and every key below it.
bool DeleteKeyTree(sqlite3* db, int64_t id);
// Sets a value (?1 key, ?2 name, ?3 folded name, ?4 type, ?5 data) of a key
// that still exists; no row changes when it does not.
extern const char kPutValueSql[];

// ---- Window system seams ----------------------------------------------------
// The window system, qk_platform_ui, is linked only into programs with
// dialogs; it reaches the core backend through these two hooks.
// A message box handler answers true (and *result) when it showed the box
// itself, false to leave it to the non-blocking default.
using MessageBoxHandler = bool (*)(plat::Window owner, const std::u16string& text,
                                   const std::u16string& caption, uint32_t flags, int* result);
void SetMessageBoxHandler(MessageBoxHandler handler);
// What every message box leaves behind: its journal entry and a stderr line.
void ReportMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags);
// A message box past the fault table: the handler's, else answered at once.
// A null caption is "Error".
int ShowMessageBox(plat::Window owner, const std::u16string& text, const std::u16string* caption,
                   uint32_t flags);
// Called by plat::ExitProcess with the exit code, before anything is torn down.
using ExitHandler = void (*)(int code);
void SetExitHandler(ExitHandler handler);

// ---- Posted messages (messages.cpp) ------------------------------------------
// Win32's numbers for the messages the device posts.
constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmKeyUp = 0x0101;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmHotKey = 0x0312;
constexpr uint32_t kWmApp = 0x8000;
constexpr uint32_t kWmKeyEvent = kWmApp + 1;  // plat::WindowEvent::kKeyEvent
constexpr uint32_t kWmTrayCommand = kWmApp + 2;  // plat::WindowEvent::kTrayCommand
constexpr uint32_t kWmCopyData = 0x004A;  // plat::WindowEvent::kAppText: second is the text's row

struct PostedMessage {
  plat::Window window;
  uint32_t message;
  uintptr_t first;
  intptr_t second;
};
// Opens this process's message port (once); false with the last error.
bool OpenMessagePort();
// The port's descriptor for a loop that waits on more than it; -1 when closed.
int MessagePortFd();
// Dispatches what waits now, without waiting: posted messages in the order
// they came, then the timers that are due. How many were dispatched.
int DispatchPendingMessages();
// Milliseconds until the next timer is due (0 when one is); -1 for none.
int NextTimerDelayMs();
// Posts to a window of any program of the device (its handle names the
// process); false with 1400 when that program has no port, 1816 when its
// queue is full.
bool PostToWindow(plat::Window window, uint32_t message, uintptr_t first, intptr_t second);
// The window system takes the messages for the windows it made (the main
// window, dialogs) and, when installed, does the waiting of the message loop.
using MessageRouter = void (*)(const PostedMessage& message);
void SetMessageRouter(MessageRouter router);
using InputWait = void (*)();
void SetInputWait(InputWait wait);
bool QuitPosted();
void ForgetQuit();
// The process that owns a window handle of the device; 0 for the desktop.
int64_t WindowProcess(plat::Window window);

// What a program leaves on the device when it ends normally: its hidden
// windows and hot keys. A killed program's are found dead and dropped later.
void ForgetProcessWindows();
void ForgetProcessHotKeys();
void ForgetProcessTrayIcons();

// ---- Icons and texts (tray.cpp) -------------------------------------------------
// Takes the text a SendWindowText left under `id` (it is then gone).
bool TakeWindowText(int64_t id, std::u16string* text);

// ---- Device state (also used by the shell) --------------------------------
// A state value, `default_value` when it was never set; false with the last
// error when the device cannot be read or written.
bool StateGet(const char* name, int64_t default_value, int64_t* value);
bool StateSet(const char* name, int64_t value);

// ---- Dated keys (key_record.cpp) ---------------------------------------------
// Tells the programs that watch the key of its move at `at` (NowMs), inside
// the caller's transaction. False with the last error.
// A key a dialog took goes to that dialog instead, as kWmKeyEvent.
bool TellKeyWatchers(int virtual_key, bool up, int64_t at);
// A device time (NowMs) in this process's TickCount().
uint64_t DeviceTimeToTicks(int64_t at);
// The key goes to `window` (a dialog of this program) from now on; false
// with 1409 when another program's dialog holds it. Journalled.
bool TakeKeyFor(int virtual_key, plat::Window window);
// Every key the window took goes back; journalled.
bool GiveKeyBack(plat::Window window);

}  // namespace device::internal
