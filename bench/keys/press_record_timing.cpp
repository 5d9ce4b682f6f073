// How long a launcher takes to read its dated press on Windows: the first
// read (opening the listener's record) and every later one. The program
// watches F12 as the listener does, sends itself a press, and starts itself
// as that press's launcher, which times its reads and prints them.
//
// usage (under Wine): press_record_timing.exe [READS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/ui.h"

void DeviceStartUp() {}
void DeviceShutDown() {}

namespace {

constexpr uint32_t kKey = 0x7B;  // F12
intptr_t down_stamp = 0;
bool got_down = false;

intptr_t Watcher(plat::Window window, plat::WindowEvent event, uintptr_t first, intptr_t second) {
  if (event == plat::WindowEvent::kKeyEvent && first == kKey) {
    down_stamp = second;
    got_down = true;
  }
  if (event == plat::WindowEvent::kTimer) {
    plat::KillTimer(window, first);
    plat::PostQuit(0);
  }
  return 0;
}

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

int Launcher(int reads) {
  std::vector<double> times;
  plat::OwnPress press;
  bool recorded = true;
  for (int i = 0; i < reads; ++i) {
    LARGE_INTEGER before, after;
    ::QueryPerformanceCounter(&before);
    const bool found = plat::GetOwnPress(&press);
    ::QueryPerformanceCounter(&after);
    recorded = recorded && found && press.recorded;
    times.push_back(Microseconds(before, after));
  }
  const double first = times.front();
  std::sort(times.begin() + 1, times.end());
  const size_t later = times.size() - 1;
  std::printf("first read %.1f us; later reads median %.1f us, p90 %.1f us, max %.1f us (%zu); %s\n", first,
              times[1 + later / 2], times[1 + later * 9 / 10], times.back(), later,
              recorded ? "the press was found in the record" : "THE PRESS WAS NOT FOUND");
  return recorded ? 0 : 1;
}

}  // namespace

int DeviceMain(const std::u16string& command_line) {
  const std::string args(command_line.begin(), command_line.end());
  if (args.rfind("launcher ", 0) == 0) return Launcher(std::max(2, std::atoi(args.c_str() + 9)));
  const int reads = args.empty() ? 1000 : std::max(2, std::atoi(args.c_str()));
  const plat::Window window = plat::CreateMessageWindow(u"QkPressRecordTiming", Watcher);
  if (window == 0 || !plat::WatchKeys(window, {kKey})) {
    std::printf("cannot watch keys (error %u)\n", plat::GetLastError());
    return 1;
  }
  plat::KeybdEvent(kKey, 0, 0, 0);
  plat::KeybdEvent(kKey, 0, plat::kKeyEventKeyUp, 0);
  plat::SetTimer(window, 1, 200);
  plat::RunMessageLoop();
  if (!got_down) {
    std::printf("the key down never reached the watcher\n");
    return 1;
  }
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::u16string program(reinterpret_cast<const char16_t*>(self));
  const std::string launcher_args = "launcher " + std::to_string(reads);
  if (!plat::StartPressLauncher(program, std::u16string(launcher_args.begin(), launcher_args.end()),
                                static_cast<int>(kKey), down_stamp)) {
    std::printf("cannot start the launcher (error %u)\n", plat::GetLastError());
    return 1;
  }
  // The record lives while this watcher does.
  plat::SetTimer(window, 1, 3000);
  plat::RunMessageLoop();
  return 0;
}
