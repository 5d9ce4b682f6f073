#include "devicesim/shell/start_program.h"

#include <filesystem>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/install.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

bool HasExtension(const std::u16string& name) {
  size_t dot = name.find_last_of(u'.');
  return dot != std::u16string::npos && dot > 0;
}

bool IsFile(const std::u16string& device_path) {
  uint32_t attributes = plat::GetFileAttributes(device_path);
  return attributes != plat::kInvalidFileAttributes && (attributes & plat::kFileAttributeDirectory) == 0;
}

// The device path to start, or the name as given for the loader to find.
bool Resolve(const std::string& given, std::u16string* program, std::string* error) {
  std::u16string name = device::FromUtf8(given);
  if (name.find_first_of(u"\\/") != std::u16string::npos) {
    if (!CheckDevicePath(name, error)) return false;
    *program = name;
    return true;
  }
  std::u16string file = HasExtension(name) ? name : name + u".exe";
  std::u16string folder;
  if (ReadAppFolder(&folder)) {
    if (folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
    if (IsFile(folder + file)) {
      *program = folder + file;
      return true;
    }
  }
  if (IsFile(u"\\Windows\\" + file)) {
    *program = name;  // the loader's own search finds it
    return true;
  }
  *error = "no program " + given + " on the device (looked for " +
           (folder.empty() ? std::string() : device::ToUtf8(folder + file) + " and ") + "\\Windows\\" +
           device::ToUtf8(file) + "; 'devicesim install' places the built programs)";
  return false;
}

}  // namespace

std::string ProgramOutputFile(const std::u16string& program) {
  std::u16string name = program.substr(program.find_last_of(u"\\/") + 1);  // npos + 1 is 0
  size_t dot = name.find_last_of(u'.');
  if (dot != std::u16string::npos && dot > 0) name.resize(dot);
  std::filesystem::path folder = std::filesystem::path(device::Folder()) / "output";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return (folder / (device::ToUtf8(name) + ".txt")).string();
}

StartResult StartProgram(const std::string& given, const std::string& command_line, StartedProgram* started,
                         std::string* error) {
  std::u16string program;
  if (!Resolve(given, &program, error)) return StartResult::kNoProgram;
  started->program = program;
  started->output = ProgramOutputFile(program);
  started->pid = 0;
  device::DetachStartedPrograms(started->output);
  size_t before = device::StartedProcesses().size();
  if (!plat::CreateProcess(program, device::FromUtf8(command_line))) {
    *error = "cannot start " + device::ToUtf8(program) + " (error " + std::to_string(plat::GetLastError()) + ")";
    return StartResult::kCannotStart;
  }
  std::vector<int> now = device::StartedProcesses();
  if (now.size() != before) started->pid = now.back();
  return StartResult::kStarted;
}

}  // namespace devicesim
