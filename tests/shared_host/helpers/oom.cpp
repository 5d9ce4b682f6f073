// Allocates without bound under a small address-space limit.
#include <sys/resource.h>

#include <string>

#include "shared/settings.h"

int DeviceMain(const std::u16string&) {
  GetState(0);  // links the shared foundation as the device programs do
  const rlim_t limit = 512ull << 20;
  struct rlimit rl = {limit, limit};
  if (setrlimit(RLIMIT_AS, &rl) != 0) return 2;
  for (;;) {
    volatile char* block = new char[16u << 20];
    block[0] = 1;
  }
}
