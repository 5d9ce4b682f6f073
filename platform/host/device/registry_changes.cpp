// Many registry changes as one transaction (what an import asks for),
// planned under a read snapshot and written under the write lock only as
// long as the rows take, so that presses made meanwhile are not held up.
#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/host/device/host_internal.h"

using namespace device::internal;

namespace device {
namespace {

// A key the plan names: a positive id is a row of the keys table, a negative
// one a key the plan makes (-1 the first), 0 none.
using KeyRef = int64_t;

struct ChildName {
  KeyRef parent;
  std::string folded;
  bool operator==(const ChildName& other) const { return parent == other.parent && folded == other.folded; }
};
struct ChildNameHash {
  size_t operator()(const ChildName& name) const {
    return std::hash<std::string_view>()(name.folded) ^ (std::hash<int64_t>()(name.parent) * 0x9E3779B97F4A7C15ull);
  }
};

struct Step {
  enum Kind { kMakeKey, kPut, kDropValue, kDropTree } kind;
  size_t change;  // the change it serves
  KeyRef key;     // kMakeKey: the parent
  KeyRef made;    // kMakeKey: the new key's ref
  std::u16string name;  // kMakeKey (a value's name is its change's)
  std::string folded;
};

class Planner {
 public:
  Planner(sqlite3* db, const std::vector<RegChange>& changes, bool consult_faults)
      : db_(db), changes_(changes), faults_(consult_faults) {}

  // Fills the steps; false with *failure.
  bool Plan(std::vector<Step>* steps, RegChangeFailure* failure) {
    steps_ = steps;
    for (size_t i = 0; i < changes_.size(); ++i) {
      current_ = i;
      if (!PlanOne(i, &failure->at_key)) {
        failure->index = i;
        failure->error = plat::GetLastError();
        return false;
      }
    }
    return true;
  }

 private:
  bool PlanOne(size_t index, bool* at_key) {
    const RegChange& change = changes_[index];
    *at_key = true;
    KeyRef key = 0;
    switch (change.kind) {
      case RegChange::kDeleteKey:
        if (!Resolve(change.root, change.path, false, &key)) return false;
        if (key == 0) return true;  // nothing to delete
        *at_key = false;
        if (Gate(plat::faults::Op::RegistryDelete)) return false;
        if (key == RootKeyId(change.root)) return Fail(plat::kErrorAccessDenied);
        steps_->push_back({Step::kDropTree, index, key, 0, {}, {}});
        dead_.insert(key);
        walked_.valid = false;  // it may run through the deleted key
        return true;
      case RegChange::kCreateKey:
      case RegChange::kSetValue:
        if (Gate(plat::faults::Op::RegistryOpen) || !Resolve(change.root, change.path, true, &key)) return false;
        if (change.kind == RegChange::kCreateKey) return true;
        *at_key = false;
        if (Gate(plat::faults::Op::RegistryWrite)) return false;
        if (change.name.size() > kMaxValueNameLength || change.data.size() > UINT32_MAX)
          return Fail(plat::kErrorInvalidParameter);
        steps_->push_back({Step::kPut, index, key, 0, {}, FoldKey(change.name)});
        return true;
      case RegChange::kDeleteValue:
        if (Gate(plat::faults::Op::RegistryOpen) || !Resolve(change.root, change.path, false, &key)) return false;
        if (key == 0) return true;  // nothing to delete
        *at_key = false;
        if (Gate(plat::faults::Op::RegistryDelete)) return false;
        steps_->push_back({Step::kDropValue, index, key, 0, {}, FoldKey(change.name)});
        return true;
    }
    return true;
  }

  bool Gate(plat::faults::Op op) { return faults_ && plat::common::FailsAtGate(op); }

  // The key of the path as the changes so far leave it: *key is 0 when it
  // is missing (and not to be made). False when the registry cannot be read.
  bool Resolve(plat::RegRoot root, const std::u16string& path, bool create, KeyRef* key) {
    // The path shares its beginning with the one before (an import names a
    // key and then each key below it): the names up to where they part are
    // not walked again, so a path costs its length, not its depth in lookups.
    size_t shared = 0;
    KeyRef at = RootKeyId(root);
    size_t from = 0;
    if (walked_.valid && walked_.root == root) {
      const size_t length = std::min(path.size(), walked_.path.size());
      const size_t common =
          static_cast<size_t>(std::mismatch(path.begin(), path.begin() + length, walked_.path.begin()).first -
                              path.begin());
      while (shared < walked_.ends.size() &&
             (walked_.ends[shared] < common ||
              (walked_.ends[shared] == common && (common == path.size() || path[common] == u'\\'))))
        ++shared;
      if (shared > 0) {
        at = walked_.refs[shared - 1];
        from = walked_.ends[shared - 1];
      }
    }
    std::vector<KeyName> names;
    if (!SplitKeyPath(path, from, &names)) return false;
    walked_.valid = false;
    walked_.root = root;
    walked_.path = path;
    walked_.ends.resize(shared);
    walked_.refs.resize(shared);
    for (KeyName& name : names) {
      const std::string folded = FoldKey(name.name);
      KeyRef child = 0;
      if (!Child(at, folded, &child)) return false;
      if (child == 0) {
        if (!create) {
          *key = 0;
          return true;
        }
        child = -static_cast<KeyRef>(++made_);
        steps_->push_back({Step::kMakeKey, current_, at, child, std::move(name.name), folded});
        children_[{at, folded}] = child;
      }
      at = child;
      walked_.ends.push_back(name.end);
      walked_.refs.push_back(at);
    }
    walked_.valid = true;
    *key = at;
    return true;
  }

  // The child as the plan leaves it: made, deleted, or as the registry has it.
  bool Child(KeyRef parent, const std::string& folded, KeyRef* child) {
    auto known = children_.find({parent, folded});
    if (known != children_.end()) {
      *child = dead_.count(known->second) ? 0 : known->second;
      return true;
    }
    // A key the plan makes has no children in the registry.
    KeyRef found = parent > 0 ? FindChild(db_, parent, folded) : 0;
    if (found < 0) return false;
    children_.emplace(ChildName{parent, folded}, found);
    *child = found;
    return true;
  }

  sqlite3* db_;
  const std::vector<RegChange>& changes_;
  const bool faults_;
  std::vector<Step>* steps_ = nullptr;
  size_t current_ = 0;
  size_t made_ = 0;
  std::unordered_map<ChildName, KeyRef, ChildNameHash> children_;  // 0: known missing
  std::unordered_set<KeyRef> dead_;
  struct {
    bool valid = false;
    plat::RegRoot root = plat::RegRoot::LocalMachine;
    std::u16string path;
    std::vector<size_t> ends;  // where each name of the path ends
    std::vector<KeyRef> refs;  // the key each name leads to
  } walked_;

  static constexpr size_t kMaxValueNameLength = 16383;
};

// What the keys table holds, in two numbers that change with any key made
// or deleted by anyone: a plan made from it holds while they stay.
bool KeysStamp(sqlite3* db, int64_t* made, int64_t* count) {
  Stmt stamp(db,
             "SELECT (SELECT seq FROM sqlite_sequence WHERE name = 'keys'), (SELECT count(*) FROM keys)");
  if (stamp.Step() != SQLITE_ROW) return false;
  *made = stamp.Int(0);
  *count = stamp.Int(1);
  return true;
}

bool WriteSteps(sqlite3* db, const std::vector<RegChange>& changes, const std::vector<Step>& steps,
                RegChangeFailure* failure) {
  std::vector<int64_t> made;  // the row of each key the plan makes
  auto row = [&made](KeyRef ref) { return ref > 0 ? ref : made[static_cast<size_t>(-ref - 1)]; };
  for (const Step& step : steps) {
    bool ok = false;
    failure->index = step.change;
    failure->at_key = step.kind == Step::kMakeKey;
    switch (step.kind) {
      case Step::kMakeKey: {
        const int64_t id = MakeChild(db, row(step.key), step.name, step.folded);
        made.push_back(id);
        ok = id != 0;
        break;
      }
      case Step::kPut: {
        const RegChange& change = changes[step.change];
        Stmt put(db, kPutValueSql);
        put.Bind(1, row(step.key)).Bind(2, ToUtf8(change.name)).Bind(3, step.folded).Bind(4, change.type);
        put.BindBlob(5, change.data.data(), change.data.size());
        ok = put.Step() == SQLITE_DONE;
        break;
      }
      case Step::kDropValue: {
        Stmt drop(db, "DELETE FROM vals WHERE key = ? AND folded = ?");
        drop.Bind(1, row(step.key)).Bind(2, step.folded);
        ok = drop.Step() == SQLITE_DONE;
        break;
      }
      case Step::kDropTree:
        ok = DeleteKeyTree(db, row(step.key));
        break;
    }
    if (!ok) {
      failure->error = plat::GetLastError();
      return false;
    }
  }
  return true;
}

}  // namespace

bool ApplyRegChanges(const std::vector<RegChange>& changes, RegChangeFailure* failure) {
  *failure = {};
  auto refused = [&] {
    failure->index = changes.size();
    failure->at_key = false;
    failure->error = plat::GetLastError();
    return false;
  };
  sqlite3* db = Db();
  if (db == nullptr) return refused();

  // Planned under a read snapshot: other programs write meanwhile.
  std::vector<Step> steps;
  int64_t made_before = 0, count_before = 0;
  {
    Txn snapshot(db, false);
    if (!snapshot.ok() || !KeysStamp(db, &made_before, &count_before)) return refused();
    Planner planner(db, changes, true);
    if (!planner.Plan(&steps, failure)) return false;
    snapshot.Commit();
  }
  if (steps.empty()) return true;  // nothing to write: no need of the lock

  Txn write(db, true);
  if (!write.ok()) return refused();
  int64_t made_now = 0, count_now = 0;
  if (!KeysStamp(db, &made_now, &count_now)) return refused();
  if (made_now != made_before || count_now != count_before) {
    // Keys came or went since: plan again, now that nobody else can write.
    steps.clear();
    Planner planner(db, changes, false);
    if (!planner.Plan(&steps, failure)) return false;
  }
  if (!WriteSteps(db, changes, steps, failure)) return false;
  return write.Commit() || refused();
}

}  // namespace device
