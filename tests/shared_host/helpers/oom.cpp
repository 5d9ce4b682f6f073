// Allocates without bound under a small address-space limit. With the
// command line "transaction" it does so inside an open registry transaction,
// as an allocation failing in the middle of a registry call would.
#include <sys/resource.h>

#include <string>

#include "platform/host/device/device.h"
#include "shared/settings.h"

namespace {

bool Exhaust(void*) {
  GetState(0);
  for (;;) {
    volatile char* block = new char[16u << 20];
    block[0] = 1;
  }
}

}  // namespace

int DeviceMain(const std::u16string& command_line) {
  GetState(0);  // links the shared foundation as the device programs do
  const rlim_t limit = 512ull << 20;
  struct rlimit rl = {limit, limit};
  if (setrlimit(RLIMIT_AS, &rl) != 0) return 2;
  if (command_line == u"transaction") return device::Transaction(Exhaust, nullptr) ? 3 : 4;
  return Exhaust(nullptr) ? 3 : 4;
}
