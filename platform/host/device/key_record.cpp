// The emulated device dates every key event: a short history of downs and
// ups with their times, which launchers read to find their own press, and
// the programs that watch keys, which get each event as it happens.
//
// The history is a ring in a file of its own ("keys.events" in the device
// folder), written the moment a key moves, under a lock of its own: as on a
// real device, a key's time never waits for the registry (a long import
// holds the database's write lock for a while).
//
// A launcher started for a press carries the press in its environment
// ("vk:time" in QUADRAKEY_PRESS), set by whoever started it; it is the
// device's own hand-over, stripped from every other program the device
// starts.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/common/key_history.h"
#include "platform/host/device/host_internal.h"
#include "platform/ui.h"

using namespace device::internal;

namespace {

// Ample for every series in flight: a launcher looks at most a few seconds
// back.
constexpr uint32_t kSlots = 256;
constexpr uint32_t kMagic = 0x31766B71;  // "qkv1"

struct Slot {
  int64_t at;  // NowMs
  uint32_t vk;
  uint32_t up;
};
struct RingHeader {
  uint32_t magic;
  uint32_t reserved;
  uint64_t count;  // events written; the newest is slot (count - 1) % kSlots
};
struct Ring {
  RingHeader header;
  Slot slots[kSlots];
};

const char kCreateTables[] =
    "CREATE TABLE IF NOT EXISTS key_watchers(vk INTEGER NOT NULL, window INTEGER NOT NULL, pid INTEGER NOT NULL,"
    "  start INTEGER NOT NULL, PRIMARY KEY(vk, window))";
const char kCreateCaptorTable[] =
    "CREATE TABLE IF NOT EXISTS key_captors(vk INTEGER PRIMARY KEY, window INTEGER NOT NULL, pid INTEGER NOT NULL,"
    "  start INTEGER NOT NULL, program TEXT NOT NULL)";

std::string RingPath() { return device::Folder() + "/keys.events"; }

// The ring's file, locked as asked; -1 when there is none (and, for a
// writer, none can be made).
int OpenRing(bool write) {
  const int fd = open(RingPath().c_str(), (write ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  if (flock(fd, write ? LOCK_EX : LOCK_SH) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The whole ring; a file that is short, or of another kind, reads as empty.
void ReadRing(int fd, Ring* ring) {
  if (pread(fd, ring, sizeof *ring, 0) != static_cast<ssize_t>(sizeof *ring) || ring->header.magic != kMagic)
    std::memset(ring, 0, sizeof *ring);
}

bool NoTable(sqlite3* db) { return std::strstr(sqlite3_errmsg(db), "no such table") != nullptr; }

// The press this process was started for, from its environment.
struct Handed {
  bool present = false;
  int vk = 0;
  int64_t at = 0;
};

// Read at each question: a launcher asks a few times, and tests hand
// presses to themselves.
Handed HandedPress() {
  Handed handed;
  const char* text = std::getenv(device::kPressVariable);
  if (text == nullptr) return handed;
  char* end = nullptr;
  const long vk = std::strtol(text, &end, 10);
  if (end == text || *end != ':' || vk < 1 || vk > 0xFE) return handed;
  const char* at_text = end + 1;
  const long long at = std::strtoll(at_text, &end, 10);
  if (end == at_text || *end != '\0' || at <= 0) return handed;
  handed = {true, static_cast<int>(vk), static_cast<int64_t>(at)};
  return handed;
}

// Device times (NowMs, the wall clock) in this process's TickCount() (a
// steady clock). Each clock is cut to whole milliseconds as it is read, so
// their difference, taken afresh at every look, moves by one from look to
// look, and a launcher asking again for its press would find its key down
// at another time and no longer know it as its own. One difference serves
// the process's life. An event that would come out later than now is now.
uint64_t ToTicks(int64_t at, uint64_t now_ticks) {
  static const int64_t offset = static_cast<int64_t>(plat::TickCount()) - device::NowMs();
  const int64_t ticks = at + offset;
  return ticks >= static_cast<int64_t>(now_ticks) ? now_ticks : ticks < 1 ? 1 : static_cast<uint64_t>(ticks);
}

// The live captor of the key; a row of an ended program is dropped on the
// way. False with the last error when the device cannot be read.
bool LiveCaptor(sqlite3* db, int virtual_key, device::KeyCaptor* captor, bool* found) {
  *found = false;
  const uint32_t saved = plat::GetLastError();
  int64_t start = 0;
  {
    Stmt find(db, "SELECT window, pid, start, program FROM key_captors WHERE vk = ?");
    if (!find.ok()) {
      if (!NoTable(db)) return false;  // no program ever took a key
      plat::SetLastError(saved);
      return true;
    }
    find.Bind(1, static_cast<int64_t>(virtual_key));
    const int rc = find.Step();
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return false;
    *captor = {virtual_key, static_cast<plat::Window>(find.Int(0)), find.Int(1), find.Text(3)};
    start = find.Int(2);
  }
  if (device::ProcessStartTime(captor->pid) == start) {
    *found = true;
    return true;
  }
  Stmt drop(db, "DELETE FROM key_captors WHERE vk = ? AND pid = ? AND start = ?");
  drop.Bind(1, static_cast<int64_t>(virtual_key)).Bind(2, captor->pid).Bind(3, start);
  drop.StepQuietly();
  plat::SetLastError(saved);
  return true;
}

}  // namespace

namespace device::internal {

uint64_t DeviceTimeToTicks(int64_t at) { return ToTicks(at, plat::TickCount()); }

bool TakeKeyFor(int virtual_key, plat::Window window) {
  sqlite3* db = Db();
  if (db == nullptr || !Exec(db, kCreateCaptorTable)) return false;
  Txn txn(db, true);
  if (!txn.ok()) return false;
  device::KeyCaptor held;
  bool found = false;
  if (!LiveCaptor(db, virtual_key, &held, &found)) return false;
  if (found && held.window != window) {
    // Another dialog holds it; one of this program gives it up first.
    if (held.pid != OwnPid()) return Fail(plat::kErrorHotKeyAlreadyRegistered);
  }
  Stmt drop(db, "DELETE FROM key_captors WHERE window = ?");
  drop.Bind(1, static_cast<int64_t>(window));
  if (drop.Step() != SQLITE_DONE) return false;
  Stmt add(db, "INSERT OR REPLACE INTO key_captors(vk, window, pid, start, program) VALUES (?, ?, ?, ?, ?)");
  add.Bind(1, static_cast<int64_t>(virtual_key))
      .Bind(2, static_cast<int64_t>(window))
      .Bind(3, OwnPid())
      .Bind(4, device::ProcessStartTime(OwnPid()))
      .Bind(5, plat::common::ProgramFileName());
  if (add.Step() != SQLITE_DONE) return false;
  if (!txn.Commit()) return false;
  Journal("keytaken", "\"vk\":" + std::to_string(virtual_key) + ",\"window\":" + std::to_string(window) +
                          ",\"owner\":" + std::to_string(OwnPid()) + ",\"taken\":true");
  return true;
}

bool GiveKeyBack(plat::Window window) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  const uint32_t saved = plat::GetLastError();
  std::vector<int64_t> keys;
  {
    Stmt list(db, "SELECT vk FROM key_captors WHERE window = ?");
    if (!list.ok()) {
      if (!NoTable(db)) return false;
      plat::SetLastError(saved);
      return true;
    }
    list.Bind(1, static_cast<int64_t>(window));
    while (list.Step() == SQLITE_ROW) keys.push_back(list.Int(0));
  }
  Stmt drop(db, "DELETE FROM key_captors WHERE window = ?");
  drop.Bind(1, static_cast<int64_t>(window));
  if (drop.Step() != SQLITE_DONE) return false;
  for (int64_t vk : keys)
    Journal("keytaken", "\"vk\":" + std::to_string(vk) + ",\"window\":" + std::to_string(window) +
                            ",\"owner\":" + std::to_string(OwnPid()) + ",\"taken\":false");
  plat::SetLastError(saved);
  return true;
}

bool TellKeyWatchers(int virtual_key, bool up, int64_t at) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  // A key a dialog took goes to it alone.
  {
    device::KeyCaptor captor;
    bool found = false;
    if (!LiveCaptor(db, virtual_key, &captor, &found)) return false;
    const uintptr_t first = static_cast<uintptr_t>(virtual_key) | (up ? plat::kKeyEventUp : 0);
    const uint32_t saved = plat::GetLastError();
    if (found && PostToWindow(captor.window, kWmKeyEvent, first, static_cast<intptr_t>(at))) return true;
    plat::SetLastError(saved);
    // A captor that takes no messages any more lets the key go on as usual.
  }
  // Every watcher hears of it, in the caller's commit; a watcher that has
  // ended is forgotten.
  std::vector<std::pair<int64_t, bool>> watchers;
  {
    Stmt list(db, "SELECT window, pid, start FROM key_watchers WHERE vk = ?");
    if (!list.ok()) return NoTable(db);  // a device no program ever watched
    list.Bind(1, static_cast<int64_t>(virtual_key));
    while (list.Step() == SQLITE_ROW)
      watchers.push_back({list.Int(0), device::ProcessStartTime(list.Int(1)) == list.Int(2)});
  }
  const uint32_t saved = plat::GetLastError();
  for (const auto& [window, runs] : watchers) {
    const uintptr_t first = static_cast<uintptr_t>(virtual_key) | (up ? plat::kKeyEventUp : 0);
    if (runs && PostToWindow(static_cast<plat::Window>(window), kWmKeyEvent, first, static_cast<intptr_t>(at)))
      continue;
    Stmt drop(db, "DELETE FROM key_watchers WHERE window = ?");
    drop.Bind(1, window);
    drop.StepQuietly();
  }
  plat::SetLastError(saved);
  return true;
}

}  // namespace device::internal

namespace device {

bool FindKeyCaptor(int virtual_key, KeyCaptor* captor, bool* found) {
  sqlite3* db = Db();
  return db != nullptr && LiveCaptor(db, virtual_key, captor, found);
}

bool KeyCaptors(std::vector<KeyCaptor>* captors) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  const uint32_t saved = plat::GetLastError();
  std::vector<int> keys;
  {
    Stmt list(db, "SELECT vk FROM key_captors ORDER BY vk");
    if (!list.ok()) {
      if (!NoTable(db)) return false;
      plat::SetLastError(saved);
      captors->clear();
      return true;
    }
    while (list.Step() == SQLITE_ROW) keys.push_back(static_cast<int>(list.Int(0)));
  }
  std::vector<KeyCaptor> live;
  for (int vk : keys) {
    KeyCaptor captor;
    bool found = false;
    if (!LiveCaptor(db, vk, &captor, &found)) return false;
    if (found) live.push_back(captor);
  }
  *captors = std::move(live);
  plat::SetLastError(saved);
  return true;
}

int64_t NoteKeyMove(int virtual_key, bool down) {
  const int64_t at = std::max<int64_t>(NowMs(), 1);
  const int fd = OpenRing(true);
  if (fd < 0) return at;  // the key still moves; its press goes undated
  Ring ring;
  ReadRing(fd, &ring);
  // The history holds moves only: auto-repeat, or an up of a key already
  // up, adds nothing.
  const uint64_t kept = std::min<uint64_t>(ring.header.count, kSlots);
  for (uint64_t i = ring.header.count; i > ring.header.count - kept; --i) {
    const Slot& latest = ring.slots[(i - 1) % kSlots];
    if (latest.vk != static_cast<uint32_t>(virtual_key)) continue;
    if ((latest.up == 0) == down) {
      close(fd);
      return at;
    }
    break;
  }
  ring.header.magic = kMagic;
  const Slot slot{at, static_cast<uint32_t>(virtual_key), down ? 0u : 1u};
  const off_t place = static_cast<off_t>(sizeof(RingHeader) + (ring.header.count % kSlots) * sizeof(Slot));
  ring.header.count += 1;
  // The slot first, then the count that makes it seen: a writer killed in
  // between leaves the ring as it was.
  if (pwrite(fd, &slot, sizeof slot, place) == static_cast<ssize_t>(sizeof slot)) {
    if (lseek(fd, 0, SEEK_END) < static_cast<off_t>(sizeof ring)) {
      // A new ring is made whole before anyone reads it.
      std::memset(ring.slots, 0, sizeof ring.slots);
      ring.slots[(ring.header.count - 1) % kSlots] = slot;
      pwrite(fd, &ring, sizeof ring, 0);
    } else {
      pwrite(fd, &ring.header, sizeof ring.header, 0);
    }
  }
  close(fd);
  return at;
}

}  // namespace device

namespace plat {

bool WatchKeys(Window window, const std::vector<uint32_t>& keys) {
  common::FaultGate gate(faults::Op::KeyWatch);
  if (gate.failed()) return false;
  if (WindowProcess(window) != OwnPid()) return Fail(kErrorInvalidWindowHandle);
  for (uint32_t key : keys)
    if (key < 1 || key > 0xFE) return Fail(kErrorInvalidParameter);
  sqlite3* db = Db();
  if (db == nullptr || !Exec(db, kCreateTables)) return false;
  Txn txn(db, true);
  if (!txn.ok()) return false;
  Stmt drop(db, "DELETE FROM key_watchers WHERE window = ?");
  drop.Bind(1, static_cast<int64_t>(window));
  if (drop.Step() != SQLITE_DONE) return false;
  const int64_t start = device::ProcessStartTime(OwnPid());
  for (uint32_t key : keys) {
    Stmt add(db, "INSERT OR REPLACE INTO key_watchers(vk, window, pid, start) VALUES (?, ?, ?, ?)");
    add.Bind(1, static_cast<int64_t>(key)).Bind(2, static_cast<int64_t>(window)).Bind(3, OwnPid()).Bind(4, start);
    if (add.Step() != SQLITE_DONE) return false;
  }
  return txn.Commit();
}

bool StartPressLauncher(const std::u16string& program, const std::u16string& command_line, int virtual_key,
                        intptr_t down_stamp) {
  device::DatePressOfNextStart(virtual_key, static_cast<int64_t>(down_stamp));
  const bool started = CreateProcess(program, command_line);
  // A start that failed before its spawn leaves the press to no one.
  const uint32_t error = GetLastError();
  device::DatePressOfNextStart(0, 0);
  SetLastError(error);
  return started;
}

bool GetOwnPress(OwnPress* press) {
  const Handed handed = HandedPress();
  if (!handed.present) return false;
  const uint64_t now_ticks = TickCount();
  OwnPress found;
  found.virtual_key = handed.vk;
  found.dates.down = ToTicks(handed.at, now_ticks);
  const uint32_t saved = GetLastError();
  const int fd = OpenRing(false);
  if (fd >= 0) {
    static Ring ring;  // 4 KB: kept off the stack
    ReadRing(fd, &ring);
    close(fd);
    const uint64_t kept = std::min<uint64_t>(ring.header.count, kSlots);
    static ::common::KeyMove moves[kSlots];
    size_t count = 0;
    size_t own = kSlots;
    for (uint64_t i = ring.header.count - kept; i < ring.header.count; ++i) {
      const Slot& slot = ring.slots[i % kSlots];
      if (slot.vk != static_cast<uint32_t>(handed.vk)) continue;
      if (slot.up == 0 && slot.at == handed.at) own = count;
      moves[count++] = {ToTicks(slot.at, now_ticks), slot.up != 0};
    }
    if (own < count) ::common::DateOwnPress(moves, count, own, &found);
  }
  SetLastError(saved);
  *press = found;
  return true;
}

}  // namespace plat
