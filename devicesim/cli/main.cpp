// devicesim: the emulated Pocket PC's shell and the tool that drives it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "devicesim/cli/commands.h"
#include "platform/host/device/device.h"
#include "platform/platform.h"

namespace {

void PrintOverview(FILE* out) {
  std::fputs(
      "usage: devicesim [--device DIR] COMMAND [ARGS...]\n"
      "\n"
      "Drives the emulated Pocket PC kept in a device folder.\n"
      "\n"
      "Global options:\n"
      "  --device DIR   the device folder; every program devicesim starts uses it too.\n"
      "                 Default: $QUADRAKEY_DEVICE, else $XDG_DATA_HOME/quadrakey/device,\n"
      "                 else ~/.local/share/quadrakey/device\n"
      "  --help         this text; 'devicesim COMMAND --help' describes one command\n"
      "\n"
      "Commands:\n",
      out);
  for (const devicesim::Command* command : devicesim::AllCommands()) {
    std::fprintf(out, "  %-9s %s\n", command->name, command->summary);
  }
  std::fputs(
      "\n"
      "Exit status: 0 success, 1 failure (no device, no such key, bad file, ...),\n"
      "2 usage error.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "help") {
      // "devicesim help COMMAND" reads as naturally as "COMMAND --help".
      if (arg == "help" && i + 1 < argc) {
        if (const devicesim::Command* command = devicesim::FindCommand(argv[i + 1])) {
          std::fputs(command->help, stdout);
          return devicesim::kExitOk;
        }
        std::fprintf(stderr, "devicesim: unknown command '%s'\n", argv[i + 1]);
        return devicesim::kExitUsage;
      }
      PrintOverview(stdout);
      return devicesim::kExitOk;
    }
    if (arg == "--device" || arg.rfind("--device=", 0) == 0) {
      if (arg == "--device") {
        if (i + 1 >= argc) {
          std::fputs("devicesim: option --device needs a folder\n", stderr);
          return devicesim::kExitUsage;
        }
        folder = argv[++i];
      } else {
        folder = arg.substr(std::strlen("--device="));
      }
      if (folder.empty()) {
        std::fputs("devicesim: option --device needs a folder\n", stderr);
        return devicesim::kExitUsage;
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "devicesim: unknown option %s\nTry 'devicesim --help'.\n", arg.c_str());
      return devicesim::kExitUsage;
    }
    break;
  }
  if (i >= argc) {
    PrintOverview(stderr);
    return devicesim::kExitUsage;
  }
  const devicesim::Command* command = devicesim::FindCommand(argv[i]);
  if (command == nullptr) {
    std::fprintf(stderr, "devicesim: unknown command '%s'\nTry 'devicesim --help'.\n", argv[i]);
    return devicesim::kExitUsage;
  }

  if (folder.empty()) folder = device::DefaultFolder();
  // Programs started later may run in another working folder.
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(folder, error);
  device::SetFolder(error ? folder : absolute.lexically_normal().string());
  // devicesim is the device's shell too: a key it passes on must not wait
  // for a fold of the log, so it folds as it ends, as the device programs do.
  device::FoldLogAtEnd();
  // The process-wide objects (the log's mutex among them) belong to the
  // chosen device, so they are made only now.
  DeviceStartUp();
  std::atexit(DeviceShutDown);

  devicesim::Args args(argv + i + 1, argv + argc);
  const int status = command->run(args);
  device::FoldLogIfDue();
  return status;
}
