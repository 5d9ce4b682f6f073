#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/common/fault_gate.h"
#include "platform/platform.h"

namespace plat::faults {
namespace {

struct Rule {
  Op op;
  uint32_t call;   // the count at which it fails
  bool onward;     // and every call after it
  uint32_t error;
  bool kill;       // the program is killed there instead
};

// Fixed storage: no allocation while an operation is gated, so the table
// works when memory runs out too. Constant-initialised: nothing runs before main.
constexpr int kMaxRules = 64;
struct Table {
  Rule rules[kMaxRules];
  int rule_count;
  uint32_t calls[kOpCount];
  bool environment_read;
  uint32_t start_delay_ms;
  uint32_t mutex_delay_ms;
};
Table table;
std::atomic_flag table_lock = ATOMIC_FLAG_INIT;
thread_local int operations_running = 0;

class Locked {
 public:
  Locked() {
    while (table_lock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Locked() { table_lock.clear(std::memory_order_release); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

const char* const kNames[] = {
#define QK_FAULT_NAME(id, name) name,
    QK_FAULT_OPERATIONS(QK_FAULT_NAME)
#undef QK_FAULT_NAME
};

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string WithoutExe(std::string name) {
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 4 && EqualNoCase(name.substr(name.size() - 4), ".exe")) name.resize(name.size() - 4);
  return name;
}

bool ParseNumber(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(n);
  return true;
}

void AddRule(Op op, uint32_t call, bool onward, uint32_t error, bool kill = false) {
  if (table.rule_count < kMaxRules) table.rules[table.rule_count++] = {op, call, onward, error, kill};
}

// One "[PROGRAM/]OPERATION[@K[+]]:ERROR" entry; false when malformed.
bool ParseEntry(std::string entry, const std::string& program) {
  size_t slash = entry.find('/');
  if (slash != std::string::npos) {
    if (!EqualNoCase(WithoutExe(entry.substr(0, slash)), program)) return true;  // another's
    entry = entry.substr(slash + 1);
  }
  size_t colon = entry.find(':');
  if (colon == std::string::npos) return false;
  uint32_t error = 0;
  const bool kill = entry.substr(colon + 1) == "kill";
  if (!kill && !ParseNumber(entry.substr(colon + 1), &error)) return false;
  std::string name = entry.substr(0, colon);
  if (name == "start-delay" || name == "mutex-delay") {
    if (kill) return false;
    (name == "start-delay" ? table.start_delay_ms : table.mutex_delay_ms) = error > 60000 ? 60000 : error;
    return true;
  }
  uint32_t call = 1;
  bool onward = false;
  size_t at = name.find('@');
  if (at != std::string::npos) {
    std::string k = name.substr(at + 1);
    name.resize(at);
    if (!k.empty() && k.back() == '+') {
      onward = true;
      k.pop_back();
    }
    if (!ParseNumber(k, &call) || call == 0) return false;
  }
  Op op;
  if (!ByName(name, &op)) return false;
  AddRule(op, call, onward, error, kill);
  return true;
}

// Under the lock.
void ReadEnvironmentOnce() {
  if (table.environment_read) return;
  table.environment_read = true;
  const char* setting = std::getenv("QUADRAKEY_FAULTS");
  if (setting == nullptr || *setting == '\0') return;
  const std::string program = WithoutExe(common::ProgramFileName());
  const std::string all = setting;
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    ParseEntry(all.substr(start, comma - start), program);
    start = comma + 1;
  }
}

}  // namespace

uint32_t StartDelayMs() {
  Locked lock;
  ReadEnvironmentOnce();
  return table.start_delay_ms;
}

const char* Name(Op op) {
  const auto index = static_cast<size_t>(op);
  return index < static_cast<size_t>(kOpCount) ? kNames[index] : "";
}

bool ByName(const std::string& name, Op* op) {
  for (int i = 0; i < kOpCount; ++i) {
    if (name == kNames[i]) {
      *op = static_cast<Op>(i);
      return true;
    }
  }
  return false;
}

void FailCall(Op op, uint32_t k, uint32_t error) {
  Locked hold;
  ReadEnvironmentOnce();
  AddRule(op, table.calls[static_cast<int>(op)] + (k == 0 ? 1 : k), false, error);
}

void FailCallsFrom(Op op, uint32_t k, uint32_t error) {
  Locked hold;
  ReadEnvironmentOnce();
  AddRule(op, table.calls[static_cast<int>(op)] + (k == 0 ? 1 : k), true, error);
}

void Clear() {
  Locked hold;
  table.environment_read = true;
  table.rule_count = 0;
  for (uint32_t& count : table.calls) count = 0;
  common::ForgetRegistryDamage();
}

uint32_t Calls(Op op) {
  Locked hold;
  ReadEnvironmentOnce();
  return table.calls[static_cast<int>(op)];
}

}  // namespace plat::faults

namespace plat {
namespace {
std::atomic<uint32_t> registry_damage{0};
}  // namespace

uint32_t RegistryDamage() { return registry_damage.load(); }

}  // namespace plat

namespace plat::common {

void NoteRegistryDamage(uint32_t error) {
  uint32_t none = 0;
  plat::registry_damage.compare_exchange_strong(none, error);
}

void ForgetRegistryDamage() { plat::registry_damage.store(0); }

FaultGate::FaultGate(faults::Op op) {
  using namespace faults;
  if (faults::operations_running++ > 0) return;
  bool fail = false;
  bool kill = false;
  uint32_t error = 0;
  uint32_t delay_ms = 0;
  {
    Locked hold;
    ReadEnvironmentOnce();
    const uint32_t call = ++table.calls[static_cast<int>(op)];
    for (int i = 0; i < table.rule_count && !fail; ++i) {
      const Rule& rule = table.rules[i];
      if (rule.op == op && (rule.onward ? call >= rule.call : call == rule.call)) {
        fail = true;
        kill = rule.kill;
        error = rule.error;
      }
    }
    if (op == Op::MutexWait) delay_ms = table.mutex_delay_ms;
  }
  if (kill) KillProgram();
  if (delay_ms != 0) Sleep(delay_ms);
  if (fail) {
    failed_ = true;
    const bool registry = op == Op::RegistryOpen || op == Op::RegistryRead || op == Op::RegistryWrite ||
                          op == Op::RegistryDelete || op == Op::RegistryEnum;
    if (registry && error == kErrorRegistryCorrupt) NoteRegistryDamage(error);
    SetLastError(error);
  }
}

FaultGate::~FaultGate() { --faults::operations_running; }

}  // namespace plat::common
