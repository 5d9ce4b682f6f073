#include "keylistener/listener_icon.h"

#include "shared/text.h"

namespace {

// A menu line holds one name: 40 characters of it, and the mark of a cut.
constexpr size_t kShownNameChars = 41;

std::u16string Keys(size_t count) { return DecimalText(static_cast<uint32_t>(count)) + (count == 1 ? u" key" : u" keys"); }

}  // namespace

ListenerIcon DescribeListener(const std::vector<ListenedButton>& buttons, bool paused) {
  ListenerIcon icon;
  size_t listening = 0, held = 0;
  for (const ListenedButton& button : buttons) {
    const std::u16string line =
        OneLineText(button.name, kShownNameChars) + u" (" + plat::GetKeyName(button.key_code) + u")";
    if (paused) {
      icon.menu.push_back({0, line + u": paused"});
    } else if (button.listening) {
      ++listening;
      icon.menu.push_back({0, line});
    } else if (button.held_elsewhere) {
      ++held;
      icon.menu.push_back({0, line + u": held by another program, tried again"});
    }
  }
  if (paused) {
    icon.tip = u"Quadrakey: paused";
  } else {
    icon.tip = u"Quadrakey: listening to " + Keys(listening);
    if (held > 0) icon.tip += u", " + DecimalText(static_cast<uint32_t>(held)) + u" held by another program";
  }
  if (!icon.menu.empty()) icon.menu.push_back({0, u""});
  icon.menu.push_back({kIconOpenTapdeck, kOpenTapdeckText});
  icon.menu.push_back({kIconPause, paused ? kResumeText : kPauseText});
  icon.menu.push_back({kIconQuit, kQuitText});
  return icon;
}
