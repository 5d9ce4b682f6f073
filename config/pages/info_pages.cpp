// The "Help" and "About" pages: text only.
#include "config/resource.h"
#include "config/pages/pages.h"
#include "platform/ui.h"

namespace {

// Replaces the template's own first line, which names no released version.
// Three short lines: the label holds three lines of its font, and a longer
// one would wrap and push the last out of sight.
constexpr char16_t kVersionText[] =
    u"Quadrakey 2.1\n"
    u"Free software for Pocket PC\n"
    u"quadrakey.example.com";

}  // namespace

intptr_t HelpPageProc(plat::Window, const plat::DialogMessage&) { return 0; }

intptr_t AboutPageProc(plat::Window page, const plat::DialogMessage& message) {
  if (message.event == plat::DialogEvent::kInit) plat::SetControlText(page, IDC_VERSION, kVersionText);
  return 0;
}
