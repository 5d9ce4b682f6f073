// The emulated registry: keys and values in registry.db, names compared by
// their folded form and kept as written.
#include <cstring>
#include <vector>

#include "platform/host/device/host_internal.h"

using namespace device::internal;

struct plat::RegKeyObject {
  int64_t id;
};

namespace {
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
}  // namespace

namespace device::internal {

const char kPutValueSql[] =
    "INSERT INTO vals(key, name, folded, type, data) "
    "SELECT ?1, ?2, ?3, ?4, ?5 WHERE EXISTS (SELECT 1 FROM keys WHERE id = ?1) "
    "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data";

// The product's settings are the device's own, under HKEY_LOCAL_MACHINE.
int64_t RootKeyId(plat::RegRoot root) { return root == plat::RegRoot::ClassesRoot ? 2 : 1; }

bool SplitKeyPath(const std::u16string& path, size_t from, std::vector<KeyName>* parts) {
  size_t start = from;
  for (size_t i = from; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != u'\\') continue;
    if (i > start) {
      if (i - start > kMaxKeyNameLength) return Fail(plat::kErrorInvalidParameter);
      parts->push_back({path.substr(start, i - start), i});
    }
    start = i + 1;
  }
  return true;
}

int64_t FindChild(sqlite3* db, int64_t parent, const std::string& folded) {
  Stmt find(db, "SELECT id FROM keys WHERE parent = ? AND folded = ?");
  find.Bind(1, parent).Bind(2, folded);
  int rc = find.Step();
  if (rc == SQLITE_ROW) return find.Int(0);
  return rc == SQLITE_DONE ? 0 : -1;
}

int64_t MakeChild(sqlite3* db, int64_t parent, const std::u16string& name, const std::string& folded) {
  Stmt insert(db, "INSERT INTO keys(parent, name, folded) VALUES (?, ?, ?)");
  insert.Bind(1, parent).Bind(2, device::ToUtf8(name)).Bind(3, folded);
  return insert.Step() == SQLITE_DONE ? sqlite3_last_insert_rowid(db) : 0;
}

bool DeleteKeyTree(sqlite3* db, int64_t id) {
  static const char* const kDeletes[] = {
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id)"
      " DELETE FROM vals WHERE key IN sub",
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id)"
      " DELETE FROM keys WHERE id IN sub"};
  for (const char* sql : kDeletes) {
    Stmt del(db, sql);
    del.Bind(1, id);
    if (del.Step() != SQLITE_DONE) return false;
  }
  return true;
}

}  // namespace device::internal

namespace {

bool SplitKeyPath(const std::u16string& path, std::vector<std::u16string>* parts) {
  std::vector<KeyName> names;
  if (!SplitKeyPath(path, 0, &names)) return false;
  for (KeyName& name : names) parts->push_back(std::move(name.name));
  return true;
}

// Walks the path inside an open transaction; 0 with error 2 when missing.
int64_t ResolveKey(sqlite3* db, plat::RegRoot root, const std::vector<std::u16string>& parts,
                   bool create) {
  int64_t id = RootKeyId(root);
  for (const std::u16string& part : parts) {
    const std::string folded = FoldKey(part);
    int64_t child = FindChild(db, id, folded);
    if (child < 0) return 0;
    if (child == 0) {
      if (!create) {
        Fail(plat::kErrorFileNotFound);
        return 0;
      }
      child = MakeChild(db, id, part, folded);
      if (child == 0) return 0;
    }
    id = child;
  }
  return id;
}

bool KeyAlive(sqlite3* db, int64_t id) {
  Stmt find(db, "SELECT 1 FROM keys WHERE id = ?");
  find.Bind(1, id);
  int rc = find.Step();
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) Fail(plat::kErrorKeyDeleted);
  return false;
}

// Resolves the path in one read transaction; 0 with the last error set.
int64_t FindKey(sqlite3* db, plat::RegRoot root, const std::vector<std::u16string>& parts) {
  Txn txn(db, false);
  if (!txn.ok()) return 0;
  const int64_t id = ResolveKey(db, root, parts, false);
  return id != 0 && txn.Commit() ? id : 0;
}

plat::RegKey OpenOrCreate(plat::RegRoot root, const std::u16string& path, bool create) {
  std::vector<std::u16string> parts;
  if (!SplitKeyPath(path, &parts)) return nullptr;
  sqlite3* db = Db();
  if (db == nullptr) return nullptr;
  // Nearly every open finds its key: only a key to be made takes the write lock.
  int64_t id = FindKey(db, root, parts);
  if (id == 0 && create && plat::GetLastError() == plat::kErrorFileNotFound) {
    Txn txn(db, true);
    if (!txn.ok()) return nullptr;
    id = ResolveKey(db, root, parts, true);
    if (id == 0 || !txn.Commit()) return nullptr;
  }
  return id == 0 ? nullptr : new plat::RegKeyObject{id};
}

}  // namespace

namespace plat {

RegKey RegOpenKey(RegRoot root, const std::u16string& path, uint32_t /*access*/) {
  common::FaultGate gate(faults::Op::RegistryOpen);
  if (gate.failed()) return nullptr;
  return OpenOrCreate(root, path, false);
}

RegKey RegCreateKey(RegRoot root, const std::u16string& path, uint32_t /*access*/) {
  common::FaultGate gate(faults::Op::RegistryOpen);
  if (gate.failed()) return nullptr;
  return OpenOrCreate(root, path, true);
}

void RegCloseKey(RegKey key) { delete key; }

bool RegQueryValue(RegKey key, const std::u16string& name, uint32_t* type, void* data,
                   uint32_t* size) {
  common::FaultGate gate(faults::Op::RegistryRead);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(kErrorInvalidHandle);
  if (size == nullptr && data != nullptr) return Fail(kErrorInvalidParameter);
  sqlite3* db = Db();
  if (db == nullptr) return false;
  // One statement, so one snapshot: the key's life and the value together.
  Stmt find(db,
            "SELECT v.type, v.data FROM keys k LEFT JOIN vals v ON v.key = k.id AND v.folded = ?2 "
            "WHERE k.id = ?1");
  find.Bind(1, key->id).Bind(2, FoldKey(name));
  int rc = find.Step();
  if (rc == SQLITE_DONE) return Fail(kErrorKeyDeleted);
  if (rc != SQLITE_ROW) return false;
  if (find.IsNull(0)) return Fail(kErrorFileNotFound);
  uint32_t stored_type = static_cast<uint32_t>(find.Int(0));
  std::string bytes = find.Text(1);
  if (type != nullptr) *type = stored_type;
  if (data == nullptr) {
    if (size != nullptr) *size = static_cast<uint32_t>(bytes.size());
    return true;
  }
  if (*size < bytes.size()) {
    *size = static_cast<uint32_t>(bytes.size());
    return Fail(kErrorMoreData);
  }
  std::memcpy(data, bytes.data(), bytes.size());
  *size = static_cast<uint32_t>(bytes.size());
  return true;
}

bool RegSetValue(RegKey key, const std::u16string& name, uint32_t type, const void* data,
                 uint32_t size) {
  common::FaultGate gate(faults::Op::RegistryWrite);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(kErrorInvalidHandle);
  if (data == nullptr && size != 0) return Fail(kErrorInvalidParameter);
  if (name.size() > kMaxValueNameLength) return Fail(kErrorInvalidParameter);
  sqlite3* db = Db();
  if (db == nullptr) return false;
  // One statement is one atomic write, and it waits for the write lock as a
  // transaction begun for writing does.
  Stmt put(db, kPutValueSql);
  put.Bind(1, key->id).Bind(2, device::ToUtf8(name)).Bind(3, FoldKey(name)).Bind(4, type);
  put.BindBlob(5, data, size);
  if (put.Step() != SQLITE_DONE) return false;
  return sqlite3_changes(db) > 0 || Fail(kErrorKeyDeleted);
}

bool RegDeleteValue(RegKey key, const std::u16string& name) {
  common::FaultGate gate(faults::Op::RegistryDelete);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(kErrorInvalidHandle);
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Txn txn(db, true);
  if (!txn.ok() || !KeyAlive(db, key->id)) return false;
  Stmt del(db, "DELETE FROM vals WHERE key = ? AND folded = ?");
  del.Bind(1, key->id).Bind(2, FoldKey(name));
  if (del.Step() != SQLITE_DONE) return false;
  if (sqlite3_changes(db) == 0) return Fail(kErrorFileNotFound);
  return txn.Commit();
}

bool RegEnumKey(RegKey key, uint32_t index, char16_t* name, uint32_t capacity) {
  common::FaultGate gate(faults::Op::RegistryEnum);
  if (gate.failed()) return false;
  if (key == nullptr) return Fail(kErrorInvalidHandle);
  if (name == nullptr) return Fail(kErrorInvalidParameter);
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Txn txn(db, false);
  if (!txn.ok() || !KeyAlive(db, key->id)) return false;
  Stmt find(db, "SELECT name FROM keys WHERE parent = ? ORDER BY id LIMIT 1 OFFSET ?");
  find.Bind(1, key->id).Bind(2, static_cast<int64_t>(index));
  int rc = find.Step();
  if (rc == SQLITE_DONE) return Fail(kErrorNoMoreItems);
  if (rc != SQLITE_ROW) return false;
  std::u16string found = device::FromUtf8(find.Text(0));
  if (found.size() + 1 > capacity) return Fail(kErrorMoreData);
  std::memcpy(name, found.data(), found.size() * sizeof(char16_t));
  name[found.size()] = 0;
  return true;
}

bool RegDeleteKey(RegRoot root, const std::u16string& path) {
  common::FaultGate gate(faults::Op::RegistryDelete);
  if (gate.failed()) return false;
  std::vector<std::u16string> parts;
  if (!SplitKeyPath(path, &parts)) return false;
  if (parts.empty()) return Fail(kErrorAccessDenied);  // a root cannot be deleted
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Txn txn(db, true);
  if (!txn.ok()) return false;
  int64_t id = ResolveKey(db, root, parts, false);
  if (id == 0) return false;
  return DeleteKeyTree(db, id) && txn.Commit();
}

}  // namespace plat

namespace device {

namespace {

// Runs `body(db, key id)` in one read transaction; false when the key is missing.
template <typename Body>
bool ReadKey(plat::RegRoot root, const std::u16string& path, Body body) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Txn txn(db, false);
  if (!txn.ok()) return false;
  std::vector<std::u16string> parts;
  if (!SplitKeyPath(path, &parts)) return false;
  const int64_t id = ResolveKey(db, root, parts, false);
  return id != 0 && body(db, id);
}

// The stored spelling of key `id`, from its names up to the root.
bool PathOfKey(sqlite3* db, int64_t id, std::u16string* path) {
  std::vector<std::u16string> names;
  for (;;) {
    Stmt find(db, "SELECT parent, name FROM keys WHERE id = ?");
    find.Bind(1, id);
    if (find.Step() != SQLITE_ROW) return false;
    if (find.Int(0) == 0) break;  // a root: its parent is NULL
    names.push_back(FromUtf8(find.Text(1)));
    id = find.Int(0);
  }
  path->clear();
  for (size_t i = names.size(); i-- > 0;) {
    if (!path->empty()) *path += u'\\';
    *path += names[i];
  }
  return true;
}

bool ValuesOf(sqlite3* db, int64_t id, std::vector<RegValue>* out) {
  Stmt list(db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY folded");
  list.Bind(1, id);
  int rc;
  while ((rc = list.Step()) == SQLITE_ROW)
    out->push_back({FromUtf8(list.Text(0)), static_cast<uint32_t>(list.Int(1)), list.Text(2)});
  return rc == SQLITE_DONE;
}

}  // namespace

bool ListValues(plat::RegRoot root, const std::u16string& path, std::vector<RegValue>* out) {
  return ReadKey(root, path, [out](sqlite3* db, int64_t id) { return ValuesOf(db, id, out); });
}

bool ListSubkeys(plat::RegRoot root, const std::u16string& path, std::vector<std::u16string>* out) {
  return ReadKey(root, path, [out](sqlite3* db, int64_t id) {
    Stmt list(db, "SELECT name FROM keys WHERE parent = ? ORDER BY id");
    list.Bind(1, id);
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) out->push_back(FromUtf8(list.Text(0)));
    return rc == SQLITE_DONE;
  });
}

bool KeyExists(plat::RegRoot root, const std::u16string& path) {
  return ReadKey(root, path, [](sqlite3*, int64_t) { return true; });
}

bool StoredKeyPath(plat::RegRoot root, const std::u16string& path, std::u16string* stored) {
  return ReadKey(root, path, [stored](sqlite3* db, int64_t id) { return PathOfKey(db, id, stored); });
}

bool VisitKeyTree(plat::RegRoot root, const std::u16string& path, KeyVisitor visit, void* context) {
  return ReadKey(root, path, [visit, context](sqlite3* db, int64_t id) {
    struct Pending {
      int64_t id;
      std::u16string path;
    };
    std::vector<Pending> pending(1);
    pending[0].id = id;
    if (!PathOfKey(db, id, &pending[0].path)) return false;
    while (!pending.empty()) {
      const Pending key = std::move(pending.back());
      pending.pop_back();
      std::vector<RegValue> values;
      if (!ValuesOf(db, key.id, &values) || !visit(key.path, values, context)) return false;
      Stmt list(db, "SELECT id, name FROM keys WHERE parent = ? ORDER BY id DESC");
      list.Bind(1, key.id);
      int rc;
      // Pushed last first, so that they come off in enumeration order.
      while ((rc = list.Step()) == SQLITE_ROW) {
        const std::u16string name = FromUtf8(list.Text(1));
        pending.push_back({list.Int(0), key.path.empty() ? name : key.path + u'\\' + name});
      }
      if (rc != SQLITE_DONE) return false;
    }
    return true;
  });
}

std::string ToUtf16Le(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2 + 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::u16string FromUtf16Le(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return text;
}

std::string RegTextData(const std::u16string& text) { return ToUtf16Le(text).append(2, '\0'); }

std::u16string RegTextOf(const std::string& data) {
  std::u16string text = FromUtf16Le(data);
  return text.substr(0, text.find(u'\0'));
}

}  // namespace device
