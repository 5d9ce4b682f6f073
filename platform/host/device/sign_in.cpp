// Programs that start at sign-in: on the device, the shortcuts of the
// shell's StartUp folder, which it opens after every reset.
#include <errno.h>
#include <sys/stat.h>

#include "platform/common/fault_gate.h"
#include "platform/common/shell_text.h"
#include "platform/host/device/host_internal.h"

using namespace device::internal;

namespace {

const char16_t kStartUpFolder[] = u"\\Windows\\StartUp";

std::u16string EntryPath(const std::u16string& name) { return std::u16string(kStartUpFolder) + u"\\" + name + u".lnk"; }

bool MakeStartUpFolder() {
  for (const std::u16string& folder : {std::u16string(u"\\Windows"), std::u16string(kStartUpFolder)}) {
    const uint32_t attributes = plat::GetFileAttributes(folder);
    if (attributes != plat::kInvalidFileAttributes) {
      if ((attributes & plat::kFileAttributeDirectory) == 0) return Fail(plat::kErrorPathNotFound);
      continue;
    }
    if (mkdir(device::HostPath(folder).c_str(), 0777) != 0 && errno != EEXIST) return Fail(FromErrno(errno));
  }
  return true;
}

}  // namespace

namespace plat {

bool SetSignInStart(const std::u16string& name, const std::u16string& program) {
  common::FaultGate gate(faults::Op::SignInEntry);
  if (gate.failed()) return false;
  if (!common::IsSignInName(name) || program.empty()) return Fail(kErrorInvalidParameter);
  if (!device::Exists()) return Fail(kErrorPathNotFound);
  return MakeStartUpFolder() && CreateShortcut(EntryPath(name), u"\"" + program + u"\"");
}

bool RemoveSignInStart(const std::u16string& name) {
  common::FaultGate gate(faults::Op::SignInEntry);
  if (gate.failed()) return false;
  if (!common::IsSignInName(name)) return Fail(kErrorInvalidParameter);
  if (DeleteFile(EntryPath(name))) return true;
  const uint32_t error = GetLastError();
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
    SetLastError(kErrorSuccess);
    return true;
  }
  return false;
}

bool GetSignInStart(const std::u16string& name, std::u16string* program) {
  if (!common::IsSignInName(name) || program == nullptr) return Fail(kErrorInvalidParameter);
  TextFile file = OpenTextFile(EntryPath(name), "rt");
  if (file == nullptr) {
    if (GetLastError() == kErrorPathNotFound) SetLastError(kErrorFileNotFound);
    return false;
  }
  std::string bytes;
  const bool read = ReadTextFile(file, &bytes);
  CloseTextFile(file);
  std::u16string command, args;
  if (!read || !common::ParseShortcutText(bytes, &command)) return Fail(kErrorBadFormat);
  common::SplitCommand(command, program, &args);
  return true;
}

}  // namespace plat
