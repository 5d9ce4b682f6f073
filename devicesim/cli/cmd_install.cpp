// devicesim install: put the host builds of the device programs where the
// device's shell starts them.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/devicefs.h"
#include "devicesim/cli/install.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kHelp[] =
    "usage: devicesim install [BUILD_DIR]\n"
    "\n"
    "Copies the host builds of the device programs TapdeckX, TapdeckH, Turnscreen\n"
    "and tapdeck from BUILD_DIR (default: the folder that holds devicesim itself)\n"
    "into the device's application folder (the registry value\n"
    "HKLM\\Software\\Quadrakey \"AppFolder\") as TapdeckX.exe, TapdeckH.exe,\n"
    "Turnscreen.exe and tapdeck.exe. Programs that\n"
    "were not built are skipped and named. Fails when none was found.\n";

const char* const kPrograms[] = {"TapdeckX", "TapdeckH", "Turnscreen", "tapdeck"};

int Run(const Args& args);

}  // namespace

const Command kInstallCommand = {"install", "copy the built device programs onto the device",
                                 kHelp, Run};

// False with error 2 when the device has no application folder, another
// when the registry cannot be read.
bool ReadAppFolder(std::u16string* folder) {
  std::vector<device::RegValue> values;
  if (!device::ListValues(plat::RegRoot::LocalMachine, u"Software\\Quadrakey", &values)) return false;
  for (const device::RegValue& value : values) {
    if (plat::CompareNoCase(value.name, u"AppFolder") != 0 || value.type != plat::kRegSz) continue;
    *folder = device::RegTextOf(value.data);
    if (!folder->empty()) return true;
    break;
  }
  plat::SetLastError(plat::kErrorFileNotFound);
  return false;
}

std::string OwnFolder() {
  std::error_code code;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", code);
  if (code) return ".";
  return self.parent_path().string();
}

bool InstallPrograms(const std::string& build_folder, InstallResult* result, std::string* error) {
  namespace fs = std::filesystem;
  std::u16string app_folder;
  if (!ReadAppFolder(&app_folder)) {
    *error = plat::GetLastError() == plat::kErrorFileNotFound
                 ? "the device has no application folder (HKLM\\Software\\Quadrakey \"AppFolder\")"
                 : "cannot read the application folder: " + device::ErrorText(plat::GetLastError());
    return false;
  }
  if (!CheckDevicePath(app_folder, error)) {
    *error = "the application folder \"" + device::ToUtf8(app_folder) + "\" is unusable: " + *error;
    return false;
  }
  for (const char* program : kPrograms) {
    fs::path source = fs::path(build_folder) / program;
    std::error_code code;
    if (!fs::is_regular_file(source, code) || access(source.c_str(), X_OK) != 0) {
      result->not_built.push_back(program);
      continue;
    }
    if (!MakeDeviceFolder(app_folder, error)) return false;
    std::u16string target = app_folder;
    if (target.back() != u'\\' && target.back() != u'/') target += u'\\';
    target += device::FromUtf8(program) + u".exe";
    fs::path host = device::HostPath(target);
    // A copy beside it, then a rename: a running copy of the old program
    // keeps its file, and no half-written program is ever started.
    fs::path temporary = host;
    temporary += ".installing";
    fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, code);
    if (!code) fs::permissions(temporary, fs::perms::owner_all | fs::perms::group_read |
                                              fs::perms::group_exec | fs::perms::others_read |
                                              fs::perms::others_exec, code);
    if (!code) fs::rename(temporary, host, code);
    if (code) {
      std::error_code ignored;  // the reason is the copy's, not the clean-up's
      fs::remove(temporary, ignored);
      *error = "cannot install " + std::string(program) + " as " + device::ToUtf8(target) + ": " +
               code.message();
      return false;
    }
    result->installed.push_back(std::string(program) + " -> " + device::ToUtf8(target));
  }
  return true;
}

namespace {

int Run(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kInstallCommand, args, {}, &parsed);
  if (status >= 0) return status;
  if (parsed.positional.size() > 1) return UsageError(kInstallCommand, "install takes at most one BUILD_DIR");
  std::string folder = parsed.positional.empty() ? OwnFolder() : parsed.positional[0];
  std::error_code code;
  if (!std::filesystem::is_directory(folder, code))
    return Failure(kInstallCommand, "no such folder: " + folder);
  if (!RequireDevice(kInstallCommand)) return kExitFailure;
  InstallResult result;
  std::string error;
  if (!InstallPrograms(folder, &result, &error)) return Failure(kInstallCommand, error);
  for (const std::string& line : result.installed) std::printf("installed %s\n", line.c_str());
  for (const std::string& name : result.not_built) std::printf("not built: %s\n", name.c_str());
  if (result.installed.empty())
    return Failure(kInstallCommand, "no device program (TapdeckX, TapdeckH, Turnscreen, tapdeck) in " + folder);
  return kExitOk;
}

}  // namespace
}  // namespace devicesim
