// Starting programs and opening files as the device's shell does.
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/common/shell_text.h"
#include "platform/host/device/host_internal.h"

extern char** environ;

using namespace device::internal;

namespace {

constexpr size_t kMaxShortcutBytes = 4096;

std::vector<int>& Started() {
  static std::vector<int> pids;
  return pids;
}

// Where the output of detached programs goes; empty: not detached.
std::string& DetachedOutput() {
  static std::string file;
  return file;
}

bool EndsWithNoCase(const std::u16string& text, const std::u16string& suffix) {
  return text.size() >= suffix.size() &&
         plat::CompareNoCase(text.substr(text.size() - suffix.size()), suffix) == 0;
}

std::u16string Extension(const std::u16string& path) {
  size_t dot = path.find_last_of(u'.');
  size_t slash = path.find_last_of(u"\\/");
  if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::u16string FileName(const std::u16string& path) {
  size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool IsFile(const std::u16string& device_path) {
  uint32_t attributes = plat::GetFileAttributes(device_path);
  return attributes != plat::kInvalidFileAttributes && (attributes & plat::kFileAttributeDirectory) == 0;
}

bool IsElf(const std::string& host_path) {
  int fd = open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4] = {};
  bool elf = read(fd, magic, 4) == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0;
  close(fd);
  return elf;
}

// "QUADRAKEY_PRESS=vk:time" for the next program started, or empty.
std::string& PressOfNextStart() {
  static std::string setting;
  return setting;
}

bool Spawn(const std::string& host_path, const std::u16string& command_line) {
  std::string argument = device::ToUtf8(command_line);
  std::vector<char*> argv{const_cast<char*>(host_path.c_str())};
  if (!command_line.empty()) argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::string device_setting = "QUADRAKEY_DEVICE=" + device::Folder();
  std::string press_setting;
  press_setting.swap(PressOfNextStart());  // for this start only
  const size_t press_prefix = std::strlen(device::kPressVariable);
  std::vector<char*> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const bool press = std::strncmp(*e, device::kPressVariable, press_prefix) == 0 && (*e)[press_prefix] == '=';
    if (std::strncmp(*e, "QUADRAKEY_DEVICE=", 17) != 0 && !press) env.push_back(*e);
  }
  env.push_back(device_setting.data());
  if (!press_setting.empty()) env.push_back(press_setting.data());
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // A started program gets standard input, output and error and nothing
  // else of its starter's: no database, socket or pipe of a server.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const std::string& output = DetachedOutput();
  if (!output.empty()) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  }
  pid_t pid = 0;
  int rc = posix_spawn(&pid, host_path.c_str(), &actions, &attributes, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) return Fail(FromErrno(rc));
  Started().push_back(pid);
  return true;
}

// "N#command" as the shell writes it. The count is not trusted: hand-made
// shortcuts often miscount, and the device runs the text after '#' anyway.
bool ReadShortcut(const std::u16string& path, std::u16string* command) {
  plat::TextFile file = plat::OpenTextFile(path, "rt");
  if (file == nullptr) return false;
  std::string bytes;
  bool read = plat::ReadTextFile(file, &bytes);
  plat::CloseTextFile(file);
  if (!read || bytes.size() > kMaxShortcutBytes) return Fail(plat::kErrorBadFormat);
  if (!plat::common::ParseShortcutText(bytes, command)) return Fail(plat::kErrorBadFormat);
  return true;
}

// The class's open command with "%1" replaced by the file; error 1155 when
// the extension has no association.
bool Association(const std::u16string& file, std::u16string* command) {
  std::u16string extension = Extension(file);
  if (extension.empty()) return Fail(plat::kErrorNoAssociation);
  auto read_default = [](const std::u16string& path, std::u16string* text) {
    plat::RegKey key = plat::RegOpenKey(plat::RegRoot::ClassesRoot, path, plat::kKeyQueryValue);
    if (key == nullptr) return false;
    uint32_t type = 0, size = 0;
    bool ok = plat::RegQueryValue(key, u"", &type, nullptr, &size) &&
              (type == plat::kRegSz || type == 2 /* REG_EXPAND_SZ */);
    std::u16string buffer((size + 1) / 2 + 1, u'\0');
    if (ok) {
      uint32_t capacity = static_cast<uint32_t>(buffer.size() * 2);
      ok = plat::RegQueryValue(key, u"", &type, buffer.data(), &capacity);
    }
    plat::RegCloseKey(key);
    if (!ok) return false;
    *text = buffer.substr(0, buffer.find(u'\0'));
    return !text->empty();
  };
  std::u16string file_class;
  if (!read_default(extension, &file_class)) return Fail(plat::kErrorNoAssociation);
  std::u16string open_command;
  if (!read_default(file_class + u"\\shell\\open\\command", &open_command))
    return Fail(plat::kErrorNoAssociation);
  std::u16string result;
  bool replaced = false;
  for (size_t i = 0; i < open_command.size(); ++i) {
    if (open_command[i] == u'%' && i + 1 < open_command.size() && open_command[i + 1] == u'1') {
      result += file;
      replaced = true;
      ++i;
    } else {
      result += open_command[i];
    }
  }
  if (!replaced) result += u" \"" + file + u"\"";  // as the shell does for a bare command
  *command = result;
  return true;
}

// Shortcuts and associations can lead back to themselves; the chain is cut
// instead of recursing until the stack runs out.
constexpr int kMaxOpenDepth = 8;
int open_depth = 0;

bool OpenFile(const std::u16string& file) {
  if (open_depth >= kMaxOpenDepth) return Fail(plat::kErrorCantResolveFilename);
  uint32_t attributes = plat::GetFileAttributes(file);
  if (attributes == plat::kInvalidFileAttributes) return false;
  if (attributes & plat::kFileAttributeDirectory) return true;  // the explorer shows the folder
  if (EndsWithNoCase(file, u".lnk")) {
    std::u16string command;
    return ReadShortcut(file, &command) && device::RunShellCommand(command);
  }
  if (EndsWithNoCase(file, u".exe")) return plat::CreateProcess(file, u"");
  std::u16string command;
  return Association(file, &command) && device::RunShellCommand(command);
}

struct StartContext {
  const std::string* host;
  const std::u16string* args;
  bool elf;
  bool spawned;
  std::string fields;
  bool ran = false;
};

// The spawn comes first so that the entry can name the new process; the
// transaction's write lock keeps the child's own entries behind it.
bool SpawnThenJournal(void* context) {
  auto* start = static_cast<StartContext*>(context);
  start->ran = true;
  if (start->elf) {
    start->spawned = Spawn(*start->host, *start->args);
    if (!start->spawned) return false;
    start->fields += ",\"child\":" + std::to_string(Started().back());
  }
  device::Journal("start", start->fields);
  return true;
}

// As the device's loader: a missing ".exe" is added, and a bare name is
// also looked for in \Windows.
std::u16string ResolveProgram(const std::u16string& program) {
  std::vector<std::u16string> candidates{program};
  if (Extension(program).empty()) candidates.push_back(program + u".exe");
  if (!program.empty() && program.find_first_of(u"\\/") == std::u16string::npos) {
    size_t n = candidates.size();
    for (size_t i = 0; i < n; ++i) candidates.push_back(u"\\Windows\\" + candidates[i]);
  }
  for (const std::u16string& candidate : candidates)
    if (IsFile(candidate)) return candidate;
  return program;
}

}  // namespace

namespace plat {

bool CreateProcess(const std::u16string& given, const std::u16string& command_line) {
  common::FaultGate gate(faults::Op::ProcessStart);
  if (gate.failed()) return false;
  std::u16string program = ResolveProgram(given);
  std::string host = device::HostPath(program);
  bool ok = false;
  if (GetFileAttributes(program) == kInvalidFileAttributes) {
    // last error set: 2, or 3 for a missing folder
  } else if (GetFileAttributes(program) & kFileAttributeDirectory) {
    Fail(kErrorAccessDenied);
  } else {
    // A stock program of the device has no host binary: starting it is only
    // journalled. The entry is written in the same transaction as the spawn,
    // so it precedes anything the new process journals and is not written
    // when the spawn fails.
    StartContext start{&host, &command_line, IsElf(host), false,
                       "\"program\":" + device::JsonString(program) +
                           ",\"args\":" + device::JsonString(command_line)};
    bool committed = device::Transaction(SpawnThenJournal, &start);
    if (!committed && !start.ran && start.elf && Spawn(host, command_line))
      start.spawned = true;  // the journal could not be written; the start still counts
    ok = start.elf ? start.spawned : true;
  }
  if (!ok) return false;
  SetLastError(kErrorSuccess);
  return true;
}

bool ShellOpen(const std::u16string& file) {
  common::FaultGate gate(faults::Op::ShellOpen);
  ++open_depth;
  // A failed open is journalled like any other: the device tried.
  bool ok = !gate.failed() && OpenFile(file);
  --open_depth;
  uint32_t code = ok ? kErrorSuccess : GetLastError();
  device::Journal("open", "\"file\":" + device::JsonString(file) + ",\"ok\":" + (ok ? "true" : "false") +
                              ",\"error\":" + std::to_string(code));
  SetLastError(code);
  return ok;
}

uint8_t GetAppKey(const std::u16string& program_file_name) {
  std::u16string wanted = FileName(program_file_name);
  std::vector<std::u16string> entries;
  if (wanted.empty() || !device::ListSubkeys(RegRoot::LocalMachine, kButtonTableKey, &entries)) return 0;
  for (const std::u16string& entry : entries) {
    std::vector<device::RegValue> values;
    if (!device::ListValues(RegRoot::LocalMachine, std::u16string(kButtonTableKey) + u"\\" + entry, &values)) continue;
    for (const device::RegValue& value : values) {
      if (!value.name.empty() || value.type != kRegSz) continue;
      const std::u16string command = device::RegTextOf(value.data);
      std::u16string program, args;
      device::SplitCommand(command, &program, &args);
      if (CompareNoCase(FileName(program), wanted) != 0) continue;
      std::string hex = device::ToUtf8(entry);
      char* end = nullptr;
      unsigned long code = std::strtoul(hex.c_str(), &end, 16);
      if (!hex.empty() && *end == '\0') return static_cast<uint8_t>(code & 0xFF);
    }
  }
  return 0;
}

}  // namespace plat

namespace device {

void SplitCommand(const std::u16string& command, std::u16string* program, std::u16string* args) {
  plat::common::SplitCommand(command, program, args);
}

bool RunShellCommand(const std::u16string& command) {
  std::u16string program, args;
  SplitCommand(command, &program, &args);
  if (program.empty()) return Fail(plat::kErrorFileNotFound);
  if (EndsWithNoCase(program, u".lnk")) return plat::ShellOpen(program);
  std::u16string extension = Extension(program);
  // A document in a command (a shortcut to a note, say) opens through its
  // association; programs start directly.
  if (!extension.empty() && plat::CompareNoCase(extension, u".exe") != 0 && IsFile(program))
    return plat::ShellOpen(program);
  return plat::CreateProcess(program, args);
}

std::vector<int> StartedProcesses() { return Started(); }

void DatePressOfNextStart(int virtual_key, int64_t down_at) {
  PressOfNextStart() = virtual_key == 0 ? std::string()
                                        : std::string(kPressVariable) + "=" + std::to_string(virtual_key) + ":" +
                                              std::to_string(down_at);
}

void DetachStartedPrograms(const std::string& output_file) { DetachedOutput() = output_file; }

}  // namespace device
