// Where a key down goes on the emulated device: hot keys registered by its
// programs, the device's own keys beside the shell's buttons, and keys for
// the program of the foreground window.
//
// A hot key is device state held by a window of a running program, named by
// pid and start time: once that program has ended (killed or not), its
// registration is gone, as a key held by a dead presser is up.
#include <unistd.h>

#include <cstring>

#include "platform/common/fault_gate.h"
#include "platform/common/key_names.h"
#include "platform/host/device/host_internal.h"

using namespace device::internal;

namespace {

constexpr uint32_t kModifierMask = 0xF;  // Alt, Ctrl, Shift, Win; not "no repeat"
constexpr int kLastHotKeyId = 0xBFFF;

// Made on first use: devices made before hot keys existed lack them.
const char kCreateTables[] =
    "CREATE TABLE IF NOT EXISTS hot_keys("
    "  vk INTEGER NOT NULL, modifiers INTEGER NOT NULL, window INTEGER NOT NULL, id INTEGER NOT NULL,"
    "  pid INTEGER NOT NULL, start INTEGER NOT NULL, program TEXT NOT NULL, PRIMARY KEY(vk, modifiers));"
    "CREATE TABLE IF NOT EXISTS hot_key_refusals("
    "  window INTEGER NOT NULL, id INTEGER NOT NULL, vk INTEGER NOT NULL, modifiers INTEGER NOT NULL,"
    "  pid INTEGER NOT NULL, start INTEGER NOT NULL, program TEXT NOT NULL, error INTEGER NOT NULL,"
    "  holder INTEGER NOT NULL, PRIMARY KEY(window, id));"
    "CREATE TABLE IF NOT EXISTS device_keys(vk INTEGER PRIMARY KEY, name TEXT NOT NULL)";

bool registered_any = false;  // this process has rows to take away at its end

bool Tables(sqlite3* db) { return db != nullptr && Exec(db, kCreateTables); }

// Reads make no table: a device made before these tables existed has none,
// and reads as having nothing in them, read-only or not. True (with the
// caller's last error kept) when the statement failed for that reason.
bool NoTable(sqlite3* db, uint32_t saved) {
  if (std::strstr(sqlite3_errmsg(db), "no such table") == nullptr) return false;
  plat::SetLastError(saved);
  return true;
}

bool Runs(int64_t pid, int64_t start) { return device::ProcessStartTime(pid) == start; }

device::HotKey RowToKey(Stmt& row) {
  device::HotKey key;
  key.virtual_key = static_cast<int>(row.Int(0));
  key.modifiers = static_cast<uint32_t>(row.Int(1));
  key.window = static_cast<plat::Window>(row.Int(2));
  key.id = static_cast<int>(row.Int(3));
  key.pid = row.Int(4);
  key.program = row.Text(6);
  return key;
}

const char kKeyColumns[] = "SELECT vk, modifiers, window, id, pid, start, program FROM hot_keys";

// The live registrations matching `where` (with `bind` applied); rows of
// ended programs are removed on the way.
template <typename Bind>
bool LiveHotKeys(const std::string& where, Bind bind, std::vector<device::HotKey>* keys) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  const uint32_t saved = plat::GetLastError();
  std::vector<device::HotKey> live;
  std::vector<std::pair<device::HotKey, int64_t>> dead;
  {
    Stmt list(db, (std::string(kKeyColumns) + where + " ORDER BY vk, modifiers").c_str());
    if (!list.ok()) {
      if (!NoTable(db, saved)) return false;
      keys->clear();
      return true;
    }
    bind(list);
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) {
      device::HotKey key = RowToKey(list);
      if (Runs(key.pid, list.Int(5))) {
        live.push_back(key);
      } else {
        dead.emplace_back(key, list.Int(5));
      }
    }
    if (rc != SQLITE_DONE) return false;
  }
  for (const auto& [key, start] : dead) {
    Stmt remove(db, "DELETE FROM hot_keys WHERE vk = ? AND modifiers = ? AND pid = ? AND start = ?");
    remove.Bind(1, static_cast<int64_t>(key.virtual_key))
        .Bind(2, static_cast<int64_t>(key.modifiers))
        .Bind(3, key.pid)
        .Bind(4, start);
    remove.Step();
  }
  *keys = std::move(live);
  return true;
}

struct Registration {
  plat::Window window;
  int id;
  uint32_t modifiers;
  uint32_t virtual_key;
  uint32_t refused = 0;  // the error of a refusal, 0 when registered
};

bool Register(void* context) {
  auto* r = static_cast<Registration*>(context);
  sqlite3* db = Db();
  const int64_t pid = getpid();
  const int64_t start = device::ProcessStartTime(pid);
  const std::string program = plat::common::ProgramFileName();
  int64_t holder = 0;
  {
    Stmt held(db, "SELECT pid, start FROM hot_keys WHERE vk = ? AND modifiers = ?");
    held.Bind(1, static_cast<int64_t>(r->virtual_key)).Bind(2, static_cast<int64_t>(r->modifiers));
    const int rc = held.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
    if (rc == SQLITE_ROW && Runs(held.Int(0), held.Int(1))) holder = held.Int(0);
  }
  if (holder != 0) {
    r->refused = plat::kErrorHotKeyAlreadyRegistered;
    Stmt refuse(db, "INSERT OR REPLACE INTO hot_key_refusals(window, id, vk, modifiers, pid, start, program, error,"
                    " holder) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    refuse.Bind(1, static_cast<int64_t>(r->window))
        .Bind(2, static_cast<int64_t>(r->id))
        .Bind(3, static_cast<int64_t>(r->virtual_key))
        .Bind(4, static_cast<int64_t>(r->modifiers))
        .Bind(5, pid)
        .Bind(6, start)
        .Bind(7, program)
        .Bind(8, static_cast<int64_t>(r->refused))
        .Bind(9, holder);
    return refuse.Step() == SQLITE_DONE;
  }
  Stmt put(db, "INSERT OR REPLACE INTO hot_keys(vk, modifiers, window, id, pid, start, program)"
               " VALUES (?, ?, ?, ?, ?, ?, ?)");
  put.Bind(1, static_cast<int64_t>(r->virtual_key))
      .Bind(2, static_cast<int64_t>(r->modifiers))
      .Bind(3, static_cast<int64_t>(r->window))
      .Bind(4, static_cast<int64_t>(r->id))
      .Bind(5, pid)
      .Bind(6, start)
      .Bind(7, program);
  if (put.Step() != SQLITE_DONE) return false;
  Stmt forget(db, "DELETE FROM hot_key_refusals WHERE window = ? AND id = ?");
  forget.Bind(1, static_cast<int64_t>(r->window)).Bind(2, static_cast<int64_t>(r->id));
  return forget.Step() == SQLITE_DONE;
}

std::string KeyMembers(int virtual_key, plat::Window window, int64_t owner) {
  return "\"vk\":" + std::to_string(virtual_key) + ",\"window\":" + std::to_string(window) +
         ",\"owner\":" + std::to_string(owner);
}

}  // namespace

namespace device::internal {

void ForgetProcessHotKeys() {
  if (!registered_any) return;
  const uint32_t saved = plat::GetLastError();
  sqlite3* db = Db();
  if (db != nullptr) {
    for (const char* sql : {"DELETE FROM hot_keys WHERE pid = ?", "DELETE FROM hot_key_refusals WHERE pid = ?"}) {
      Stmt remove(db, sql);
      remove.Bind(1, static_cast<int64_t>(getpid()));
      remove.Step();
    }
  }
  plat::SetLastError(saved);
}

}  // namespace device::internal

namespace device {

bool HotKeys(std::vector<HotKey>* keys) {
  return LiveHotKeys("", [](Stmt&) {}, keys);
}

bool HotKeyRefusals(std::vector<HotKeyRefusal>* refusals) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  const uint32_t saved = plat::GetLastError();
  std::vector<HotKeyRefusal> live;
  std::vector<std::pair<int64_t, int64_t>> dead;  // pid, start
  {
    Stmt list(db, "SELECT vk, modifiers, window, id, pid, start, program, error, holder FROM hot_key_refusals"
                  " ORDER BY vk, modifiers, pid");
    if (!list.ok()) {
      if (!NoTable(db, saved)) return false;
      refusals->clear();
      return true;
    }
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) {
      if (!Runs(list.Int(4), list.Int(5))) {
        dead.emplace_back(list.Int(4), list.Int(5));
        continue;
      }
      HotKeyRefusal refusal;
      refusal.asked = RowToKey(list);
      refusal.error = static_cast<uint32_t>(list.Int(7));
      refusal.holder_pid = list.Int(8);
      live.push_back(refusal);
    }
    if (rc != SQLITE_DONE) return false;
  }
  for (const auto& [pid, start] : dead) {
    Stmt remove(db, "DELETE FROM hot_key_refusals WHERE pid = ? AND start = ?");
    remove.Bind(1, pid).Bind(2, start);
    remove.Step();
  }
  *refusals = std::move(live);
  return true;
}

bool FindHotKey(int virtual_key, uint32_t modifiers, HotKey* key, bool* found) {
  std::vector<HotKey> keys;
  if (!LiveHotKeys(" WHERE vk = ? AND modifiers = ?",
                   [&](Stmt& s) {
                     s.Bind(1, static_cast<int64_t>(virtual_key)).Bind(2, static_cast<int64_t>(modifiers & kModifierMask));
                   },
                   &keys))
    return false;
  *found = !keys.empty();
  if (*found) *key = keys.front();
  return true;
}

namespace {
// Posted under the registry's write lock, so that the entry comes before
// anything its program journals on taking it.
bool PostThenJournal(void* context) {
  const auto* key = static_cast<const HotKey*>(context);
  const intptr_t second = static_cast<intptr_t>((static_cast<uint32_t>(key->virtual_key) << 16) | key->modifiers);
  if (!PostToWindow(key->window, kWmHotKey, static_cast<uintptr_t>(key->id), second)) return false;
  Journal("hotkey", KeyMembers(key->virtual_key, key->window, key->pid) + ",\"id\":" + std::to_string(key->id));
  return true;
}
}  // namespace

bool SendHotKey(const HotKey& key) { return Transaction(PostThenJournal, const_cast<HotKey*>(&key)); }

bool PostKeyToForeground(int virtual_key, bool up, bool* taken) {
  *taken = false;
  plat::Window foreground = 0;
  if (!Foreground(&foreground)) return false;
  const int64_t owner = WindowProcess(foreground);
  if (owner <= 0) return true;  // the desktop takes no keys of ours
  // The repeat count 1; a key up also has the previous-state and transition bits.
  const intptr_t second = up ? static_cast<intptr_t>(0xC0000001u) : 1;
  if (!PostToWindow(foreground, up ? kWmKeyUp : kWmKeyDown, static_cast<uintptr_t>(virtual_key), second)) {
    // A foreground window whose program has ended takes nothing.
    return plat::GetLastError() == plat::kErrorInvalidWindowHandle;
  }
  *taken = true;
  Journal("keymessage", KeyMembers(virtual_key, foreground, owner) + ",\"up\":" + (up ? "true" : "false"));
  return true;
}

bool DeviceKeys(std::vector<DeviceKey>* keys) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  const uint32_t saved = plat::GetLastError();
  Stmt list(db, "SELECT vk, name FROM device_keys ORDER BY vk");
  if (!list.ok()) {
    if (!NoTable(db, saved)) return false;
    keys->clear();
    return true;
  }
  std::vector<DeviceKey> found;
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW) found.push_back({static_cast<int>(list.Int(0)), FromUtf8(list.Text(1))});
  if (rc != SQLITE_DONE) return false;
  *keys = std::move(found);
  return true;
}

namespace {
bool ReplaceDeviceKeys(void* context) {
  const auto* keys = static_cast<const std::vector<DeviceKey>*>(context);
  sqlite3* db = Db();
  if (!Tables(db) || !Exec(db, "DELETE FROM device_keys")) return false;
  for (const DeviceKey& key : *keys) {
    if (key.virtual_key < 1 || key.virtual_key > 0xFE || key.name.empty()) return Fail(plat::kErrorInvalidParameter);
    Stmt put(db, "INSERT OR REPLACE INTO device_keys(vk, name) VALUES (?, ?)");
    put.Bind(1, static_cast<int64_t>(key.virtual_key)).Bind(2, ToUtf8(key.name));
    if (put.Step() != SQLITE_DONE) return false;
  }
  return true;
}
}  // namespace

bool SetDeviceKeys(const std::vector<DeviceKey>& keys) {
  return Transaction(ReplaceDeviceKeys, const_cast<std::vector<DeviceKey>*>(&keys));
}

int KeyCodeByName(const std::u16string& name) {
  std::vector<DeviceKey> keys;
  if (DeviceKeys(&keys)) {
    for (const DeviceKey& key : keys)
      if (plat::common::SameKeyName(name, key.name)) return key.virtual_key;
  }
  uint32_t code = 0;
  return plat::common::KeyCodeOfName(name, &code) ? static_cast<int>(code) : -1;
}

}  // namespace device

namespace plat {

bool RegisterHotKey(Window window, int id, uint32_t modifiers, uint32_t virtual_key) {
  common::FaultGate gate(faults::Op::HotKeyRegister);
  if (gate.failed()) return false;
  if (window == 0) return Fail(kErrorInvalidWindowHandle);
  if (WindowProcess(window) != getpid()) return Fail(kErrorWindowOfOtherThread);
  if (virtual_key < 1 || virtual_key > 0xFE || id < 0 || id > kLastHotKeyId) return Fail(kErrorInvalidParameter);
  Registration registration{window, id, modifiers & kModifierMask, virtual_key};
  sqlite3* db = Db();
  if (!Tables(db) || !device::Transaction(Register, &registration)) return false;
  registered_any = true;
  if (registration.refused != 0) return Fail(registration.refused);
  SetLastError(kErrorSuccess);
  return true;
}

bool UnregisterHotKey(Window window, int id) {
  sqlite3* db = Db();
  if (!Tables(db)) return false;
  // A refusal of that id is forgotten too: the program no longer asks.
  {
    Stmt forget(db, "DELETE FROM hot_key_refusals WHERE window = ? AND id = ?");
    forget.Bind(1, static_cast<int64_t>(window)).Bind(2, static_cast<int64_t>(id));
    if (forget.Step() != SQLITE_DONE) return false;
  }
  Stmt remove(db, "DELETE FROM hot_keys WHERE window = ? AND id = ? AND pid = ?");
  remove.Bind(1, static_cast<int64_t>(window)).Bind(2, static_cast<int64_t>(id)).Bind(3, static_cast<int64_t>(getpid()));
  if (remove.Step() != SQLITE_DONE) return false;
  if (sqlite3_changes(db) == 0) return Fail(kErrorHotKeyNotRegistered);
  return true;
}

std::u16string GetKeyName(uint32_t virtual_key) {
  const uint32_t saved = GetLastError();
  std::vector<device::DeviceKey> keys;
  std::u16string name;
  if (virtual_key <= 0xFF && device::Exists() && device::DeviceKeys(&keys)) {
    for (const device::DeviceKey& key : keys)
      if (static_cast<uint32_t>(key.virtual_key) == virtual_key) name = key.name;
  }
  SetLastError(saved);
  return name.empty() ? common::StandardKeyName(virtual_key) : name;
}

}  // namespace plat
