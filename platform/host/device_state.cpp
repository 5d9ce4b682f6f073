// Key table, display, input panel, windows and the journal: the device's
// state kept beside the registry so every process sees one device.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/host/host_internal.h"

using namespace device::internal;

namespace device {
namespace internal {

int64_t StateGet(const char* name, int64_t default_value) {
  sqlite3* db = Db();
  if (db == nullptr) return default_value;
  Stmt get(db, "SELECT value FROM state WHERE name = ?");
  get.Bind(1, std::string(name));
  return get.Step() == SQLITE_ROW ? get.Int(0) : default_value;
}

void StateSet(const char* name, int64_t value) {
  sqlite3* db = Db();
  if (db == nullptr) return;
  Txn txn(db, true);
  if (!txn.ok()) return;
  Stmt put(db, "INSERT OR REPLACE INTO state(name, value) VALUES (?, ?)");
  put.Bind(1, std::string(name)).Bind(2, value);
  if (put.Step() == SQLITE_DONE) txn.Commit();
}

}  // namespace internal

namespace {
constexpr plat::Window kDesktopWindow = 0x10010;
}

bool IsKeyDown(int virtual_key) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Stmt get(db, "SELECT 1 FROM keys_down WHERE vk = ?");
  get.Bind(1, static_cast<int64_t>(virtual_key));
  return get.Step() == SQLITE_ROW;
}

void SetKeyDown(int virtual_key, bool down) {
  sqlite3* db = Db();
  if (db == nullptr) return;
  Txn txn(db, true);
  if (!txn.ok()) return;
  Stmt change(db, down ? "INSERT OR IGNORE INTO keys_down(vk) VALUES (?)" : "DELETE FROM keys_down WHERE vk = ?");
  change.Bind(1, static_cast<int64_t>(virtual_key));
  if (change.Step() == SQLITE_DONE) txn.Commit();
}

std::vector<int> KeysDown() {
  std::vector<int> keys;
  sqlite3* db = Db();
  if (db == nullptr) return keys;
  Stmt list(db, "SELECT vk FROM keys_down ORDER BY vk");
  while (list.Step() == SQLITE_ROW) keys.push_back(static_cast<int>(list.Int(0)));
  return keys;
}

DisplayState GetDisplay() {
  return {static_cast<uint32_t>(StateGet("orientation", plat::kDmdo0)),
          StateGet("rotation_supported", 1) != 0};
}

void SetDisplay(const DisplayState& state) {
  StateSet("orientation", state.orientation);
  StateSet("rotation_supported", state.rotation_supported ? 1 : 0);
}

bool IsSipShown() { return StateGet("sip_shown", 0) != 0; }
void SetSipShown(bool shown) { StateSet("sip_shown", shown ? 1 : 0); }

plat::Window Foreground() {
  return static_cast<plat::Window>(StateGet("foreground", static_cast<int64_t>(kDesktopWindow)));
}

bool HasDesktopWindow() { return StateGet("desktop_window", 1) != 0; }
void SetHasDesktopWindow(bool present) { StateSet("desktop_window", present ? 1 : 0); }

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

void Journal(const std::string& event, const std::string& json_fields) {
  uint32_t saved = plat::GetLastError();  // journalling never disturbs the caller's error
  sqlite3* db = Db();
  if (db != nullptr) {
    Txn txn(db, true);
    if (txn.ok()) {
      Stmt add(db, "INSERT INTO journal(t, pid, event, fields) VALUES (?, ?, ?, ?)");
      add.Bind(1, NowMs()).Bind(2, static_cast<int64_t>(getpid())).Bind(3, event).Bind(4, json_fields);
      if (add.Step() == SQLITE_DONE) txn.Commit();
    }
  }
  plat::SetLastError(saved);
}

std::vector<JournalEntry> ReadJournal(int64_t after_id) {
  std::vector<JournalEntry> entries;
  sqlite3* db = Db();
  if (db == nullptr) return entries;
  Stmt list(db, "SELECT id, t, pid, event, fields FROM journal WHERE id > ? ORDER BY id");
  list.Bind(1, after_id);
  while (list.Step() == SQLITE_ROW)
    entries.push_back({list.Int(0), list.Int(1), list.Int(2), list.Text(3), list.Text(4)});
  return entries;
}

int64_t LastJournalId() {
  sqlite3* db = Db();
  if (db == nullptr) return 0;
  // Counts cleared entries too, so ids handed out before a clear stay behind it.
  Stmt get(db, "SELECT seq FROM sqlite_sequence WHERE name = 'journal'");
  return get.Step() == SQLITE_ROW ? get.Int(0) : 0;
}

void ClearJournal() {
  sqlite3* db = Db();
  if (db != nullptr) Exec(db, "DELETE FROM journal");
}

}  // namespace device

// ---- Platform calls over the state -------------------------------------------

namespace plat {

uint16_t GetAsyncKeyState(int virtual_key) {
  if (virtual_key < 0 || virtual_key > 255) return 0;
  return device::IsKeyDown(virtual_key) ? 0x8000 : 0;
}

void KeybdEvent(uint8_t virtual_key, uint8_t /*scan_code*/, uint32_t flags, uintptr_t /*extra_info*/) {
  bool up = (flags & kKeyEventKeyUp) != 0;
  device::SetKeyDown(virtual_key, !up);
  device::Journal("key", "\"vk\":" + std::to_string(virtual_key) + ",\"up\":" + (up ? "true" : "false") +
                             ",\"flags\":" + std::to_string(flags));
}

Window GetDesktopWindow() { return device::HasDesktopWindow() ? device::kDesktopWindow : 0; }

Window GetForegroundWindow() { return device::Foreground(); }

bool SetForegroundWindow(Window window) {
  device::Journal("foreground", "\"window\":" + std::to_string(window));
  if (window == 0) return Fail(1400);  // ERROR_INVALID_WINDOW_HANDLE
  StateSet("foreground", static_cast<int64_t>(window));
  return true;
}

bool ShSipInfo(uint32_t action, uint32_t /*param*/, SipInfo* info, uint32_t /*win_ini*/) {
  if (action != kSpiGetSipInfo || info == nullptr || info->size != sizeof(SipInfo))
    return Fail(kErrorInvalidParameter);
  info->flags = device::IsSipShown() ? kSipfOn : 0;
  for (uint8_t& b : info->rest) b = 0;
  return true;
}

bool ShSipPreference(Window /*window*/, int request) {
  if (request != kSipUp && request != kSipForceDown) return Fail(kErrorInvalidParameter);
  bool shown = request == kSipUp;
  device::SetSipShown(shown);
  device::Journal("sip", "\"request\":" + std::to_string(request) + ",\"shown\":" + (shown ? "true" : "false"));
  return true;
}

bool QueryDisplayOrientation(uint32_t* orientation) {
  if (orientation == nullptr) return Fail(kErrorInvalidParameter);
  if (!device::Exists()) return Fail(kErrorPathNotFound);
  device::DisplayState state = device::GetDisplay();
  if (!state.rotation_supported) return Fail(50);  // ERROR_NOT_SUPPORTED
  *orientation = state.orientation;
  return true;
}

int32_t SetDisplayOrientation(uint32_t orientation) {
  constexpr int32_t kDispChangeBadParam = -5;
  int degrees = orientation == kDmdo0 ? 0 : orientation == kDmdo90 ? 90
              : orientation == kDmdo180 ? 180 : orientation == kDmdo270 ? 270 : -1;
  device::DisplayState state = device::GetDisplay();
  int32_t result = kDispChangeSuccessful;
  if (degrees < 0) {
    result = kDispChangeBadParam;
  } else if (!state.rotation_supported || !device::Exists()) {
    result = kDispChangeBadMode;
  } else {
    StateSet("orientation", orientation);
  }
  device::Journal("display", "\"orientation\":" + std::to_string(degrees) +
                                 ",\"ok\":" + (result == kDispChangeSuccessful ? "true" : "false"));
  return result;
}

}  // namespace plat
