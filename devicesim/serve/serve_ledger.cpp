#include "devicesim/serve/serve_ledger.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "devicesim/serve/serve_views.h"

namespace devicesim::serve {
namespace {

constexpr char kPrefix[] = "serve-keys.";
constexpr size_t kMaxLedger = 64 * 1024;

std::string Reason() { return std::strerror(errno); }

bool WriteAll(int fd, const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

// Whole or not at all: a file beside it, renamed over it. Not synced: the
// ledger is for a server that was killed, not for a machine that lost power,
// and a key down must not wait for the disk.
bool Replace(const std::string& path, const std::string& text, std::string* error) {
  std::string temporary = path + ".new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot write " + temporary + ": " + Reason();
    return false;
  }
  bool ok = WriteAll(fd, text);
  if (!ok) *error = "cannot write " + temporary + ": " + Reason();
  close(fd);
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot replace " + path + ": " + Reason();
    ok = false;
  }
  if (!ok) unlink(temporary.c_str());
  return ok;
}

bool ReadSmall(const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  text->clear();
  char chunk[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    text->append(chunk, static_cast<size_t>(n));
    if (text->size() > kMaxLedger) {
      ok = false;
      break;
    }
  }
  close(fd);
  if (!ok && text->size() > kMaxLedger) errno = EFBIG;
  return ok;
}

bool IsLedgerName(const char* name) {
  if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
  const char* pid = name + sizeof kPrefix - 1;
  if (*pid == '\0' || std::strlen(pid) > 10) return false;
  for (; *pid != '\0'; ++pid)
    if (*pid < '0' || *pid > '9') return false;
  return true;
}

}  // namespace

std::string LedgerText(const std::vector<LedgerKey>& keys) {
  Json list = Json::array();
  for (const LedgerKey& key : keys) {
    Json item{{"since", key.since}, {"downAt", key.down_at}};
    if (key.power) {
      item["power"] = true;
    } else {
      item["vk"] = key.button.virtual_key;
      item["entry"] = device::ToUtf8(key.button.entry);
      item["command"] = device::ToUtf8(key.button.command);
      item["keyName"] = device::ToUtf8(key.button.key_name);
    }
    list.push_back(item);
  }
  return Dump(Json{{"keys", list}}) + "\n";
}

bool ParseLedger(const std::string& text, std::vector<LedgerKey>* keys) {
  Json ledger = Json::parse(text, nullptr, false);
  if (!ledger.is_object() || !ledger.contains("keys") || !ledger["keys"].is_array()) return false;
  keys->clear();
  for (const Json& item : ledger["keys"]) {
    if (!item.is_object()) return false;
    LedgerKey key;
    for (const char* name : {"since", "downAt"})
      if (!item.contains(name) || !item[name].is_number_integer()) return false;
    key.since = item["since"].get<int64_t>();
    key.down_at = item["downAt"].get<int64_t>();
    if (item.value("power", false)) {
      key.power = true;
      keys->push_back(key);
      continue;
    }
    const Json* vk = item.contains("vk") ? &item["vk"] : nullptr;
    if (vk == nullptr || !vk->is_number_integer() || vk->get<long long>() < 1 || vk->get<long long>() > 0xFE) return false;
    for (const char* name : {"entry", "command", "keyName"})
      if (!item.contains(name) || !item[name].is_string()) return false;
    key.button.virtual_key = vk->get<int>();
    key.button.entry = device::FromUtf8(item["entry"].get<std::string>());
    key.button.command = device::FromUtf8(item["command"].get<std::string>());
    key.button.key_name = device::FromUtf8(item["keyName"].get<std::string>());
    keys->push_back(key);
  }
  return true;
}

KeyLedger::~KeyLedger() {
  // Left as it is while keys are down: the next server lets go of them.
  if (!holding_) Close();
  if (lock_fd_ >= 0) close(lock_fd_);
}

bool KeyLedger::Open(const std::string& folder, std::string* error) {
  path_ = folder + "/" + kPrefix + std::to_string(getpid());
  std::string lock = path_ + ".lock";
  // The lock first: a ledger without a held lock is taken for left behind.
  int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = "cannot lock " + lock + ": " + Reason();
    if (fd >= 0) close(fd);
    return false;
  }
  lock_fd_ = fd;
  if (!Record({}, error)) {
    Close();
    return false;
  }
  return true;
}

bool KeyLedger::Record(const std::vector<LedgerKey>& keys, std::string* error) {
  if (lock_fd_ < 0) return true;
  if (!Replace(path_, LedgerText(keys), error)) return false;
  holding_ = !keys.empty();
  return true;
}

void KeyLedger::Close() {
  if (lock_fd_ < 0) return;
  unlink(path_.c_str());
  unlink((path_ + ".lock").c_str());
  close(lock_fd_);
  lock_fd_ = -1;
}

std::vector<LeftBehind> FindLeftBehind(const std::string& folder) {
  std::vector<LeftBehind> found;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return found;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir))
    if (IsLedgerName(entry->d_name)) names.push_back(entry->d_name);
  closedir(dir);
  for (const std::string& name : names) {
    LeftBehind ledger;
    ledger.path = folder + "/" + name;
    ledger.lock_fd = open((ledger.path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (ledger.lock_fd < 0) continue;
    if (flock(ledger.lock_fd, LOCK_EX | LOCK_NB) != 0) {  // its server runs
      close(ledger.lock_fd);
      continue;
    }
    std::string text;
    if (!ReadSmall(ledger.path, &text)) {
      if (errno == ENOENT) {  // forgotten meanwhile by another server
        close(ledger.lock_fd);
        continue;
      }
      ledger.problem = "cannot read " + ledger.path + ": " + Reason();
    } else if (!ParseLedger(text, &ledger.keys)) {
      ledger.problem = ledger.path + " is not a ledger of keys";
    }
    found.push_back(std::move(ledger));
  }
  return found;
}

void Forget(LeftBehind* ledger) {
  if (ledger->lock_fd < 0) return;
  unlink(ledger->path.c_str());
  unlink((ledger->path + ".new").c_str());
  unlink((ledger->path + ".lock").c_str());
  close(ledger->lock_fd);
  ledger->lock_fd = -1;
}

}  // namespace devicesim::serve
