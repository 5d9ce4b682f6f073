// The special actions: what an assignment may name instead of a file. The
// name is what the settings store keeps; the number is the action's place in
// the table, which the launcher dispatches on and the pages list in order.
#pragma once

#include <cstddef>
#include <string>

enum class SpecialAction : int {
  kRecord,
  kToday,
  kInputPanel,
  kStartMenu,
  kRotateScreen,
  kScrollUp,
  kScrollDown,
  kPageUp,
  kPageDown,
  kOkEnter,
  kEscCancel,
  kOpenFile,
  kPowerOff,
  kDoNothing,
  kCount
};

struct SpecialActionRow {
  SpecialAction action;
  const char16_t* name;
};

// The one table of names, in index order.
inline constexpr SpecialActionRow kSpecialActions[] = {
    {SpecialAction::kRecord, u"<Record>"},
    {SpecialAction::kToday, u"<Today>"},
    {SpecialAction::kInputPanel, u"<Input Panel>"},
    {SpecialAction::kStartMenu, u"<Start Menu>"},
    {SpecialAction::kRotateScreen, u"<Rotate Screen>"},
    {SpecialAction::kScrollUp, u"<Scroll Up>"},
    {SpecialAction::kScrollDown, u"<Scroll Down>"},
    {SpecialAction::kPageUp, u"<Page Up>"},
    {SpecialAction::kPageDown, u"<Page Down>"},
    {SpecialAction::kOkEnter, u"<OK/Enter>"},
    {SpecialAction::kEscCancel, u"<ESC/Cancel>"},
    {SpecialAction::kOpenFile, u"<Open File>"},
    {SpecialAction::kPowerOff, u"<Power Off>"},
    {SpecialAction::kDoNothing, u"<Do Nothing>"},
};

inline constexpr int kSpecialActionCount = static_cast<int>(SpecialAction::kCount);

namespace special_actions_detail {
constexpr bool RowsInEnumOrder() {
  for (int i = 0; i < kSpecialActionCount; ++i)
    if (static_cast<int>(kSpecialActions[i].action) != i) return false;
  return true;
}
}  // namespace special_actions_detail
static_assert(sizeof(kSpecialActions) / sizeof(kSpecialActions[0]) == kSpecialActionCount,
              "one row per special action");
static_assert(special_actions_detail::RowsInEnumOrder(), "rows in the order of their numbers");

// The name for 0..13, else the empty text.
const std::u16string& GetSpecialActionName(int index);
inline const std::u16string& GetSpecialActionName(SpecialAction action) {
  return GetSpecialActionName(static_cast<int>(action));
}
// Index of the name equal to `text` ignoring letter case, else -1.
int FindSpecialAction(const std::u16string& text);
