// Where the emulated device lives, its creation, text conversion, the last
// error and the fault seam.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/common/shell_text.h"
#include "platform/host/host_internal.h"

namespace plat {
namespace {
thread_local uint32_t last_error = 0;
}
uint32_t GetLastError() { return last_error; }
void SetLastError(uint32_t code) { last_error = code; }
}  // namespace plat

namespace device {
namespace internal {

uint32_t FromErrno(int error_number) {
  switch (error_number) {
    case 0: return plat::kErrorSuccess;
    case ENOENT: return plat::kErrorFileNotFound;
    case ENOTDIR: return plat::kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return plat::kErrorAccessDenied;
    case ENOMEM: return plat::kErrorNotEnoughMemory;
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOSPC: return 112;        // ERROR_DISK_FULL
    case EEXIST: return 80;         // ERROR_FILE_EXISTS
    case ENOEXEC: return 193;       // ERROR_BAD_EXE_FORMAT
    case EINVAL: return plat::kErrorInvalidParameter;
    default: return plat::kErrorGenFailure;
  }
}

bool Fail(uint32_t code) {
  plat::SetLastError(code);
  return false;
}

}  // namespace internal

// ---- Text ---------------------------------------------------------------

std::string ToUtf8(const std::u16string& text) { return plat::common::Utf16ToUtf8(text); }

std::u16string FromUtf8(const std::string& text) { return plat::common::Utf8ToUtf16(text); }

// ---- Folder ---------------------------------------------------------------

namespace {
std::string& FolderOverride() {
  static std::string folder;
  return folder;
}
bool& FolderOverridden() {
  static bool set = false;
  return set;
}
}  // namespace

std::string DefaultFolder() {
  const char* env = std::getenv("QUADRAKEY_DEVICE");
  if (env != nullptr && *env != '\0') return env;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/quadrakey/device";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/share/quadrakey/device";
}

std::string Folder() {
  static const std::string initial = DefaultFolder();
  return FolderOverridden() ? FolderOverride() : initial;
}

void SetFolder(const std::string& folder) {
  FolderOverride() = folder;
  FolderOverridden() = true;
  // The programs this process starts find the same device.
  setenv("QUADRAKEY_DEVICE", folder.c_str(), 1);
  internal::CloseDb();
}

bool Exists() {
  struct stat st;
  return stat((Folder() + "/registry.db").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {
const char* const kSchema =
    "PRAGMA journal_mode=WAL;"
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER, name TEXT NOT NULL,"
    "  folded TEXT NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, folded);"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES (1, NULL, '', ''), (2, NULL, '', '');"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL, name TEXT NOT NULL, folded TEXT NOT NULL, type INTEGER NOT NULL,"
    "  data BLOB NOT NULL, PRIMARY KEY(key, folded));"
    "CREATE TABLE IF NOT EXISTS state(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS keys_down(vk INTEGER PRIMARY KEY);"
    "CREATE TABLE IF NOT EXISTS journal("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT, t INTEGER NOT NULL, pid INTEGER NOT NULL,"
    "  event TEXT NOT NULL, fields TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS windows("
    "  window INTEGER PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL,"
    "  class TEXT NOT NULL, title TEXT NOT NULL, channel TEXT NOT NULL);";

bool MakeFolder(const std::string& path, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    if (error) *error = "cannot make " + path + ": " + ec.message();
    return false;
  }
  return true;
}
}  // namespace

bool Create(std::string* error) {
  std::string folder = Folder();
  if (folder.empty()) {
    if (error) *error = "no device folder given";
    return false;
  }
  if (!MakeFolder(folder + "/fs", error) || !MakeFolder(folder + "/locks", error)) return false;
  sqlite3* db = nullptr;
  std::string path = folder + "/registry.db";
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, 30000);
    char* message = nullptr;
    rc = sqlite3_exec(db, kSchema, nullptr, nullptr, &message);
    if (rc != SQLITE_OK && error) *error = path + ": " + (message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
  } else if (error) {
    *error = path + ": " + sqlite3_errstr(rc);
  }
  sqlite3_close(db);
  return rc == SQLITE_OK;
}

// ---- Device paths -----------------------------------------------------------

namespace {
std::vector<std::u16string> SplitDevicePath(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\' || c == u'/') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

// The entry of `folder` whose name matches `name` ignoring case, preferring
// an exact match; empty when there is none.
std::string MatchEntry(const std::string& folder, const std::string& name) {
  struct stat st;
  std::string exact = folder + "/" + name;
  if (lstat(exact.c_str(), &st) == 0) return name;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return {};
  std::u16string wanted = FromUtf8(name);
  std::string found;
  while (dirent* entry = readdir(dir)) {
    std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (plat::CompareNoCase(FromUtf8(candidate), wanted) == 0) {
      found = candidate;
      break;
    }
  }
  closedir(dir);
  return found;
}
}  // namespace

std::string HostPath(const std::u16string& device_path) {
  std::string result = Folder() + "/fs";
  std::vector<std::string> kept;  // components below fs/, so ".." cannot leave it
  bool matching = true;
  for (const std::u16string& part : SplitDevicePath(device_path)) {
    if (part == u".") continue;
    if (part == u"..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    std::string name = ToUtf8(part);
    if (matching) {
      std::string base = result;
      for (const std::string& k : kept) base += "/" + k;
      std::string match = MatchEntry(base, name);
      if (match.empty()) {
        matching = false;
      } else {
        name = match;
      }
    }
    kept.push_back(name);
  }
  for (const std::string& k : kept) result += "/" + k;
  return result;
}

// ---- Fault seam ---------------------------------------------------------------

namespace {
struct PendingFault {
  Fault fault;
  uint32_t error;
};

std::vector<PendingFault>& Faults() {
  static std::vector<PendingFault> faults;
  return faults;
}

bool FaultByName(const std::string& name, Fault* fault) {
  static const std::pair<const char*, Fault> kNames[] = {
      {"registry-write", Fault::RegistryWrite}, {"registry-read", Fault::RegistryRead},
      {"file-open", Fault::FileOpen},           {"process-start", Fault::ProcessStart},
      {"shell-open", Fault::ShellOpen}};
  for (const auto& [text, value] : kNames) {
    if (name == text) {
      *fault = value;
      return true;
    }
  }
  return false;
}

std::string ProgramStem(std::string name) {
  size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  std::u16string wide = FromUtf8(name);
  if (wide.size() > 4 && plat::CompareNoCase(wide.substr(wide.size() - 4), u".exe") == 0)
    wide.resize(wide.size() - 4);
  return ToUtf8(wide);
}

// QUADRAKEY_FAULTS: "kind:error" entries separated by commas; an entry
// "Program/kind:error" applies only in the program of that name, so a test
// can reach a program that another one starts.
void ParseEnvironmentFaults() {
  const char* env = std::getenv("QUADRAKEY_FAULTS");
  if (env == nullptr) return;
  std::string self = ProgramStem(program_invocation_short_name);
  std::string all = env;
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    std::string entry = all.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? all.size() + 1 : comma + 1;
    size_t slash = entry.find('/');
    if (slash != std::string::npos) {
      if (plat::CompareNoCase(FromUtf8(ProgramStem(entry.substr(0, slash))), FromUtf8(self)) != 0)
        continue;
      entry = entry.substr(slash + 1);
    }
    size_t colon = entry.find(':');
    Fault fault;
    if (colon == std::string::npos || !FaultByName(entry.substr(0, colon), &fault)) continue;
    char* end = nullptr;
    unsigned long code = std::strtoul(entry.c_str() + colon + 1, &end, 10);
    if (end == entry.c_str() + colon + 1 || *end != '\0') continue;
    Faults().push_back({fault, static_cast<uint32_t>(code)});
  }
}

void EnsureEnvironmentFaults() {
  static bool parsed = false;
  if (!parsed) {
    parsed = true;
    ParseEnvironmentFaults();
  }
}
}  // namespace

void FailNext(Fault fault, uint32_t error) {
  EnsureEnvironmentFaults();
  Faults().push_back({fault, error});
}

void ClearFaults() {
  EnsureEnvironmentFaults();
  Faults().clear();
}

namespace internal {
bool TakeFault(Fault fault) {
  EnsureEnvironmentFaults();
  auto& faults = Faults();
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->fault == fault) {
      plat::SetLastError(it->error);
      faults.erase(it);
      return true;
    }
  }
  return false;
}
}  // namespace internal

}  // namespace device
