// Where the emulated device lives, its creation and text conversion.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/common/shell_text.h"
#include "platform/host/device/host_internal.h"

namespace device {

// ---- Text ---------------------------------------------------------------

std::string ToUtf8(const std::u16string& text) { return plat::common::Utf16ToWtf8(text); }

std::u16string FromUtf8(const std::string& text) { return plat::common::Wtf8ToUtf16(text); }

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
    "CREATE TABLE IF NOT EXISTS keys_down(vk INTEGER PRIMARY KEY, holder_pid INTEGER,"
    "  holder_start INTEGER, down_at INTEGER, up_at INTEGER);"
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

}  // namespace device
