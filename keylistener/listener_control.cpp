#include "keylistener/listener_control.h"

#include <string>

#include "platform/platform.h"
#include "platform/ui.h"
#include "shared/text.h"

namespace {

bool Tell(uintptr_t code) {
  const plat::Window listener = plat::FindMessageWindow(kKeyListenerClass);
  if (listener == 0) {
    plat::SetLastError(plat::kErrorInvalidWindowHandle);
    return false;
  }
  return plat::PostWindowMessage(listener, code, 0);
}

}  // namespace

bool IsKeyListenerRunning() { return plat::FindMessageWindow(kKeyListenerClass) != 0; }

bool StartKeyListener() {
  if (Tell(kListenerReadList)) return true;
  // A listener that is starting up has no window yet: the new one finds it
  // holding the single-instance lock and ends, while the first reads the
  // list after this moment anyway.
  const std::u16string program = GetAppFolderPath(kKeyListenerProgram);
  return plat::CreateProcess(program, u"");
}

bool TellKeyListenerListChanged() { return Tell(kListenerReadList); }

bool StopKeyListener() { return Tell(kListenerEnd); }

bool TellKeyListenerNotice(const std::u16string& text) {
  const plat::Window listener = plat::FindMessageWindow(kKeyListenerClass);
  if (listener == 0) {
    plat::SetLastError(plat::kErrorInvalidWindowHandle);
    return false;
  }
  return plat::SendWindowText(listener, kListenerNotice, text);
}

bool WriteKeyListenerSignIn() {
  const std::u16string program = GetAppFolderPath(kKeyListenerProgram);
  return plat::SetSignInStart(kKeyListenerSignInName, program);
}

bool RemoveKeyListenerSignIn() { return plat::RemoveSignInStart(kKeyListenerSignInName); }

bool IsKeyListenerSignedIn() {
  std::u16string program;
  return plat::GetSignInStart(kKeyListenerSignInName, &program);
}
