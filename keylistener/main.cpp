// TapdeckH: the resident key listener; started by tapdeck, at sign-in, or by
// hand, with no arguments. "/quit" ends a running one and waits for it.
#include <string>

#include "keylistener/key_listener.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kQuitLimitMs = 10000;
constexpr size_t kShownArgumentChars = 60;

std::u16string Trimmed(const std::u16string& text) {
  const size_t first = text.find_first_not_of(u" \t");
  if (first == std::u16string::npos) return {};
  return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

// The argument as a message can show it: control characters as '?', cut.
std::u16string Shown(const std::u16string& text) {
  std::u16string shown;
  for (char16_t c : text) {
    if (shown.size() == kShownArgumentChars) return shown + u"...";
    shown += (c < 0x20 || c == 0x7F) ? u'?' : c;
  }
  return shown;
}

}  // namespace

int DeviceMain(const std::u16string& command_line) {
  const std::u16string argument = Trimmed(command_line);
  if (argument.empty()) return RunKeyListener();
  if (plat::CompareNoCase(argument, u"/quit") == 0) return QuitRunningListener(kQuitLimitMs);
  const std::u16string caption = u"Quadrakey";
  plat::MessageBox(u"The key listener does not know \"" + Shown(argument) +
                       u"\". Start it without arguments to listen, or with /quit to end the one that runs.",
                   &caption, plat::kMbOk | plat::kMbIconStop);
  return 2;
}
