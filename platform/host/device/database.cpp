// The process's one connection to registry.db and the small wrappers the
// registry, device state and journal share.
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/host/device/host_internal.h"

namespace device {
namespace internal {
namespace {

constexpr int kBusyTimeoutMs = 30000;

// The write-ahead log is folded back into registry.db once it holds 64
// pages, by whichever program commits past it; until then each program
// leaves it for the next. Every program that opens the device alone reads
// the whole log again, so it is kept short, and its file is cut back to
// that size (64 pages of 4 KB) after a large transaction.
constexpr int kFoldAtPages = 64;
constexpr char kPragmas[] = "PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=262144";
// A device program folds as it ends, after its work: a fold syncs the disk
// twice, and a press must not wait for that before it acts. One that runs
// long still folds within a commit once the log is this long.
constexpr int kFoldWithinCommitAtPages = 1024;

struct LogFolds {
  bool at_end = false;  // FoldLogAtEnd was called
  int pages = 0;        // the log's length at this process's last commit
};
LogFolds& Folds() {
  static LogFolds folds;
  return folds;
}

int OnCommit(void* /*context*/, sqlite3* db, const char* name, int pages) {
  Folds().pages = pages;
  if (pages >= kFoldWithinCommitAtPages) {
    sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    Folds().pages = 0;
  }
  return SQLITE_OK;
}

struct CachedStatement {
  const char* sql;  // the text's address: statements are string literals
  sqlite3_stmt* stmt;
  bool in_use;
};

struct Connection {
  sqlite3* db = nullptr;
  std::string folder;
  dev_t device = 0;  // which registry.db the connection has open
  ino_t inode = 0;
  uint64_t generation = 0;  // changes whenever the connection closes
  int transaction_depth = 0;  // > 0 inside device::Transaction
  // Journal rows written inside the open transaction, and whether each got in.
  std::vector<std::pair<JournalRow, bool>> kept;
  // Prepared once per connection: preparing costs more than running them.
  std::vector<CachedStatement> statements;
  ~Connection() { Close(); }
  void Close() {
    for (CachedStatement& cached : statements) sqlite3_finalize(cached.stmt);
    statements.clear();
    // A statement still held elsewhere keeps the connection until it goes.
    if (db != nullptr) sqlite3_close_v2(db);
    db = nullptr;
    ++generation;
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

// Asked of the schema already read, so it costs no statement: SQLITE_OK when
// the table (and the column, when one is named) is there, SQLITE_ERROR when
// it is not, another code when the schema cannot be read at all.
int SchemaHas(sqlite3* db, const char* table, const char* column = nullptr) {
  return sqlite3_table_column_metadata(db, "main", table, column, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// A device made before keys had holders, or before they kept the times they
// went down and up, gets the columns; when it cannot be written, key reads
// fail and say why.
void UpgradeKeyTable(sqlite3* db) {
  static const struct {
    const char* column;
    const char* sql;
  } kAdded[] = {
      {"holder_pid",
       "ALTER TABLE keys_down ADD COLUMN holder_pid INTEGER; ALTER TABLE keys_down ADD COLUMN holder_start INTEGER"},
      {"down_at", "ALTER TABLE keys_down ADD COLUMN down_at INTEGER"},
      {"up_at", "ALTER TABLE keys_down ADD COLUMN up_at INTEGER"},
  };
  for (const auto& added : kAdded)
    if (SchemaHas(db, "keys_down", added.column) != SQLITE_OK) sqlite3_exec(db, added.sql, nullptr, nullptr, nullptr);
}

// Set once, before SQLite starts. A connection would take its first
// page-cache slots in one allocation and touch every page of it, while a
// press reads a handful of pages and each fresh page of memory costs the
// process a fault: slots come one by one. Nothing reads SQLite's memory
// statistics, and keeping them costs a lock on every allocation.
bool ConfigureSqlite() {
  const bool slots = sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) == SQLITE_OK;
  return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK && slots;
}

}  // namespace

namespace {
// Runs one statement of the connection's cache to its end; the SQLite result
// (SQLITE_OK for a statement that ran through), the last error untouched.
int Run(sqlite3* db, const char* sql) {
  const uint32_t error = plat::GetLastError();
  Stmt statement(db, sql);
  plat::SetLastError(error);
  if (!statement.ok()) return sqlite3_errcode(db);
  const int rc = statement.StepQuietly();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}
}  // namespace

void CloseDb() {
  Connection& c = Current();
  c.Close();
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
  static const bool configured = ConfigureSqlite();
  (void)configured;
  sqlite3* db = nullptr;
  // Without SQLITE_OPEN_CREATE: a missing device never gets a stray database.
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  // A registry.db this process may not write is opened for reading only:
  // every write would fail while reads went on, and a press would lose its
  // counter without a word. Such a device is refused whole.
  if (rc == SQLITE_OK && sqlite3_db_readonly(db, "main") == 1) rc = SQLITE_READONLY;
  if (rc != SQLITE_OK) {
    uint32_t code = FromSqlite(rc, db);
    sqlite3_close(db);
    Fail(code);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Durability: a commit is in the write-ahead log before it returns, so a
  // program killed at any point loses nothing it committed; the log is synced
  // only when it is folded back into registry.db, so a power loss may take
  // back the last commits, never corrupt what stays (see device.h).
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_exec(db, kPragmas, nullptr, nullptr, nullptr);
  if (Folds().at_end) {
    sqlite3_wal_hook(db, OnCommit, nullptr);
  } else {
    sqlite3_wal_autocheckpoint(db, kFoldAtPages);
  }
  // A file that is not a device's database is refused here, once, rather
  // than half-working for calls that happen not to read it.
  rc = SchemaHas(db, "keys");
  if (rc == SQLITE_OK) rc = SchemaHas(db, "vals");
  if (rc != SQLITE_OK) {
    // Missing tables: a database, but not a device's.
    uint32_t code = (rc & 0xFF) == SQLITE_ERROR ? plat::kErrorRegistryCorrupt : FromSqlite(rc, db);
    if (code == plat::kErrorRegistryCorrupt) plat::common::NoteRegistryDamage(code);
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
    int rc = Run(db, sql);
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
    int rc = Run(db_, "SAVEPOINT op");
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
    Run(db_, "ROLLBACK");
    TransactionEnded(false);
  }
  if (nested_) {
    Run(db_, "ROLLBACK TO op");
    Run(db_, "RELEASE op");
  }
}

bool Txn::Commit() {
  if (!ok_) return false;
  done_ = true;
  if (nested_) {
    const int rc = Run(db_, "RELEASE op");
    return rc == SQLITE_OK || Fail(FromSqlite(rc, db_));
  }
  if (!own_) return true;
  int rc = BeginWithRetry(db_, "COMMIT");
  if (rc != SQLITE_OK) {
    uint32_t code = FromSqlite(rc, db_);
    Run(db_, "ROLLBACK");
    TransactionEnded(false);
    return Fail(code);
  }
  TransactionEnded(true);
  return true;
}

Stmt::Stmt(sqlite3* db, const char* sql) {
  if (db == nullptr) return;
  Connection& c = Current();
  const bool cacheable = db == c.db;
  if (cacheable) {
    for (size_t i = 0; i < c.statements.size(); ++i) {
      CachedStatement& cached = c.statements[i];
      // The same address may hold another text once a buffer is reused.
      if (cached.sql != sql || std::strcmp(sqlite3_sql(cached.stmt), sql) != 0) continue;
      if (cached.in_use) break;  // a second use at once, as a walk inside a walk: its own
      cached.in_use = true;
      stmt_ = cached.stmt;
      slot_ = i;
      generation_ = c.generation;
      return;
    }
  }
  int rc = sqlite3_prepare_v3(db, sql, -1, cacheable ? SQLITE_PREPARE_PERSISTENT : 0, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    Fail(FromSqlite(rc, db));
    stmt_ = nullptr;
    return;
  }
  if (!cacheable) return;
  bool taken = false;
  for (const CachedStatement& cached : c.statements) taken = taken || cached.sql == sql;
  if (taken) return;
  c.statements.push_back({sql, stmt_, true});
  slot_ = c.statements.size() - 1;
  generation_ = c.generation;
}

Stmt::~Stmt() {
  if (stmt_ == nullptr) return;
  if (slot_ == kNoSlot) {
    sqlite3_finalize(stmt_);
    return;
  }
  Connection& c = Current();
  if (generation_ != c.generation) return;  // finalized with its connection
  // Reset at once: a statement left part-way holds its read transaction open.
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  c.statements[slot_].in_use = false;
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
  if (stmt_ == nullptr) return SQLITE_MISUSE;  // the failed prepare set the last error
  const int rc = sqlite3_step(stmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(FromSqlite(rc, sqlite3_db_handle(stmt_)));
  return rc;
}

int Stmt::StepQuietly() {
  if (stmt_ == nullptr) return SQLITE_MISUSE;
  return sqlite3_step(stmt_);
}

int64_t Stmt::Int(int column) { return stmt_ ? sqlite3_column_int64(stmt_, column) : 0; }

bool Stmt::IsNull(int column) { return stmt_ == nullptr || sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

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
  // One statement: atomic on its own, inside a transaction or not.
  Stmt add(db, "INSERT INTO journal(t, pid, event, fields) VALUES (?, ?, ?, ?)");
  add.Bind(1, row.t_ms).Bind(2, row.pid).Bind(3, row.event).Bind(4, row.fields);
  const bool written = add.Step() == SQLITE_DONE;
  if (inside && written && !c.kept.empty()) c.kept.back().second = true;
  return written;
}

void AbandonTransaction() {
  Connection& c = Current();
  if (c.db == nullptr || sqlite3_get_autocommit(c.db)) return;
  Run(c.db, "ROLLBACK");
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

// Opening the connection reads the device's tables already.
bool Open() { return internal::Db() != nullptr; }

void FoldLogAtEnd() {
  internal::Folds().at_end = true;
  internal::CloseDb();  // the next connection takes the rule
}

bool FoldLogIfDue() {
  using namespace internal;
  Connection& c = Current();
  if (!Folds().at_end || Folds().pages < kFoldAtPages || c.db == nullptr || !sqlite3_get_autocommit(c.db))
    return false;
  // Copied without the write lock, so that no press waits for the syncs.
  // Then, all copied, the log is emptied: the next program to open the device
  // alone would read all of it again, and being the next to write, it could
  // not tell that it was copied. Emptying takes the write lock only for a
  // moment and waits for no other program: one busy leaves it for later.
  int log = 0, copied = 0;
  int rc = sqlite3_wal_checkpoint_v2(c.db, "main", SQLITE_CHECKPOINT_PASSIVE, &log, &copied);
  if (rc == SQLITE_OK && log == copied) {
    sqlite3_busy_timeout(c.db, 0);
    sqlite3_wal_checkpoint_v2(c.db, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(c.db, kBusyTimeoutMs);
  }
  Folds().pages = 0;
  return rc == SQLITE_OK;
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
    Run(db, "ROLLBACK");
    TransactionEnded(false);
    plat::SetLastError(code);
    return false;
  }
  rc = BeginWithRetry(db, "COMMIT");
  if (rc != SQLITE_OK) {
    const uint32_t code = FromSqlite(rc, db);
    Run(db, "ROLLBACK");
    TransactionEnded(false);
    return Fail(code);
  }
  TransactionEnded(true);
  return true;
}

}  // namespace device
