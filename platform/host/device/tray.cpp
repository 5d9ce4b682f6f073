// The device's notification icons and notices, and texts handed between
// programs. An icon is device state (its program's row, dropped when the
// program is found ended); a notice is what the device showed, so it is a
// journal entry. A text waits in the database until its window's program
// takes it from its queue.
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/common/fault_gate.h"
#include "platform/common/shell_text.h"
#include "platform/host/device/host_internal.h"
#include "platform/ui.h"

using namespace device::internal;

namespace {

constexpr int kTakeLimitMs = 1000;

// Made on first use: devices made before icons existed lack them.
const char kCreateTrayIcons[] =
    "CREATE TABLE IF NOT EXISTS tray_icons("
    "  window INTEGER PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL, program TEXT NOT NULL,"
    "  tip TEXT NOT NULL, menu TEXT NOT NULL)";
const char kCreateWindowTexts[] =
    "CREATE TABLE IF NOT EXISTS window_texts("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT, window INTEGER NOT NULL, text TEXT NOT NULL)";

using plat::common::OneLine;

// One line per item: the command, a tab, the text (which holds no line break).
std::string MenuText(const std::vector<plat::TrayMenuItem>& menu) {
  std::string text;
  for (const plat::TrayMenuItem& item : menu)
    text += std::to_string(item.command) + "\t" + device::ToUtf8(OneLine(item.text, 255)) + "\n";
  return text;
}

std::vector<device::TrayItem> ParseMenu(const std::string& text) {
  std::vector<device::TrayItem> items;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    const size_t tab = line.find('\t');
    if (tab != std::string::npos)
      items.push_back({static_cast<uintptr_t>(strtoull(("0" + line.substr(0, tab)).c_str(), nullptr, 10)),
                       device::FromUtf8(line.substr(tab + 1))});
    at = end + 1;
  }
  return items;
}

std::string ProgramName() {
  std::string name = program_invocation_short_name;
  return name;
}

}  // namespace

namespace device {

bool TrayIcons(std::vector<TrayIcon>* icons) {
  icons->clear();
  sqlite3* db = internal::Db();
  if (db == nullptr || !Exec(db, kCreateTrayIcons)) return false;
  std::vector<int64_t> dead;
  {
    Stmt list(db, "SELECT window, pid, start, program, tip, menu FROM tray_icons ORDER BY rowid");
    if (!list.ok()) return false;
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) {
      if (ProcessStartTime(list.Int(1)) != list.Int(2)) {
        dead.push_back(list.Int(0));
        continue;
      }
      icons->push_back({static_cast<plat::Window>(list.Int(0)), list.Int(1), list.Text(3),
                        FromUtf8(list.Text(4)), ParseMenu(list.Text(5))});
    }
    if (rc != SQLITE_DONE) return false;
  }
  for (int64_t window : dead) {
    Stmt remove(db, "DELETE FROM tray_icons WHERE window = ?");
    remove.Bind(1, window);
    remove.Step();
  }
  return true;
}

bool ChooseTrayItem(const TrayIcon& icon, uintptr_t command) {
  // Journalled first: the program may answer before this returns.
  Journal("traychoice", "\"window\":" + std::to_string(icon.window) + ",\"command\":" + std::to_string(command));
  return internal::PostToWindow(icon.window, internal::kWmTrayCommand, command, 0);
}

}  // namespace device

namespace device::internal {

void ForgetProcessTrayIcons() {
  sqlite3* db = Db();
  if (db == nullptr) return;
  const uint32_t saved = plat::GetLastError();
  Stmt remove(db, "DELETE FROM tray_icons WHERE pid = ?");
  if (remove.ok()) {
    remove.Bind(1, OwnPid());
    remove.StepQuietly();
  }
  // Texts no one took any more; a window handle names its process above bit 20.
  Stmt texts(db, "DELETE FROM window_texts WHERE (window >> 20) = ?");
  if (texts.ok()) {
    texts.Bind(1, OwnPid());
    texts.StepQuietly();
  }
  plat::SetLastError(saved);  // a device without the tables has neither
}

bool TakeWindowText(int64_t id, std::u16string* text) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Txn txn(db, true);
  if (!txn.ok()) return false;
  Stmt find(db, "SELECT text FROM window_texts WHERE id = ?");
  if (!find.ok()) return false;
  find.Bind(1, id);
  if (find.Step() != SQLITE_ROW) return Fail(plat::kErrorInvalidData);
  *text = FromUtf8(find.Text(0));
  Stmt remove(db, "DELETE FROM window_texts WHERE id = ?");
  remove.Bind(1, id);
  return remove.Step() == SQLITE_DONE && txn.Commit();
}

}  // namespace device::internal

namespace plat {

bool ShowTrayIcon(Window window, const std::u16string& tip, const std::vector<TrayMenuItem>& menu) {
  common::FaultGate gate(faults::Op::TrayIcon);
  if (gate.failed()) return false;
  if (WindowProcess(window) != OwnPid()) return Fail(kErrorInvalidWindowHandle);
  for (const TrayMenuItem& item : menu)
    if (item.command > 0xFFFF) return Fail(kErrorInvalidParameter);
  sqlite3* db = Db();
  if (db == nullptr || !Exec(db, kCreateTrayIcons)) return false;
  const std::u16string shown_tip = OneLine(tip, plat::kTrayTipChars);
  const std::string items = MenuText(menu);
  Stmt put(db, "INSERT OR REPLACE INTO tray_icons(window, pid, start, program, tip, menu) VALUES (?, ?, ?, ?, ?, ?)");
  put.Bind(1, static_cast<int64_t>(window))
      .Bind(2, OwnPid())
      .Bind(3, device::ProcessStartTime(OwnPid()))
      .Bind(4, ProgramName())
      .Bind(5, device::ToUtf8(shown_tip))
      .Bind(6, items);
  if (put.Step() != SQLITE_DONE) return false;
  std::string json_items;
  for (const TrayMenuItem& item : menu) {
    if (!json_items.empty()) json_items += ",";
    json_items += device::JsonString(OneLine(item.text, 255));
  }
  device::Journal("trayicon", "\"window\":" + std::to_string(window) + ",\"tip\":" +
                                  device::JsonString(shown_tip) + ",\"menu\":[" + json_items + "]");
  return true;
}

void RemoveTrayIcon(Window window) {
  sqlite3* db = Db();
  if (db == nullptr) return;
  const uint32_t saved = GetLastError();
  Stmt remove(db, "DELETE FROM tray_icons WHERE window = ?");
  if (remove.ok()) {
    remove.Bind(1, static_cast<int64_t>(window));
    if (remove.StepQuietly() == SQLITE_DONE && sqlite3_changes(db) > 0)
      device::Journal("trayicon", "\"window\":" + std::to_string(window) + ",\"removed\":true");
  }
  SetLastError(saved);
}

bool ShowNotice(Window window, const std::u16string& text, uint32_t ms) {
  if (WindowProcess(window) != OwnPid()) return Fail(kErrorInvalidWindowHandle);
  return device::Journal("notice", "\"text\":" + device::JsonString(OneLine(text, plat::kNoticeChars)) +
                                       ",\"ms\":" + std::to_string(ms));
}

bool SendWindowText(Window window, uintptr_t code, const std::u16string& text) {
  if (text.size() > plat::kSentTextChars) return Fail(kErrorInvalidParameter);
  const int64_t pid = WindowProcess(window);
  if (pid <= 0 || device::ProcessStartTime(pid) < 0) return Fail(kErrorInvalidWindowHandle);
  sqlite3* db = Db();
  if (db == nullptr || !Exec(db, kCreateWindowTexts)) return false;
  Stmt put(db, "INSERT INTO window_texts(window, text) VALUES (?, ?)");
  put.Bind(1, static_cast<int64_t>(window)).Bind(2, device::ToUtf8(text));
  if (put.Step() != SQLITE_DONE) return false;
  const int64_t id = sqlite3_last_insert_rowid(db);
  if (!PostToWindow(window, kWmCopyData, code, static_cast<intptr_t>(id))) {
    const uint32_t error = GetLastError();
    Stmt remove(db, "DELETE FROM window_texts WHERE id = ?");
    remove.Bind(1, id);
    remove.StepQuietly();
    return Fail(error);
  }
  return device::WaitForInputIdle(pid, kTakeLimitMs);
}

}  // namespace plat
