// Starting programs and opening files through the shell.
#include <cstdio>
#include <vector>

#include "platform/win32/win32_api.h"

using win32::Fail;
using win32::W;

namespace {

bool EndsWithNoCase(const std::u16string& text, const std::u16string& tail) {
  return text.size() >= tail.size() &&
         plat::CompareNoCase(text.substr(text.size() - tail.size()), tail) == 0;
}

std::u16string FromUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  int count = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, 0);
  if (count <= 0) return {};
  std::u16string out(static_cast<size_t>(count), u'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(out.data()), count);
  return out;
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
  size_t digits = 0;
  while (digits < bytes.size() && bytes[digits] >= '0' && bytes[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9 || digits >= bytes.size() || bytes[digits] != '#')
    return ShortcutForm::Other;
  size_t length = 0;
  for (size_t i = 0; i < digits; ++i) length = length * 10 + static_cast<size_t>(bytes[i] - '0');
  std::u16string target = FromUtf8(bytes.substr(digits + 1));
  while (!target.empty() && (target.back() == u'\r' || target.back() == u'\n')) target.pop_back();
  if (length > target.size() || length == 0) return ShortcutForm::Unreadable;
  *command = target.substr(0, length);
  return ShortcutForm::Device;
}

// A quoted first token is the program; unquoted, the program runs up to the
// first blank unless the whole command names an existing file.
void SplitCommand(const std::u16string& command, std::u16string* program, std::u16string* args) {
  size_t start = command.find_first_not_of(u' ');
  if (start == std::u16string::npos) {
    program->clear();
    args->clear();
    return;
  }
  size_t rest;
  if (command[start] == u'"') {
    size_t close = command.find(u'"', start + 1);
    if (close == std::u16string::npos) close = command.size();
    *program = command.substr(start + 1, close - start - 1);
    rest = close == command.size() ? close : close + 1;
  } else if (::GetFileAttributesW(W(command.substr(start))) != INVALID_FILE_ATTRIBUTES) {
    *program = command.substr(start);
    rest = command.size();
  } else {
    size_t blank = command.find(u' ', start);
    if (blank == std::u16string::npos) blank = command.size();
    *program = command.substr(start, blank - start);
    rest = blank;
  }
  size_t arg_start = command.find_first_not_of(u' ', rest);
  *args = arg_start == std::u16string::npos ? std::u16string() : command.substr(arg_start);
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
    SplitCommand(command, &program, &args);
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

bool ShellOpen(const std::u16string& file) { return Open(file, 0); }

}  // namespace plat
