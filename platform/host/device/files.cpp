// The device's file system under fs/: attributes, listing, text streams and
// shortcut files.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/common/shell_text.h"
#include "platform/host/device/host_internal.h"

using namespace device::internal;

struct plat::TextFileObject {
  FILE* stream;
};

namespace {

bool DeviceExists() {
  struct stat st;
  return stat((device::Folder() + "/fs").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& host_path) {
  size_t slash = host_path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : host_path.substr(0, slash);
}

// Win32 tells a missing file (2) from a missing folder on the way (3).
uint32_t MissingCode(const std::string& host_path) {
  struct stat st;
  std::string parent = ParentOf(host_path);
  if (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return plat::kErrorFileNotFound;
  return plat::kErrorPathNotFound;
}

// Device-path wildcard match: '*' any run, '?' one character, ignoring case.
bool WildcardMatch(const std::u16string& pattern, const std::u16string& name) {
  size_t p = 0, n = 0, star = std::u16string::npos, mark = 0;
  auto same = [](char16_t a, char16_t b) {
    return plat::CompareNoCase(std::u16string(1, a), std::u16string(1, b)) == 0;
  };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || (pattern[p] != u'*' && same(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != std::u16string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace

namespace plat {

uint32_t GetFileAttributes(const std::u16string& path) {
  // An empty path names nothing (not the root), so an empty assignment is
  // never taken for an existing file.
  if (!DeviceExists() || path.empty()) {
    Fail(kErrorPathNotFound);
    return kInvalidFileAttributes;
  }
  std::string host = device::HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    Fail(errno == ENOENT ? MissingCode(host) : FromErrno(errno));
    return kInvalidFileAttributes;
  }
  return S_ISDIR(st.st_mode) ? kFileAttributeDirectory : 0x80;
}

bool DeleteFile(const std::u16string& path) {
  common::FaultGate gate(faults::Op::FileDelete);
  if (gate.failed()) return false;
  if (!DeviceExists() || path.empty()) return Fail(kErrorPathNotFound);
  std::string host = device::HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Fail(errno == ENOENT ? MissingCode(host) : FromErrno(errno));
  if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  if (unlink(host.c_str()) != 0) return Fail(FromErrno(errno));
  return true;
}

bool MoveFileReplacing(const std::u16string& from, const std::u16string& to) {
  common::FaultGate gate(faults::Op::FileMove);
  if (gate.failed()) return false;
  if (!DeviceExists() || from.empty() || to.empty()) return Fail(kErrorPathNotFound);
  const std::string host_from = device::HostPath(from);
  struct stat st;
  if (stat(host_from.c_str(), &st) != 0) return Fail(errno == ENOENT ? MissingCode(host_from) : FromErrno(errno));
  if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  // rename() replaces the target in one step.
  if (rename(host_from.c_str(), device::HostPath(to).c_str()) != 0) return Fail(FromErrno(errno));
  return true;
}

bool ListFiles(const std::u16string& pattern, std::vector<FoundFile>* out) {
  common::FaultGate gate(faults::Op::FileList);
  if (gate.failed()) return false;
  if (out == nullptr) return Fail(kErrorInvalidParameter);
  if (!DeviceExists()) return Fail(kErrorPathNotFound);
  size_t cut = pattern.find_last_of(u"\\/");
  std::u16string folder = cut == std::u16string::npos ? std::u16string() : pattern.substr(0, cut);
  std::u16string wildcard = cut == std::u16string::npos ? pattern : pattern.substr(cut + 1);
  if (wildcard.empty()) return Fail(kErrorInvalidParameter);
  if (wildcard == u"*.*") wildcard = u"*";  // as on Windows: names without a dot match too
  std::string host = device::HostPath(folder);
  DIR* dir = opendir(host.c_str());
  if (dir == nullptr) return Fail(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : FromErrno(errno));
  std::vector<FoundFile> found;
  // As on the device, the root folder has no "." and ".." entries.
  if (host != device::Folder() + "/fs")
    for (const char16_t* dots : {u".", u".."})
      if (WildcardMatch(wildcard, dots)) found.push_back({dots, true});
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::u16string wide = device::FromUtf8(name);
    if (!WildcardMatch(wildcard, wide)) continue;
    struct stat st;
    bool is_folder = stat((host + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    found.push_back({wide, is_folder});
  }
  closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const FoundFile& a, const FoundFile& b) {
              bool a_dots = a.name == u"." || a.name == u"..";
              bool b_dots = b.name == u"." || b.name == u"..";
              if (a_dots != b_dots) return a_dots;
              int c = CompareNoCase(a.name, b.name);
              return c != 0 ? c < 0 : a.name < b.name;
            });
  out->insert(out->end(), found.begin(), found.end());
  return true;
}

TextFile OpenTextFile(const std::u16string& path, const char* mode) {
  common::FaultGate gate(faults::Op::FileOpen);
  if (gate.failed()) return nullptr;
  if (mode == nullptr) {
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  const char* host_mode = nullptr;
  if (std::strcmp(mode, "at") == 0 || std::strcmp(mode, "a") == 0) host_mode = "a";
  if (std::strcmp(mode, "wt") == 0 || std::strcmp(mode, "w") == 0) host_mode = "w";
  if (std::strcmp(mode, "rt") == 0 || std::strcmp(mode, "r") == 0) host_mode = "r";
  if (host_mode == nullptr) {
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  if (!DeviceExists() || path.empty()) {
    Fail(kErrorPathNotFound);
    return nullptr;
  }
  std::string host = device::HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    Fail(kErrorAccessDenied);
    return nullptr;
  }
  FILE* stream = std::fopen(host.c_str(), host_mode);
  if (stream == nullptr) {
    Fail(errno == ENOENT ? MissingCode(host) : FromErrno(errno));
    return nullptr;
  }
  return new TextFileObject{stream};
}

bool WriteTextFile(TextFile file, const std::u16string& text) {
  common::FaultGate gate(faults::Op::FileWrite);
  if (gate.failed()) return false;
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  // Files are for other programs to read too: strict UTF-8.
  std::string bytes = plat::common::Utf16ToUtf8(text);
  if (std::fwrite(bytes.data(), 1, bytes.size(), file->stream) != bytes.size())
    return Fail(FromErrno(errno));
  return true;
}

bool FlushTextFile(TextFile file) {
  common::FaultGate gate(faults::Op::FileWrite);
  if (gate.failed()) return false;
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (std::fflush(file->stream) != 0) return Fail(FromErrno(errno));
  return true;
}

bool ReadTextFile(TextFile file, std::string* bytes) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (bytes == nullptr) return Fail(kErrorInvalidParameter);
  bytes->clear();
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file->stream)) > 0) bytes->append(buffer, got);
  if (std::ferror(file->stream)) return Fail(FromErrno(errno));
  return true;
}

void CloseTextFile(TextFile file) {
  if (file == nullptr) return;
  std::fclose(file->stream);
  delete file;
}

bool CreateShortcut(const std::u16string& path, const std::u16string& target) {
  TextFile file = OpenTextFile(path, "wt");
  if (file == nullptr) return false;
  std::u16string text = device::FromUtf8(std::to_string(target.size())) + u"#" + target;
  bool ok = WriteTextFile(file, text) && FlushTextFile(file);
  uint32_t code = GetLastError();
  CloseTextFile(file);
  if (!ok) {
    unlink(device::HostPath(path).c_str());  // a half-written shortcut would fail later as corrupt
    return Fail(code);
  }
  return true;
}

bool GetProgramsFolder(std::u16string* path) {
  if (path == nullptr) return Fail(kErrorInvalidParameter);
  *path = u"\\Windows\\Start Menu\\Programs";
  return true;
}

bool GetProgramsFolders(std::vector<std::u16string>* paths) {
  if (paths == nullptr) return Fail(kErrorInvalidParameter);
  std::u16string own;
  GetProgramsFolder(&own);
  *paths = {own};  // the device has one Start Menu
  return true;
}

bool GetProductFolder(ProductFolder, std::u16string* folder) {
  common::FaultGate gate(faults::Op::ProductFolder);
  if (gate.failed()) return false;
  if (folder == nullptr) return Fail(kErrorInvalidParameter);
  // The device's programs are where its setup put them, and say so in
  // "AppFolder"; their logs go beside them.
  return Fail(kErrorNotSupported);
}

}  // namespace plat
