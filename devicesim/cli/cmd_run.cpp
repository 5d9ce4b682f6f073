// devicesim run: start a program on the device as its shell does, and wait
// until it shows its first screen or ends.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "devicesim/cli/commands.h"
#include "devicesim/shell/start_program.h"
#include "devicesim/shell/ui_client.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kHelp[] =
    "usage: devicesim run [--no-wait] [--timeout MS] PROGRAM [ARGS...]\n"
    "\n"
    "Starts a program on the device as the shell does. PROGRAM is a name such as\n"
    "tapdeck, found as tapdeck.exe in the application folder (the registry value\n"
    "HKLM\\Software\\Quadrakey \"AppFolder\") or else where the device's loader\n"
    "looks (\\Windows); or a device path such as\n"
    "'\\Program Files\\Quadrakey\\tapdeck.exe'. ARGS, joined by blanks, are its\n"
    "command line.\n"
    "\n"
    "The program reads nothing, appends what it prints to output/NAME.txt in the\n"
    "device folder, and runs on when devicesim ends. devicesim prints its process\n"
    "id and waits until it shows its first screen and waits for input (see\n"
    "'devicesim ui'; a program without a screen: until its message loop waits),\n"
    "or ends (its exit code is printed).\n"
    "  --no-wait      return as soon as the program has started\n"
    "  --timeout MS   how long to wait (default 10000)\n"
    "\n"
    "Exit status: 0 started (and waiting for input, or ended); 1 no such program,\n"
    "it could not start, or it neither waited for input nor ended in time (it is\n"
    "left running); 2 usage error.\n";

int Run(const Args& args);

}  // namespace

const Command kRunCommand = {"run", "start a program on the device, as the shell does", kHelp, Run};

namespace {

// Waits for the first wait for input or the end of `pid`.
int WaitForFirstScreen(int pid, int64_t timeout_ms) {
  int64_t deadline = device::channel::MonotonicMs() + timeout_ms;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      if (WIFEXITED(status)) {
        std::printf("pid %d ended with exit code %d\n", pid, WEXITSTATUS(status));
        return kExitOk;
      }
      return Failure(kRunCommand, "pid " + std::to_string(pid) + " was ended by signal " +
                                      std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0));
    }
    bool has_window = false;
    for (const device::WindowRecord& window : device::LiveWindows()) {
      if (window.pid != pid || window.channel.empty()) continue;
      has_window = true;
      device::channel::Request request;
      request.verb = "show";
      request.format = device::channel::Format::kNone;
      ui::Outcome outcome = ui::Send(window, request, deadline - device::channel::MonotonicMs());
      if (outcome.kind == ui::Outcome::kReplied && outcome.reply.status == device::channel::Status::kOk) {
        std::printf("pid %d waits for input\n", pid);
        return kExitOk;
      }
      break;  // ended meanwhile, or out of time: the checks above and below say which
    }
    // A program without a screen (a resident listener) waits for input once
    // its message loop has taken everything sent to it.
    if (!has_window && device::WaitForInputIdle(pid, 20)) {
      // Waiting, it has made every window it makes before its first wait.
      bool screen = false;
      for (const device::WindowRecord& window : device::LiveWindows()) screen |= window.pid == pid;
      std::printf(screen ? "pid %d waits for input\n" : "pid %d waits for input (it has no screen)\n", pid);
      return kExitOk;
    }
    if (device::channel::MonotonicMs() >= deadline) {
      return Failure(kRunCommand, "pid " + std::to_string(pid) + " neither waited for input nor ended within " +
                                      std::to_string(timeout_ms) + " ms; it is left running");
    }
    usleep(5000);
  }
}

int Run(const Args& args) {
  // Options come before PROGRAM; everything after it belongs to the program.
  size_t first = 0;
  Args options;
  while (first < args.size() && args[first].size() > 1 && args[first][0] == '-') {
    options.push_back(args[first]);
    if ((args[first] == "--timeout") && first + 1 < args.size()) options.push_back(args[++first]);
    if (args[first] == "--") {
      options.pop_back();
      ++first;
      break;
    }
    ++first;
  }
  ParsedArgs parsed;
  int status = ParseCommandArgs(kRunCommand, options, {{"--no-wait", false}, {"--timeout", true}}, &parsed);
  if (status >= 0) return status;
  if (first >= args.size()) return UsageError(kRunCommand, "which program?");
  long long timeout = ui::kDefaultTimeoutMs;
  if (parsed.Has("--timeout") && !ParseNumber(parsed.Value("--timeout"), 1, 3600000, &timeout))
    return UsageError(kRunCommand, "--timeout takes milliseconds from 1 to 3600000");
  std::string command_line;
  for (size_t i = first + 1; i < args.size(); ++i) command_line += (i > first + 1 ? " " : "") + args[i];
  if (!RequireDevice(kRunCommand)) return kExitFailure;

  StartedProgram started;
  std::string error;
  if (StartProgram(args[first], command_line, &started, &error) != StartResult::kStarted)
    return Failure(kRunCommand, error);
  if (started.pid == 0) {
    // A stock program of the device: journalled as started, nothing runs.
    std::printf("started %s (a stock program of the device: only journalled)\n",
                device::ToUtf8(started.program).c_str());
    return kExitOk;
  }
  int pid = started.pid;
  std::printf("started %s, pid %d (output: %s)\n", device::ToUtf8(started.program).c_str(), pid,
              started.output.c_str());
  std::fflush(stdout);
  if (parsed.Has("--no-wait")) return kExitOk;
  return WaitForFirstScreen(pid, timeout);
}

}  // namespace
}  // namespace devicesim
