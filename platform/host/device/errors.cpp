// The host backend's one place for errors: the last-error code, and the
// translation of errno values and SQLite result codes to Win32 numbers.
#include <errno.h>

#include "platform/host/device/host_internal.h"

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
    case ENAMETOOLONG: return plat::kErrorFilenameExcedRange;
    case ENOSPC:
    case EDQUOT: return plat::kErrorDiskFull;
    case EEXIST: return plat::kErrorFileExists;
    case ENOEXEC: return plat::kErrorBadExeFormat;
    case EBUSY: return plat::kErrorBusy;
    case EINVAL: return plat::kErrorInvalidParameter;
    default: return plat::kErrorGenFailure;
  }
}

uint32_t FromSqlite(int rc, sqlite3* db) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return plat::kErrorSuccess;
    case SQLITE_NOMEM: return plat::kErrorNotEnoughMemory;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH: return plat::kErrorAccessDenied;
    case SQLITE_FULL: return plat::kErrorDiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return plat::kErrorBusy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      plat::common::NoteRegistryDamage(plat::kErrorRegistryCorrupt);
      return plat::kErrorRegistryCorrupt;
    case SQLITE_TOOBIG: return plat::kErrorInvalidParameter;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN: {
      // The file system's own reason tells more than SQLite's class: a full
      // disk often shows as an I/O error (the shared-memory file cannot
      // grow), a read-only device as a file that cannot be opened.
      const int system = db != nullptr ? sqlite3_system_errno(db) : 0;
      if (system == ENOSPC || system == EDQUOT || system == EROFS || system == EACCES ||
          system == EPERM)
        return FromErrno(system);
      return (rc & 0xFF) == SQLITE_CANTOPEN ? plat::kErrorPathNotFound : plat::kErrorRegistryIoFailed;
    }
    default: return plat::kErrorGenFailure;
  }
}

bool Fail(uint32_t code) {
  plat::SetLastError(code);
  return false;
}

}  // namespace internal

std::string ErrorText(uint32_t code) {
  const char* meaning = nullptr;
  switch (code) {
    case plat::kErrorFileNotFound: meaning = "not found"; break;
    case plat::kErrorPathNotFound: meaning = "path not found"; break;
    case plat::kErrorAccessDenied: meaning = "access denied"; break;
    case plat::kErrorNotEnoughMemory: meaning = "not enough memory"; break;
    case plat::kErrorDiskFull: meaning = "the disk is full"; break;
    case plat::kErrorBusy: meaning = "busy"; break;
    case plat::kErrorRegistryCorrupt: meaning = "the registry is corrupt"; break;
    case plat::kErrorRegistryIoFailed: meaning = "the registry cannot be read or written"; break;
    case plat::kErrorInvalidWindowHandle: meaning = "no such window"; break;
    case plat::kErrorHotKeyAlreadyRegistered: meaning = "another registration holds the key"; break;
    case plat::kErrorNotEnoughQuota: meaning = "the program's message queue is full"; break;
    default: break;
  }
  std::string text = "error " + std::to_string(code);
  if (meaning != nullptr) text += std::string(": ") + meaning;
  return text;
}

}  // namespace device
