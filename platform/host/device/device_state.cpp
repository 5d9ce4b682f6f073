// Key table, display, input panel, windows and the journal: the device's
// state kept beside the registry so every process sees one device.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "platform/host/device/host_internal.h"

using namespace device::internal;

namespace device {
namespace internal {

bool StateGet(const char* name, int64_t default_value, int64_t* value) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Stmt get(db, "SELECT value FROM state WHERE name = ?");
  get.Bind(1, std::string(name));
  const int rc = get.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
  *value = rc == SQLITE_ROW ? get.Int(0) : default_value;
  return true;
}

bool StateSet(const char* name, int64_t value) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Stmt put(db, "INSERT OR REPLACE INTO state(name, value) VALUES (?, ?)");
  put.Bind(1, std::string(name)).Bind(2, value);
  return put.Step() == SQLITE_DONE;
}

}  // namespace internal

namespace {
constexpr plat::Window kDesktopWindow = 0x10010;

bool StateFlag(const char* name, bool default_value, bool* flag) {
  int64_t value = 0;
  if (!StateGet(name, default_value ? 1 : 0, &value)) return false;
  *flag = value != 0;
  return true;
}
}  // namespace

// ---- Keys ---------------------------------------------------------------------
// A key that a program holds (a button devicesim presses) is marked with the
// holder's pid and start time: when the holder ends without letting go (a
// killed series), the key reads as up, and a new process with the same pid
// is not taken for the holder. A key sent as a key event has no holder and
// stays down until its key up, as on the device.
// A key let go keeps its row with the time it went up, so that its last
// press stays dated after the key is up again.

namespace {

int64_t OwnStart() {
  static const int64_t start = [] {
    const int64_t ticks = ProcessStartTime(getpid());
    return ticks < 0 ? 0 : ticks;
  }();
  return start;
}

bool HolderRuns(sqlite3_int64 pid, sqlite3_int64 start) {
  const int64_t now = ProcessStartTime(pid);
  return now >= 0 && now == start;
}

constexpr char kOneKey[] = "SELECT vk, holder_pid, holder_start, down_at, up_at FROM keys_down WHERE vk = ?";
constexpr char kEveryKey[] = "SELECT vk, holder_pid, holder_start, down_at, up_at FROM keys_down ORDER BY vk";

// Runs `each(vk, down, down_at)` for the keys in the table, in code order
// (down_at 0 when its time was not kept).
template <typename Each>
bool ForEachKey(const char* sql, int64_t bound, Each each) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Stmt list(db, sql);
  if (bound >= 0) list.Bind(1, bound);
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) {
    const bool up = list.Int(4) != 0;
    const bool has_holder = list.Int(1) != 0;
    each(static_cast<int>(list.Int(0)), !up && (!has_holder || HolderRuns(list.Int(1), list.Int(2))), list.Int(3));
  }
  return rc == SQLITE_DONE;
}

// `now`: the time of the move (never 0, which reads as "not kept"); the
// journal line that tells of it carries the same time.
bool ChangeKey(int virtual_key, bool down, bool held_by_this_process, int64_t now) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  bool was_down = false;
  if (!IsKeyDown(virtual_key, &was_down)) return false;
  if (down && was_down) {
    // Auto-repeat: the key keeps the time of its press; whoever put it down
    // again holds it now.
    Stmt hold(db, "UPDATE keys_down SET holder_pid = ?, holder_start = ? WHERE vk = ?");
    if (held_by_this_process) hold.Bind(1, OwnPid()).Bind(2, OwnStart());
    hold.Bind(3, static_cast<int64_t>(virtual_key));
    return hold.Step() == SQLITE_DONE;
  }
  Stmt change(db, down ? "INSERT OR REPLACE INTO keys_down(vk, holder_pid, holder_start, down_at, up_at) "
                         "VALUES (?, ?, ?, ?, NULL)"
                       : "UPDATE keys_down SET up_at = ? WHERE vk = ?");
  if (down) {
    change.Bind(1, static_cast<int64_t>(virtual_key));
    if (held_by_this_process) change.Bind(2, OwnPid()).Bind(3, OwnStart());
    change.Bind(4, now);
  } else {
    change.Bind(1, now).Bind(2, static_cast<int64_t>(virtual_key));
  }
  if (change.Step() != SQLITE_DONE) return false;
  return down == was_down || TellKeyWatchers(virtual_key, !down, now);
}

}  // namespace

bool IsKeyDown(int virtual_key, bool* down) {
  bool found = false;
  if (!ForEachKey(kOneKey, virtual_key, [&](int, bool held, int64_t) { found = held; }))
    return false;
  *down = found;
  return true;
}

bool SetKeyDown(int virtual_key, bool down, int64_t at) {
  return ChangeKey(virtual_key, down, true, at > 0 ? at : NoteKeyMove(virtual_key, down));
}

bool KeyDownAt(int virtual_key, int64_t* down_at) {
  int64_t found = 0;
  if (!ForEachKey(kOneKey, virtual_key, [&](int, bool, int64_t at) { found = at; })) return false;
  *down_at = found;
  return true;
}

bool KeysDown(std::vector<int>* keys) {
  std::vector<int> found;
  if (!ForEachKey(kEveryKey, -1, [&](int vk, bool held, int64_t) {
        if (held) found.push_back(vk);
      }))
    return false;
  *keys = std::move(found);
  return true;
}

bool GetDisplay(DisplayState* state) {
  int64_t orientation = 0;
  bool supported = true;
  if (!StateGet("orientation", plat::kDmdo0, &orientation) ||
      !StateFlag("rotation_supported", true, &supported))
    return false;
  *state = {static_cast<uint32_t>(orientation), supported};
  return true;
}

bool SetDisplay(const DisplayState& state) {
  return StateSet("orientation", state.orientation) &&
         StateSet("rotation_supported", state.rotation_supported ? 1 : 0);
}

bool IsSipShown(bool* shown) { return StateFlag("sip_shown", false, shown); }
bool SetSipShown(bool shown) { return StateSet("sip_shown", shown ? 1 : 0); }

bool Foreground(plat::Window* window) {
  int64_t value = 0;
  if (!StateGet("foreground", static_cast<int64_t>(kDesktopWindow), &value)) return false;
  *window = static_cast<plat::Window>(value);
  return true;
}

bool HasDesktopWindow(bool* present) { return StateFlag("desktop_window", true, present); }
bool SetHasDesktopWindow(bool present) { return StateSet("desktop_window", present ? 1 : 0); }

// ---- Journal ----------------------------------------------------------------

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string JsonString(const std::u16string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    const bool pair = c <= 0xDBFF && surrogate && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                      text[i + 1] <= 0xDFFF;
    switch (c) {
      case u'"': out += "\\\""; break;
      case u'\\': out += "\\\\"; break;
      case u'\n': out += "\\n"; break;
      case u'\r': out += "\\r"; break;
      case u'\t': out += "\\t"; break;
      default:
        // Control characters, and an unpaired surrogate, which JSON can only
        // write as an escape.
        if (c < 0x20 || (surrogate && !pair)) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += ToUtf8(text.substr(i, pair ? 2 : 1));
          if (pair) ++i;
        }
    }
  }
  return out + "\"";
}

bool Journal(const std::string& event, const std::string& json_fields, uint32_t* error) {
  return JournalAt(NowMs(), event, json_fields, error);
}

bool JournalAt(int64_t t_ms, const std::string& event, const std::string& json_fields, uint32_t* error) {
  const uint32_t saved = plat::GetLastError();  // journalling never disturbs the caller's error
  const bool written = WriteJournalRow({t_ms, OwnPid(), event, json_fields});
  if (!written && error != nullptr) *error = plat::GetLastError();
  plat::SetLastError(saved);
  return written;
}

bool ReadJournal(int64_t after_id, std::vector<JournalEntry>* entries) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Stmt list(db, "SELECT id, t, pid, event, fields FROM journal WHERE id > ? ORDER BY id");
  list.Bind(1, after_id);
  std::vector<JournalEntry> found;
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW)
    found.push_back({list.Int(0), list.Int(1), list.Int(2), list.Text(3), list.Text(4)});
  if (rc != SQLITE_DONE) return false;
  *entries = std::move(found);
  return true;
}

bool LastJournalId(int64_t* id) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  // Counts cleared entries too, so ids handed out before a clear stay behind it.
  Stmt get(db, "SELECT seq FROM sqlite_sequence WHERE name = 'journal'");
  const int rc = get.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
  *id = rc == SQLITE_ROW ? get.Int(0) : 0;
  return true;
}

bool ClearJournal() {
  sqlite3* db = Db();
  return db != nullptr && Exec(db, "DELETE FROM journal");
}

std::vector<JournalEntry> ReadJournal(int64_t after_id) {
  std::vector<JournalEntry> entries;
  ReadJournal(after_id, &entries);
  return entries;
}

int64_t LastJournalId() {
  int64_t id = 0;
  LastJournalId(&id);
  return id;
}

}  // namespace device

// ---- Platform calls over the state -------------------------------------------

namespace plat {

uint16_t GetAsyncKeyState(int virtual_key) {
  if (virtual_key < 0 || virtual_key > 255) return 0;
  bool down = false;
  return device::IsKeyDown(virtual_key, &down) && down ? 0x8000 : 0;
}

void KeybdEvent(uint8_t virtual_key, uint8_t /*scan_code*/, uint32_t flags, uintptr_t /*extra_info*/) {
  bool up = (flags & kKeyEventKeyUp) != 0;
  // The key and its journal line in one commit: no reader sees one without
  // the other, and a press's key events cost half the writes. Neither fails
  // for the other: a transaction that cannot begin leaves each its own.
  const uint32_t saved = GetLastError();
  const int64_t now = device::NoteKeyMove(virtual_key, !up);
  Txn txn(Db(), true);
  device::ChangeKey(virtual_key, !up, false, now);
  device::JournalAt(now, "key", "\"vk\":" + std::to_string(virtual_key) + ",\"up\":" + (up ? "true" : "false") +
                             ",\"flags\":" + std::to_string(flags));
  if (txn.ok()) txn.Commit();
  SetLastError(saved);
}

Window GetDesktopWindow() {
  bool present = false;
  return device::HasDesktopWindow(&present) && present ? device::kDesktopWindow : 0;
}

Window GetForegroundWindow() {
  Window window = 0;
  return device::Foreground(&window) ? window : 0;
}

bool SetForegroundWindow(Window window) {
  device::Journal("foreground", "\"window\":" + std::to_string(window));
  if (window == 0) return Fail(kErrorInvalidWindowHandle);
  return StateSet("foreground", static_cast<int64_t>(window));
}

bool ShSipInfo(uint32_t action, uint32_t /*param*/, SipInfo* info, uint32_t /*win_ini*/) {
  if (action != kSpiGetSipInfo || info == nullptr || info->size != sizeof(SipInfo))
    return Fail(kErrorInvalidParameter);
  bool shown = false;
  if (!device::IsSipShown(&shown)) return false;
  info->flags = shown ? kSipfOn : 0;
  for (uint8_t& b : info->rest) b = 0;
  return true;
}

bool ShSipPreference(Window /*window*/, int request) {
  if (request != kSipUp && request != kSipForceDown) return Fail(kErrorInvalidParameter);
  bool shown = request == kSipUp;
  if (!device::SetSipShown(shown)) return false;
  device::Journal("sip", "\"request\":" + std::to_string(request) + ",\"shown\":" + (shown ? "true" : "false"));
  return true;
}

bool QueryDisplayOrientation(uint32_t* orientation) {
  if (orientation == nullptr) return Fail(kErrorInvalidParameter);
  if (!device::Exists()) return Fail(kErrorPathNotFound);
  device::DisplayState state{};
  if (!device::GetDisplay(&state)) return false;
  if (!state.rotation_supported) return Fail(kErrorNotSupported);
  *orientation = state.orientation;
  return true;
}

int32_t SetDisplayOrientation(uint32_t orientation) {
  common::FaultGate gate(faults::Op::DisplaySet);
  int degrees = orientation == kDmdo0 ? 0 : orientation == kDmdo90 ? 90
              : orientation == kDmdo180 ? 180 : orientation == kDmdo270 ? 270 : -1;
  device::DisplayState state{};
  int32_t result = kDispChangeSuccessful;
  if (gate.failed()) {
    result = kDispChangeFailed;
  } else if (degrees < 0) {
    result = kDispChangeBadParam;
  } else if (!device::Exists()) {
    result = kDispChangeBadMode;
  } else if (!device::GetDisplay(&state)) {
    result = kDispChangeFailed;  // a display whose state cannot be read cannot be turned
  } else if (!state.rotation_supported) {
    result = kDispChangeBadMode;
  } else if (!StateSet("orientation", orientation)) {
    result = kDispChangeFailed;  // nothing was stored, so nothing turned
  }
  uint32_t error = GetLastError();
  device::Journal("display", "\"orientation\":" + std::to_string(degrees) +
                                 ",\"ok\":" + (result == kDispChangeSuccessful ? "true" : "false"));
  SetLastError(error);
  return result;
}

}  // namespace plat
