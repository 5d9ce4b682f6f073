#include "bench/accuracy/press_path.h"

#include <signal.h>
#include <time.h>

#include <cerrno>

namespace accuracy {
namespace {

volatile sig_atomic_t stop_asked = 0;

}  // namespace

bool SlotOfKey(int key, Slot* slot) {
  for (const SlotAction& action : kSlotActions) {
    if (action.key == key) {
      *slot = action.slot;
      return true;
    }
  }
  return false;
}

int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool SleepUntilNs(int64_t deadline_ns) {
  const timespec deadline{static_cast<time_t>(deadline_ns / 1000000000), static_cast<long>(deadline_ns % 1000000000)};
  while (!stop_asked) {
    const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    if (result != EINTR) break;
  }
  return !stop_asked;
}

void AskToStop() { stop_asked = 1; }
bool StopAsked() { return stop_asked != 0; }

}  // namespace accuracy
