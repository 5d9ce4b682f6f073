// The process's one connection to registry.db and the small wrappers the
// registry, device state and journal share.
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "platform/host/device/host_internal.h"

namespace device {
namespace internal {
namespace {

constexpr int kBusyTimeoutMs = 30000;

struct Connection {
  sqlite3* db = nullptr;
  std::string folder;
  dev_t device = 0;  // which registry.db the connection has open
  ino_t inode = 0;
  int transaction_depth = 0;  // > 0 inside device::Transaction
  // Journal rows written inside the open transaction, and whether each got in.
  std::vector<std::pair<JournalRow, bool>> kept;
  ~Connection() {
    if (db != nullptr) sqlite3_close(db);
  }
};

Connection& Current() {
  static Connection connection;
  return connection;
}

// After the outermost transaction ends: committed rows stay, and rows that
// could not join it are written now; after a rollback every kept row is.
void TransactionEnded(bool committed) {
  std::vector<std::pair<JournalRow, bool>> kept;
  kept.swap(Current().kept);
  const uint32_t error = plat::GetLastError();
  for (const auto& [row, written] : kept)
    if (!committed || !written) WriteJournalRow(row);
  plat::SetLastError(error);
}

// A device made before keys had holders gets the columns; when it cannot be
// written, key reads fail and say why.
void UpgradeKeyTable(sqlite3* db) {
  sqlite3_stmt* columns = nullptr;
  bool has_holder = false;
  if (sqlite3_prepare_v2(db, "PRAGMA table_info(keys_down)", -1, &columns, nullptr) == SQLITE_OK) {
    while (sqlite3_step(columns) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(columns, 1);
      if (name != nullptr && std::string(reinterpret_cast<const char*>(name)) == "holder_pid") has_holder = true;
    }
  }
  sqlite3_finalize(columns);
  if (!has_holder)
    sqlite3_exec(db,
                 "ALTER TABLE keys_down ADD COLUMN holder_pid INTEGER;"
                 "ALTER TABLE keys_down ADD COLUMN holder_start INTEGER",
                 nullptr, nullptr, nullptr);
}

}  // namespace

void CloseDb() {
  Connection& c = Current();
  if (c.db != nullptr) sqlite3_close(c.db);
  c.db = nullptr;
  c.folder.clear();
  c.transaction_depth = 0;
  c.kept.clear();
}

sqlite3* Db() {
  Connection& c = Current();
  std::string folder = Folder();
  std::string path = folder + "/registry.db";
  struct stat st;
  // Checked every time: a removed device must not be written through a
  // connection to a file that is gone.
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (c.transaction_depth == 0) CloseDb();
    Fail(plat::kErrorPathNotFound);
    return nullptr;
  }
  // A database made anew in the same folder (a device replaced under a
  // running program) is another file: writes through the old connection
  // would land in the removed one and be lost.
  if (c.db != nullptr && c.folder == folder && c.device == st.st_dev && c.inode == st.st_ino)
    return c.db;
  if (c.transaction_depth > 0) {  // the folder changed under an open transaction
    Fail(plat::kErrorInvalidHandle);
    return nullptr;
  }
  CloseDb();
  sqlite3* db = nullptr;
  // Without SQLITE_OPEN_CREATE: a missing device never gets a stray database.
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    uint32_t code = FromSqlite(rc, db);
    sqlite3_close(db);
    Fail(code);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  // A file that is not a device's database is refused here, once, rather
  // than half-working for calls that happen not to read it.
  rc = sqlite3_exec(db, "SELECT count(*) FROM keys WHERE id IN (1, 2)", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    // Missing tables: a database, but not a device's.
    uint32_t code = (rc & 0xFF) == SQLITE_ERROR ? plat::kErrorRegistryCorrupt : FromSqlite(rc, db);
    sqlite3_close(db);
    Fail(code);
    return nullptr;
  }
  UpgradeKeyTable(db);
  c.db = db;
  c.folder = folder;
  c.device = st.st_dev;
  c.inode = st.st_ino;
  return db;
}

bool Exec(sqlite3* db, const char* sql) {
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(FromSqlite(rc, db));
  return true;
}

namespace {
// The busy handler covers lock waits; a begin can still report busy while
// another process recovers the log, so it is retried up to the same limit.
int BeginWithRetry(sqlite3* db, const char* sql) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) return rc;
    if (std::chrono::steady_clock::now() >= deadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}
}  // namespace

Txn::Txn(sqlite3* db, bool write) : db_(db) {
  if (db_ == nullptr) return;
  if (Current().transaction_depth > 0 || !sqlite3_get_autocommit(db_)) {
    // Inside an outer transaction each operation still stays all or nothing.
    int rc = sqlite3_exec(db_, "SAVEPOINT op", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      Fail(FromSqlite(rc, db_));
      return;
    }
    ok_ = true;
    nested_ = true;
    return;
  }
  int rc = BeginWithRetry(db_, write ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED");
  if (rc != SQLITE_OK) {
    Fail(FromSqlite(rc, db_));
    return;
  }
  ok_ = true;
  own_ = true;
}

Txn::~Txn() {
  if (done_) return;
  if (own_) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    TransactionEnded(false);
  }
  if (nested_) sqlite3_exec(db_, "ROLLBACK TO op; RELEASE op", nullptr, nullptr, nullptr);
}

bool Txn::Commit() {
  if (!ok_) return false;
  done_ = true;
  if (nested_) return Exec(db_, "RELEASE op");
  if (!own_) return true;
  int rc = BeginWithRetry(db_, "COMMIT");
  if (rc != SQLITE_OK) {
    uint32_t code = FromSqlite(rc, db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    TransactionEnded(false);
    return Fail(code);
  }
  TransactionEnded(true);
  return true;
}

Stmt::Stmt(sqlite3* db, const char* sql) {
  if (db == nullptr) return;
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    Fail(FromSqlite(rc, db));
    stmt_ = nullptr;
  }
}

Stmt::~Stmt() {
  if (stmt_ != nullptr) sqlite3_finalize(stmt_);
}

Stmt& Stmt::Bind(int index, int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Stmt& Stmt::Bind(int index, const std::string& text) {
  if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Stmt& Stmt::BindBlob(int index, const void* data, size_t size) {
  static const char kEmpty = 0;
  if (stmt_)
    sqlite3_bind_blob(stmt_, index, size ? data : &kEmpty, static_cast<int>(size), SQLITE_TRANSIENT);
  return *this;
}

int Stmt::Step() {
  if (stmt_ == nullptr) return SQLITE_MISUSE;
  int rc = sqlite3_step(stmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(FromSqlite(rc, sqlite3_db_handle(stmt_)));
  return rc;
}

int64_t Stmt::Int(int column) { return stmt_ ? sqlite3_column_int64(stmt_, column) : 0; }

std::string Stmt::Text(int column) {
  if (stmt_ == nullptr) return {};
  const void* data = sqlite3_column_blob(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return data ? std::string(static_cast<const char*>(data), size) : std::string();
}

bool WriteJournalRow(const JournalRow& row) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Connection& c = Current();
  const bool inside = !sqlite3_get_autocommit(db);
  if (inside) c.kept.push_back({row, false});
  Txn txn(db, true);
  if (!txn.ok()) return false;
  Stmt add(db, "INSERT INTO journal(t, pid, event, fields) VALUES (?, ?, ?, ?)");
  add.Bind(1, row.t_ms).Bind(2, row.pid).Bind(3, row.event).Bind(4, row.fields);
  const bool written = add.Step() == SQLITE_DONE && txn.Commit();
  if (inside && written && !c.kept.empty()) c.kept.back().second = true;
  return written;
}

void AbandonTransaction() {
  Connection& c = Current();
  if (c.db == nullptr || sqlite3_get_autocommit(c.db)) return;
  sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
  c.transaction_depth = 0;
  TransactionEnded(false);
}

std::string FoldKey(const std::u16string& text) {
  std::u16string folded;
  folded.reserve(text.size());
  for (char16_t c : text) folded += plat::CharToLower(plat::CharToUpper(c));
  return ToUtf8(folded);
}

}  // namespace internal

bool Open() {
  using namespace internal;
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Txn txn(db, false);
  if (!txn.ok()) return false;
  Stmt probe(db, "SELECT count(*) FROM keys");
  return probe.Step() == SQLITE_ROW;
}

bool Transaction(bool (*body)(void*), void* context) {
  using namespace internal;
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Connection& c = Current();
  if (c.transaction_depth > 0) return body(context);
  int rc = BeginWithRetry(db, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return Fail(FromSqlite(rc, db));
  ++c.transaction_depth;
  bool ok = body(context);
  --c.transaction_depth;
  if (!ok) {
    uint32_t code = plat::GetLastError();
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    TransactionEnded(false);
    plat::SetLastError(code);
    return false;
  }
  rc = BeginWithRetry(db, "COMMIT");
  if (rc != SQLITE_OK) {
    const uint32_t code = FromSqlite(rc, db);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    TransactionEnded(false);
    return Fail(code);
  }
  TransactionEnded(true);
  return true;
}

}  // namespace device
