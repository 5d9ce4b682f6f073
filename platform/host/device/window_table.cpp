// The device's table of main windows: which running program has one, and
// where its window-system channel listens.
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/host/device/host_internal.h"

using namespace device::internal;

namespace device {
namespace {

// Devices made before the table existed get it on first use.
const char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS windows("
    "  window INTEGER PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL,"
    "  class TEXT NOT NULL, title TEXT NOT NULL, channel TEXT NOT NULL)";

bool Live(const WindowRecord& record) {
  return record.start_time >= 0 && ProcessStartTime(record.pid) == record.start_time;
}

}  // namespace

int64_t ProcessStartTime(int64_t pid) {
  if (pid <= 0) return -1;
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return -1;
  // The command name in parentheses may hold blanks and parentheses itself.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 1));
  std::string state;
  fields >> state;
  if (state == "Z" || state == "X" || state == "x") return -1;
  // Fields 4 to 21 come before the start time (field 22).
  std::string skipped;
  for (int field = 4; field <= 21; ++field) fields >> skipped;
  int64_t start = -1;
  if (!(fields >> start)) return -1;
  return start;
}

bool RegisterWindow(const WindowRecord& record) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  if (!Exec(db, kCreateTable)) return false;
  Txn txn(db, true);
  if (!txn.ok()) return false;
  Stmt put(db, "INSERT OR REPLACE INTO windows(window, pid, start, class, title, channel) "
               "VALUES (?, ?, ?, ?, ?, ?)");
  put.Bind(1, static_cast<int64_t>(record.window))
      .Bind(2, record.pid)
      .Bind(3, record.start_time)
      .Bind(4, ToUtf8(record.class_name))
      .Bind(5, ToUtf8(record.title))
      .Bind(6, record.channel);
  if (put.Step() != SQLITE_DONE) return false;
  return txn.Commit();
}

void UnregisterWindows(int64_t pid) {
  uint32_t saved = plat::GetLastError();
  sqlite3* db = Db();
  if (db != nullptr) {
    Stmt remove(db, "DELETE FROM windows WHERE pid = ?");
    remove.Bind(1, pid);
    remove.Step();  // a device without the table has nothing to remove
  }
  plat::SetLastError(saved);
}

std::vector<WindowRecord> LiveWindows() {
  std::vector<WindowRecord> live;
  uint32_t saved = plat::GetLastError();
  sqlite3* db = Db();
  if (db == nullptr) return live;
  std::vector<std::pair<int64_t, int64_t>> dead;  // window, start time
  {
    Stmt list(db, "SELECT window, pid, start, class, title, channel FROM windows ORDER BY rowid");
    while (list.ok() && list.Step() == SQLITE_ROW) {
      WindowRecord record;
      record.window = static_cast<plat::Window>(list.Int(0));
      record.pid = list.Int(1);
      record.start_time = list.Int(2);
      record.class_name = FromUtf8(list.Text(3));
      record.title = FromUtf8(list.Text(4));
      record.channel = list.Text(5);
      if (Live(record)) {
        live.push_back(std::move(record));
      } else {
        dead.emplace_back(static_cast<int64_t>(record.window), record.start_time);
      }
    }
  }
  // The start time too: a program that reused the pid may have replaced the row meanwhile.
  for (const auto& [window, start] : dead) {
    Stmt remove(db, "DELETE FROM windows WHERE window = ? AND start = ?");
    remove.Bind(1, window).Bind(2, start);
    remove.Step();
  }
  plat::SetLastError(saved);
  return live;
}

}  // namespace device
