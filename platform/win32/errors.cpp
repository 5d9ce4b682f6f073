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
