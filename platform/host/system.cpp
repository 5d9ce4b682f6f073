// Time, message boxes, sound, version and ending the process on the host.
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/host/host_internal.h"

namespace plat {

void Sleep(uint32_t ms) {
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec remaining{};
  while (nanosleep(&request, &remaining) != 0) request = remaining;
}

uint64_t TickCount() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Never blocks: the host device has no one to press OK.
int MessageBox(const std::u16string& text, const std::u16string* caption, uint32_t flags) {
  std::u16string shown_caption = caption != nullptr ? *caption : u"Error";
  device::Journal("message", "\"text\":" + device::JsonString(text) + ",\"caption\":" +
                                 device::JsonString(shown_caption) + ",\"flags\":" + std::to_string(flags));
  std::string line = device::ToUtf8(shown_caption) + ": " + device::ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kIdOk;
}

void MessageBeep(uint32_t type) { device::Journal("beep", "\"type\":" + std::to_string(type)); }

Version GetVersion() { return {4, 20, 1081, 3, u""}; }

void ExitProcess(int code) { std::exit(code); }

}  // namespace plat
