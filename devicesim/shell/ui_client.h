// The client side of the emulated device's window system: find the program
// that shows a window, send it one request, get its reply. devicesim ui and
// devicesim run use it; so can a front end that draws the screen.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/device/device.h"
#include "platform/host/ui/channel.h"

namespace devicesim::ui {

constexpr int64_t kDefaultTimeoutMs = 10000;

// The running program with a main window on the current device: the one
// with process id `pid` when it is not 0, else the one that started last.
// False with a message when there is none.
bool FindProgram(int64_t pid, device::WindowRecord* program, std::string* error);

struct Outcome {
  enum Kind {
    kReplied,    // `reply` holds the program's answer
    kTimedOut,   // no answer within the time limit
    kLost,       // the program ended without answering
    kFailed,     // the channel could not be used
  } kind = kFailed;
  device::channel::Reply reply;
  std::string message;  // for everything but kReplied
};

// Sends `request` (its deadline set from `timeout_ms`) and waits for the
// reply: the screen once the program waits for input again.
Outcome Send(const device::WindowRecord& program, device::channel::Request request, int64_t timeout_ms);

// "tapdeck (pid 4711)", as messages name a program.
std::string ProgramName(const device::WindowRecord& program);

}  // namespace devicesim::ui
