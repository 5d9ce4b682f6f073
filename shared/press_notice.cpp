#include "shared/press_notice.h"

#include "platform/platform.h"
#include "shared/settings.h"
#include "shared/special_actions.h"
#include "shared/text.h"

namespace {

bool EndsWithNoCase(const std::u16string& text, const std::u16string& end) {
  return text.size() >= end.size() && plat::CompareNoCase(text.substr(text.size() - end.size()), end) == 0;
}

}  // namespace

std::u16string PressKindText(int32_t press_count, bool hold) {
  if (press_count >= 2) return hold ? u"double press and hold" : u"double press";
  return hold ? u"press and hold" : u"single press";
}

std::u16string AssignmentShownName(const std::u16string& assignment) {
  if (assignment.empty()) return u"nothing assigned";
  if (FindSpecialAction(assignment) >= 0) return assignment;
  std::u16string name = assignment;
  // A path may end in a separator; its last named part is what a person knows.
  while (!name.empty() && (name.back() == u'\\' || name.back() == u'/')) name.pop_back();
  const size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string::npos) name = name.substr(slash + 1);
  if (EndsWithNoCase(name, u".lnk") && name.size() > 4) name.resize(name.size() - 4);
  return name.empty() ? assignment : name;
}

std::u16string PressNoticeText(const std::u16string& button_name, int32_t press_count, bool hold,
                               const std::u16string& assignment) {
  std::u16string button = OneLineText(button_name, kNoticeButtonChars);
  if (button.empty()) button = u"A button";
  std::u16string shown = OneLineText(AssignmentShownName(assignment), kNoticeAssignmentChars);
  if (shown.empty()) shown = u"nothing assigned";
  return button + u": " + PressKindText(press_count, hold) + u" \u2192 " + shown;
}

bool PressNoticeWanted() { return ReadSettingDword(kPressNoticeValue, plat::OnPc() ? 1 : 0) != 0; }

bool SetPressNoticeWanted(bool wanted) { return WriteSettingDword(kPressNoticeValue, wanted ? 1 : 0); }
