// A dialog that reports the keys its procedure learns, for the Xvfb tests:
//   posted  keys posted to the focused control: F6 (not taken), Escape
//           (taken: no cancel follows), Return (not taken: the dialog's OK);
//           prints what the procedure saw, exit code 0 when it was that
//   real    waits for a real key and ends with its virtual key as exit code
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/ui.h"

void DeviceStartUp() {}
void DeviceShutDown() {}

namespace {

constexpr int kProbeDialog = 300;
constexpr int kEdit = 301;
std::string seen;

intptr_t Posted(plat::Window dialog, const plat::DialogMessage& message) {
  HWND window = reinterpret_cast<HWND>(dialog);
  switch (message.event) {
    case plat::DialogEvent::kInit: {
      HWND edit = ::GetDlgItem(window, kEdit);
      ::SetFocus(edit);
      for (WPARAM key : {WPARAM{VK_F6}, WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}}) ::PostMessageW(edit, WM_KEYDOWN, key, 1);
      return 0;  // the focus is set
    }
    case plat::DialogEvent::kKeyDown:
      seen += "key " + std::to_string(message.code) + " " + std::to_string(message.param) + "; ";
      return message.code == VK_ESCAPE ? 1 : 0;
    case plat::DialogEvent::kCommand:
      // The edit box's own notifications are no dialog command.
      if (message.control != IDOK && message.control != IDCANCEL) return 0;
      seen += "command " + std::to_string(message.control) + "; ";
      plat::EndDialog(dialog, message.control);
      return 1;
    default:
      return 0;
  }
}

intptr_t Real(plat::Window dialog, const plat::DialogMessage& message) {
  if (message.event == plat::DialogEvent::kKeyDown) {
    plat::EndDialog(dialog, message.code);
    return 1;
  }
  return 0;
}

}  // namespace

int DeviceMain(const std::u16string& command_line) {
  if (command_line == u"posted") {
    const intptr_t result = plat::RunDialog(0, kProbeDialog, Posted, 0);
    std::printf("%sresult %d\n", seen.c_str(), static_cast<int>(result));
    std::fflush(stdout);  // the platform's exit does not flush the runtime's streams
    return seen == "key 117 0; key 27 0; key 13 0; command 1; " && result == IDOK ? 0 : 1;
  }
  if (command_line == u"real") return static_cast<int>(plat::RunDialog(0, kProbeDialog, Real, 0));
  return 2;
}
