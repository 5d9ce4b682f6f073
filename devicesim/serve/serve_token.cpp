#include "devicesim/serve/serve_token.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace devicesim::serve {
namespace {

constexpr size_t kTokenChars = 64;

std::string Reason() { return std::strerror(errno); }

// Writes `text` to `path` whole or not at all: a new file beside it,
// owner-only from the start, renamed over the old one.
bool WritePrivate(const std::string& path, const std::string& text, std::string* error) {
  std::string temporary = path + ".new";
  unlink(temporary.c_str());  // left by a run that was killed while writing
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot write " + temporary + ": " + Reason();
    return false;
  }
  bool ok = fchmod(fd, 0600) == 0;
  size_t written = 0;
  while (ok && written < text.size()) {
    ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) written += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) *error = "cannot write " + temporary + ": " + Reason();
  if (close(fd) != 0 && ok) {
    ok = false;
    *error = "cannot write " + temporary + ": " + Reason();
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    *error = "cannot replace " + path + ": " + Reason();
  }
  if (!ok) unlink(temporary.c_str());
  return ok;
}

enum class Read { kToken, kMissing, kUnreadable, kUnsafe, kNotAToken };

Read ReadKept(const std::string& path, std::string* token) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? Read::kMissing : errno == ELOOP ? Read::kUnsafe : Read::kUnreadable;
  struct stat info {};
  Read result = Read::kNotAToken;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
    result = Read::kUnsafe;
  } else {
    char text[kTokenChars + 2];
    ssize_t n = read(fd, text, sizeof text);
    std::string got = n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
    if (!got.empty() && got.back() == '\n') got.pop_back();
    if (IsToken(got)) {
      *token = got;
      result = Read::kToken;
    }
  }
  close(fd);
  return result;
}

}  // namespace

std::string NewToken() {
  unsigned char bytes[kTokenChars / 2];
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = read(fd, bytes + got, sizeof bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  if (got != sizeof bytes) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

bool IsToken(const std::string& text) {
  if (text.size() != kTokenChars) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool KeepToken(const std::string& folder, bool renew, KeptToken* kept, std::string* error) {
  std::string path = folder + "/" + kTokenFileName;
  kept->note.clear();
  if (!renew) {
    switch (ReadKept(path, &kept->token)) {
      case Read::kToken: return true;
      case Read::kMissing: break;
      case Read::kUnreadable: kept->note = "cannot read " + path + " (" + Reason() + "): a new token replaces it"; break;
      case Read::kUnsafe:
        kept->note = path + " was not a private file of this user (others could read it): a new token replaces it";
        break;
      case Read::kNotAToken: kept->note = path + " held no token: a new one replaces it"; break;
    }
  }
  kept->token = NewToken();
  if (kept->token.empty()) {
    *error = "cannot read /dev/urandom for a token";
    return false;
  }
  // Whatever is in the way (a link, a file of another user) goes first.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    kept->note = "cannot replace " + path + " (" + Reason() + "): the new token lasts for this run only";
    return true;
  }
  std::string problem;
  if (!WritePrivate(path, kept->token + "\n", &problem))
    kept->note = problem + ": the token lasts for this run only, and open pages need the new address after a restart";
  return true;
}

bool WriteOpener(const std::string& folder, const std::string& url, std::string* path, std::string* error) {
  *path = folder + "/serve-open.html";
  // The address holds only digits, letters, ':', '/', '.', '#' and '=': nothing to escape.
  std::string page = "<!doctype html>\n<meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" content=\"0;url=" + url +
                     "\">\n<title>Quadrakey</title>\n<p><a href=\"" + url + "\">Open the device</a></p>\n";
  return WritePrivate(*path, page, error);
}

}  // namespace devicesim::serve
