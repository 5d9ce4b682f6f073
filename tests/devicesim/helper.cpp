// Stand-in device program for devicesim's tests. Command line (one argument,
// as the device passes it): "spawn MS" starts a copy of itself with
// "sleep MS" and ends at once; "sleep MS" journals its start, sleeps, and
// journals its end; "journal N" journals N numbered entries as fast as it can.
#include <spawn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/host/device/device.h"

extern char** environ;

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command.rfind("spawn ", 0) == 0) {
    std::string next = "sleep " + command.substr(6);
    char* child_argv[] = {argv[0], next.data(), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, child_argv, environ) == 0 ? 0 : 1;
  }
  if (command.rfind("sleep ", 0) == 0) {
    device::Journal("helper", "\"phase\":\"sleeping\"");
    usleep(static_cast<useconds_t>(std::atoi(command.c_str() + 6)) * 1000);
    device::Journal("helper", "\"phase\":\"done\"");
    return 0;
  }
  if (command.rfind("journal ", 0) == 0) {
    int count = std::atoi(command.c_str() + 8);
    for (int i = 0; i < count; ++i) device::Journal("helper", "\"n\":" + std::to_string(i));
    return 0;
  }
  return 2;
}
