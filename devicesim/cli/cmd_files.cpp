// devicesim shortcut / path: the device's files.
#include <cstdio>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/devicefs.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kShortcutHelp[] =
    "usage: devicesim shortcut DEVICE_PATH TARGET\n"
    "\n"
    "Writes a shortcut file at DEVICE_PATH (for example '\\Windows\\Start Menu\\x.lnk')\n"
    "whose target is the command TARGET (a program or file path, quoted when it\n"
    "holds blanks, then its arguments). Missing folders are made. An existing file\n"
    "is replaced.\n";

const char kPathHelp[] =
    "usage: devicesim path DEVICE_PATH\n"
    "\n"
    "Prints the host path of a device path. Existing parts of the path are matched\n"
    "without regard to letter case, as on the device; missing parts stay as written.\n";

int RunShortcut(const Args& args);
int RunPath(const Args& args);

}  // namespace

const Command kShortcutCommand = {"shortcut", "write a shortcut file on the device", kShortcutHelp,
                                  RunShortcut};
const Command kPathCommand = {"path", "print the host path of a device file", kPathHelp, RunPath};

namespace {

int RunShortcut(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kShortcutCommand, args, {}, &parsed);
  if (status >= 0) return status;
  if (parsed.positional.size() != 2)
    return UsageError(kShortcutCommand, "shortcut takes DEVICE_PATH and TARGET");
  std::u16string path = device::FromUtf8(parsed.positional[0]);
  std::u16string target = device::FromUtf8(parsed.positional[1]);
  std::string error;
  if (!CheckDevicePath(path, &error)) return UsageError(kShortcutCommand, error);
  if (target.empty()) return UsageError(kShortcutCommand, "the target command is empty");
  if (path.back() == u'\\' || path.back() == u'/')
    return UsageError(kShortcutCommand, "DEVICE_PATH names a folder, not a file");
  if (!RequireDevice(kShortcutCommand)) return kExitFailure;
  if (!MakeDeviceFolder(ParentOf(path), &error)) return Failure(kShortcutCommand, error);
  if (!plat::CreateShortcut(path, target))
    return DeviceFailure(kShortcutCommand, "cannot write " + parsed.positional[0]);
  return kExitOk;
}

int RunPath(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kPathCommand, args, {}, &parsed);
  if (status >= 0) return status;
  if (parsed.positional.size() != 1) return UsageError(kPathCommand, "path takes one DEVICE_PATH");
  std::u16string path = device::FromUtf8(parsed.positional[0]);
  std::string error;
  if (!CheckDevicePath(path, &error)) return UsageError(kPathCommand, error);
  if (!RequireDevice(kPathCommand)) return kExitFailure;
  std::printf("%s\n", device::HostPath(path).c_str());
  return kExitOk;
}

}  // namespace
}  // namespace devicesim
