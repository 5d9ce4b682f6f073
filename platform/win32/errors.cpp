// The win32 backend's one place for errors: the system's last-error code is
// the platform's, and the C runtime's stream errors are translated to it.
#include <cerrno>
#include <cstdlib>

#include "platform/win32/win32_api.h"

namespace plat {

// The platform's numbers are Win32's: nothing to translate.
uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

void ExitProcess(int code) {
  // The C runtime's exit releases process-wide objects in reverse order.
  std::exit(code);
}

}  // namespace plat

namespace win32 {

DWORD FromCrtError(DWORD fallback) {
  // The runtime keeps the system's own code of a failed read or write.
  if (_doserrno != 0) return static_cast<DWORD>(_doserrno);
  switch (errno) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return fallback;
  }
}

}  // namespace win32
