// Time, message boxes, sound, version and ending the process on the host.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/host/device/host_internal.h"

namespace {
device::internal::MessageBoxHandler message_box_handler = nullptr;
device::internal::ExitHandler exit_handler = nullptr;
}  // namespace

namespace device::internal {

int64_t OwnPid() {
  static std::atomic<int64_t> pid{0};  // devicesim serve asks from several threads
  static const bool forget_in_child = pthread_atfork(nullptr, nullptr, [] { pid = 0; }) == 0;
  int64_t known = pid;
  if (known == 0 || !forget_in_child) pid = known = getpid();
  return known;
}

void SetMessageBoxHandler(MessageBoxHandler handler) { message_box_handler = handler; }
void SetExitHandler(ExitHandler handler) { exit_handler = handler; }

void ReportMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags) {
  Journal("message", "\"text\":" + JsonString(text) + ",\"caption\":" + JsonString(caption) +
                         ",\"flags\":" + std::to_string(flags));
  std::string line = ToUtf8(caption) + ": " + ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int ShowMessageBox(plat::Window owner, const std::u16string& text, const std::u16string* caption,
                   uint32_t flags) {
  const std::u16string shown_caption = caption != nullptr ? *caption : u"Error";
  int result = plat::kIdOk;
  if (message_box_handler != nullptr && message_box_handler(owner, text, shown_caption, flags, &result))
    return result;
  // No window system: nobody could press OK, so the box answers at once.
  ReportMessageBox(text, shown_caption, flags);
  return plat::kIdOk;
}

}  // namespace device::internal

namespace plat {

// The host emulates the device.
bool OnPc() { return false; }

void Sleep(uint32_t ms) {
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec remaining{};
  while (nanosleep(&request, &remaining) != 0) request = remaining;
}

uint64_t TickCount() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int MessageBox(const std::u16string& text, const std::u16string* caption, uint32_t flags) {
  if (common::FailsAtGate(faults::Op::MessageBox)) return 0;
  return device::internal::ShowMessageBox(0, text, caption, flags);
}

void MessageBeep(uint32_t type) { device::Journal("beep", "\"type\":" + std::to_string(type)); }

Version GetVersion() { return {4, 20, 1081, 3, u""}; }

}  // namespace plat

namespace plat::common {

std::string ProgramFileName() { return program_invocation_short_name; }

void KillProgram() {
  raise(SIGKILL);
  _exit(137);  // not reached
}

}  // namespace plat::common

namespace plat {

void ExitProcess(int code) {
  // Ending inside a transaction would lose what the journal said meanwhile
  // (the out-of-memory message among it).
  device::internal::AbandonTransaction();
  device::internal::ForgetProcessHotKeys();
  device::internal::ForgetProcessWindows();
  device::internal::ForgetProcessTrayIcons();
  device::FoldLogIfDue();  // after the program's last writes
  if (exit_handler != nullptr) exit_handler(code);
  std::exit(code);
}

}  // namespace plat
