#include "devicesim/serve/serve_access.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>

namespace devicesim::serve {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

bool HostAllowed(const std::string& host, int port) {
  std::string wanted = ":" + std::to_string(port);
  std::string given = Lower(host);
  return given == "127.0.0.1" + wanted || given == "localhost" + wanted;
}

bool OriginAllowed(const std::string& origin, int port) {
  std::string given = Lower(origin);
  return given == "http://127.0.0.1:" + std::to_string(port) || given == "http://localhost:" + std::to_string(port);
}

bool FromElsewhere(const Request& req, int port) {
  // Two of either cannot come from a browser; whatever sent them is not the page.
  if (req.HeaderCount("Origin") > 1 || req.HeaderCount("Sec-Fetch-Site") > 1) return true;
  if (req.HasHeader("Origin") && !OriginAllowed(req.Header("Origin"), port)) return true;
  if (req.HasHeader("Sec-Fetch-Site")) {
    // same-site is another port of this machine: another origin all the same.
    std::string site = Lower(req.Header("Sec-Fetch-Site"));
    if (site != "same-origin" && site != "none") return true;
  }
  return false;
}

bool TopLevelVisit(const Request& req) {
  if ((req.method != "GET" && req.method != "HEAD") || req.path != "/") return false;
  if (Lower(req.Header("Sec-Fetch-Mode")) != "navigate") return false;
  std::string destination = Lower(req.Header("Sec-Fetch-Dest"));
  return destination.empty() || destination == "document";
}

bool EqualInTime(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

bool CarriesToken(const Request& req, const std::string& token) {
  return !token.empty() && req.HeaderCount(kTokenHeader) == 1 &&
         EqualInTime(req.Header(kTokenHeader), token);
}

BodyCheck CheckBody(const Request& req, size_t max_bytes) {
  if (req.HasHeader("Transfer-Encoding")) return BodyCheck::kChunked;
  size_t count = req.HeaderCount("Content-Length");
  if (count == 0) return BodyCheck::kOk;
  if (count > 1) return BodyCheck::kBadLength;
  std::string length = Trim(req.Header("Content-Length"));
  if (length.empty()) return BodyCheck::kBadLength;
  for (char c : length)
    if (c < '0' || c > '9') return BodyCheck::kBadLength;
  if (length.size() > 18) return BodyCheck::kTooLong;  // and beyond what a size_t surely holds
  return std::stoull(length) > max_bytes ? BodyCheck::kTooLong : BodyCheck::kOk;
}

WebFile ReadWebFile(const std::string& folder, const std::string& name, size_t max_bytes, std::string* content) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return WebFile::kMissing;
  // No link is followed, and a FIFO does not block the open.
  int fd = open((folder + "/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? WebFile::kMissing : WebFile::kNotAFile;
  struct stat info {};
  WebFile result = WebFile::kRead;
  // A second link may be a file outside the folder, linked in by hand.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    result = WebFile::kNotAFile;
  } else if (static_cast<size_t>(info.st_size) > max_bytes) {
    result = WebFile::kTooLarge;
  } else {
    content->clear();
    char chunk[16384];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        result = WebFile::kNotAFile;
        break;
      }
      if (n == 0) break;
      content->append(chunk, static_cast<size_t>(n));
      if (content->size() > max_bytes) {  // it grew while being read
        result = WebFile::kTooLarge;
        break;
      }
    }
  }
  close(fd);
  return result;
}

}  // namespace devicesim::serve
