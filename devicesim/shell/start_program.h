// Starting a program on the device as its shell does, detached from
// devicesim: devicesim run and the page's Settings entry use it.
#pragma once

#include <string>

namespace devicesim {

struct StartedProgram {
  std::u16string program;  // the device path started, or the bare name the loader finds
  int pid = 0;             // 0: a stock program of the device, only journalled
  std::string output;      // host file that receives its output
};

enum class StartResult { kStarted, kNoProgram, kCannotStart };

// Starts `given` (a name such as tapdeck, found as tapdeck.exe in the
// application folder or in \Windows, or a device path) with `command_line`.
// It reads nothing, appends its output to output/NAME.txt in the device
// folder, runs in a session of its own and is not waited for. A message in
// *error unless started.
StartResult StartProgram(const std::string& given, const std::string& command_line, StartedProgram* started,
                  std::string* error);

// output/NAME.txt in the device folder for a program path (made on demand).
std::string ProgramOutputFile(const std::u16string& program);

}  // namespace devicesim
