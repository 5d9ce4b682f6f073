// Files on the real file system: attributes, listing, text streams, shortcut
// files, the Start Menu's programs folder and the product's own folders.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/common/fault_gate.h"
#include "platform/common/shell_text.h"
#include "platform/win32/win32_api.h"

using win32::Fail;
using win32::W;

struct plat::TextFileObject {
  FILE* stream;
};


namespace plat {

uint32_t GetFileAttributes(const std::u16string& path) { return ::GetFileAttributesW(W(path)); }

bool DeleteFile(const std::u16string& path) {
  common::FaultGate gate(faults::Op::FileDelete);
  if (gate.failed()) return false;
  return ::DeleteFileW(W(path)) != 0;
}

bool MoveFileReplacing(const std::u16string& from, const std::u16string& to) {
  common::FaultGate gate(faults::Op::FileMove);
  if (gate.failed()) return false;
  return ::MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool ListFiles(const std::u16string& pattern, std::vector<FoundFile>* out) {
  common::FaultGate gate(faults::Op::FileList);
  if (gate.failed()) return false;
  if (out == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(W(pattern), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // An existing folder with nothing that matches is an empty listing.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    return false;
  }
  do {
    out->push_back({win32::U(found.cFileName),
                    (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileW(search, &found));
  DWORD code = ::GetLastError();
  ::FindClose(search);
  if (code != ERROR_NO_MORE_FILES) return Fail(code);
  return true;
}

TextFile OpenTextFile(const std::u16string& path, const char* mode) {
  common::FaultGate gate(faults::Op::FileOpen);
  if (gate.failed()) return nullptr;
  // Binary streams: text is written as UTF-8 with '\n' kept as it is, the
  // same bytes as on the host build.
  const wchar_t* stream_mode = nullptr;
  if (mode != nullptr) {
    if (std::strcmp(mode, "at") == 0 || std::strcmp(mode, "a") == 0) stream_mode = L"ab";
    if (std::strcmp(mode, "wt") == 0 || std::strcmp(mode, "w") == 0) stream_mode = L"wb";
    if (std::strcmp(mode, "rt") == 0 || std::strcmp(mode, "r") == 0) stream_mode = L"rb";
  }
  if (stream_mode == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  ::SetLastError(ERROR_SUCCESS);
  FILE* stream = ::_wfopen(W(path), stream_mode);
  if (stream == nullptr) {
    // The runtime leaves the system's code from CreateFile; keep a generic
    // one when it did not.
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  return new TextFileObject{stream};
}

bool WriteTextFile(TextFile file, const std::u16string& text) {
  common::FaultGate gate(faults::Op::FileWrite);
  if (gate.failed()) return false;
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  std::string bytes = plat::common::Utf16ToUtf8(text);
  errno = 0;
  _doserrno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file->stream) != bytes.size())
    return Fail(win32::FromCrtError(ERROR_WRITE_FAULT));
  return true;
}

bool FlushTextFile(TextFile file) {
  common::FaultGate gate(faults::Op::FileWrite);
  if (gate.failed()) return false;
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  errno = 0;
  _doserrno = 0;
  if (std::fflush(file->stream) != 0) return Fail(win32::FromCrtError(ERROR_WRITE_FAULT));
  return true;
}

bool ReadTextFile(TextFile file, std::string* bytes) {
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (bytes == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  bytes->clear();
  char buffer[4096];
  size_t got;
  errno = 0;
  _doserrno = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file->stream)) > 0) bytes->append(buffer, got);
  if (std::ferror(file->stream)) return Fail(win32::FromCrtError(ERROR_READ_FAULT));
  return true;
}

void CloseTextFile(TextFile file) {
  if (file == nullptr) return;
  std::fclose(file->stream);
  delete file;
}

// A Windows CE SDK build calls SHCreateShortcut, which writes this very form:
// the target's length in characters, '#', the target command. The desktop
// writes it too (not a desktop shell link), and ShellOpen runs it as the
// device's shell would.
bool CreateShortcut(const std::u16string& path, const std::u16string& target) {
  TextFile file = OpenTextFile(path, "wt");
  if (file == nullptr) return false;
  std::string digits = std::to_string(target.size());
  std::u16string text(digits.begin(), digits.end());
  text += u'#';
  text += target;
  bool ok = WriteTextFile(file, text) && FlushTextFile(file);
  DWORD code = ::GetLastError();
  CloseTextFile(file);
  if (!ok) {
    ::DeleteFileW(W(path));  // a half-written shortcut would fail later as corrupt
    return Fail(code);
  }
  return true;
}

bool GetProgramsFolder(std::u16string* path) {
  if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  wchar_t folder[MAX_PATH + 1] = {};
  // The folder's path whether or not it exists yet, as on the device; a
  // missing folder shows when it is listed.
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAMS | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT,
                                folder)))
    return Fail(ERROR_PATH_NOT_FOUND);
  *path = win32::U(folder);
  return true;
}

bool GetProgramsFolders(std::vector<std::u16string>* paths) {
  if (paths == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  paths->clear();
  std::u16string own;
  if (GetProgramsFolder(&own)) paths->push_back(own);
  // Installers put most shortcuts in the Start Menu of all users.
  wchar_t common[MAX_PATH + 1] = {};
  if (win32::kOnPc && SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS | CSIDL_FLAG_DONT_VERIFY, nullptr,
                                            SHGFP_TYPE_CURRENT, common)))
    paths->push_back(win32::U(common));
  return paths->empty() ? Fail(ERROR_PATH_NOT_FOUND) : true;
}

bool GetProductFolder(ProductFolder which, std::u16string* folder) {
  common::FaultGate gate(faults::Op::ProductFolder);
  if (gate.failed()) return false;
  if (folder == nullptr) return Fail(ERROR_INVALID_PARAMETER);
#ifdef _WIN32_WCE
  (void)which;
  return Fail(ERROR_NOT_SUPPORTED);
#else
  if (which == ProductFolder::Programs) {
    // Wherever the person installed the programs, with no value to keep.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return false;
      if (length < path.size()) {
        path.resize(length);
        break;
      }
      if (path.size() >= 32768) return Fail(ERROR_FILENAME_EXCED_RANGE);
      path.resize(path.size() * 2);
    }
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return Fail(ERROR_PATH_NOT_FOUND);
    path.resize(separator);
    *folder = win32::U(path.c_str());
    return true;
  }
  // The user's own, local to this PC: a standard user writes it, and logs
  // have no business roaming.
  wchar_t local[MAX_PATH + 1] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                local)))
    return Fail(ERROR_PATH_NOT_FOUND);
  std::u16string path = win32::U(local);
  if (!path.empty() && path.back() != u'\\') path += u'\\';
  path += u"Quadrakey";
  if (!::CreateDirectoryW(W(path), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  // A file of that name is no folder to write logs in.
  const DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return Fail(ERROR_PATH_NOT_FOUND);
  *folder = path;
  return true;
#endif
}

}  // namespace plat
