// Starting programs and opening files through the shell.
#include <cstdio>
#include <vector>

#include "platform/common/fault_gate.h"
#include "platform/common/shell_text.h"
#include "platform/win32/win32_api.h"

using win32::Fail;
using win32::W;

namespace {

bool EndsWithNoCase(const std::u16string& text, const std::u16string& tail) {
  return text.size() >= tail.size() &&
         plat::CompareNoCase(text.substr(text.size() - tail.size()), tail) == 0;
}

enum class ShortcutForm { Device, Other, Unreadable };

// A shortcut in the device's text form: "<length>#<command>". Anything else
// (a desktop shell link) is left to the desktop shell.
ShortcutForm ReadDeviceShortcut(const std::u16string& path, std::u16string* command) {
  FILE* stream = ::_wfopen(W(path), L"rb");
  if (stream == nullptr) return ShortcutForm::Unreadable;
  std::string bytes;
  char buffer[4096];
  size_t got;
  // A shortcut is one short line; a bigger file is not one of ours.
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0 && bytes.size() < 65536)
    bytes.append(buffer, got);
  std::fclose(stream);
  if (plat::common::ParseShortcutText(bytes, command)) return ShortcutForm::Device;
  // A desktop shell link starts with its header size, never with a digit.
  const bool looks_like_ours = !bytes.empty() && bytes[0] >= '0' && bytes[0] <= '9';
  return looks_like_ours ? ShortcutForm::Unreadable : ShortcutForm::Other;
}

bool ShellExecute(const std::u16string& file, const std::u16string& parameters) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;  // 0x440
  info.lpVerb = L"open";
  info.lpFile = W(file);
  info.lpParameters = parameters.empty() ? nullptr : W(parameters);
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&info)) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_NO_ASSOCIATION);
    return false;
  }
  if (info.hProcess != nullptr) ::CloseHandle(info.hProcess);
  return true;
}

bool Open(const std::u16string& file, int depth) {
#ifndef _WIN32_WCE
  if (EndsWithNoCase(file, u".lnk")) {
    if (::GetFileAttributesW(W(file)) == INVALID_FILE_ATTRIBUTES) return false;
    std::u16string command;
    switch (ReadDeviceShortcut(file, &command)) {
      case ShortcutForm::Unreadable: return Fail(ERROR_BAD_FORMAT);
      case ShortcutForm::Other: return ShellExecute(file, {});
      case ShortcutForm::Device: break;
    }
    std::u16string program, args;
    plat::common::SplitCommand(command, &program, &args);
    if (program.empty()) return Fail(ERROR_BAD_FORMAT);
    // A shortcut to itself (or a ring of them) must not recurse for ever.
    if (EndsWithNoCase(program, u".lnk")) {
      if (depth >= 8) return Fail(ERROR_BAD_FORMAT);
      return Open(program, depth + 1);
    }
    return ShellExecute(program, args);
  }
#else
  (void)depth;
#endif
  return ShellExecute(file, {});
}

}  // namespace

namespace plat {

bool CreateProcess(const std::u16string& program, const std::u16string& command_line) {
  common::FaultGate gate(faults::Op::ProcessStart);
  if (gate.failed()) return false;
#ifdef _WIN32_WCE
  std::u16string line = command_line;
#else
  // A desktop child reads its own path from the front of its command line.
  std::u16string line = u"\"" + program + u"\"";
  if (!command_line.empty()) line += u" " + command_line;
#endif
  // CreateProcessW may write into the command line.
  std::vector<wchar_t> writable(line.begin(), line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(W(program), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

bool ShellOpen(const std::u16string& file) {
  common::FaultGate gate(faults::Op::ShellOpen);
  if (gate.failed()) return false;
  return Open(file, 0);
}

}  // namespace plat

namespace plat::common {

std::string ProgramFileName() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::u16string name = win32::U(path).substr(0, length);
  const size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string::npos) name = name.substr(slash + 1);
  return Utf16ToUtf8(name);
}

void KillProgram() {
  ::TerminateProcess(::GetCurrentProcess(), 137);
  ::ExitProcess(137);  // not reached
}

}  // namespace plat::common
