#include "shared/press_notice.h"

#include "platform/platform.h"
#include "shared/settings.h"
#include "shared/special_actions.h"

namespace {

constexpr char16_t kEllipsis = u'\u2026';

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// One line of at most `limit` characters: what would break the line or
// draw nothing readable becomes a space, and the end of a cut text shows it.
std::u16string Shortened(const std::u16string& text, size_t limit) {
  std::u16string line;
  for (char16_t c : text) line += (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) ? u' ' : c;
  const size_t first = line.find_first_not_of(u' ');
  if (first == std::u16string::npos) return {};
  line = line.substr(first, line.find_last_not_of(u' ') - first + 1);
  if (line.size() <= limit) return line;
  line.resize(limit - 1);
  if (IsHighSurrogate(line.back())) line.pop_back();
  return line + kEllipsis;
}

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
  std::u16string button = Shortened(button_name, kNoticeButtonChars);
  if (button.empty()) button = u"A button";
  std::u16string shown = Shortened(AssignmentShownName(assignment), kNoticeAssignmentChars);
  if (shown.empty()) shown = u"nothing assigned";
  return button + u": " + PressKindText(press_count, hold) + u" \u2192 " + shown;
}

bool PressNoticeWanted() { return ReadSettingDword(kPressNoticeValue, plat::OnPc() ? 1 : 0) != 0; }

bool SetPressNoticeWanted(bool wanted) { return WriteSettingDword(kPressNoticeValue, wanted ? 1 : 0); }
