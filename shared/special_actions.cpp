#include "shared/special_actions.h"

#include "platform/platform.h"

namespace {

struct NameTable {
  std::u16string names[kSpecialActionCount];
  NameTable() {
    for (int i = 0; i < kSpecialActionCount; ++i) names[i] = kSpecialActions[i].name;
  }
};

const std::u16string* Names() {
  static const NameTable table;
  return table.names;
}

}  // namespace

const std::u16string& GetSpecialActionName(int index) {
  static const std::u16string empty;
  if (index < 0 || index >= kSpecialActionCount) return empty;
  return Names()[index];
}

int FindSpecialAction(const std::u16string& text) {
  const std::u16string* names = Names();
  for (int i = 0; i < kSpecialActionCount; ++i) {
    if (plat::CompareNoCase(text, names[i]) == 0) return i;
  }
  return -1;
}

const SpecialActionRow* FindKeyAction(int key) {
  for (const SpecialActionRow& row : kSpecialActions) {
    const bool keyed = row.effect == ActionEffect::kKeyPress || row.effect == ActionEffect::kKeyDownOnly;
    if (keyed && row.key == key) return &row;
  }
  return nullptr;
}

bool IsActionOffered(int index, bool on_pc) {
  if (index < 0 || index >= kSpecialActionCount) return false;
  return !(on_pc && kSpecialActions[index].pc == PcUse::kLeftOut);
}

std::u16string LeftOutOnPcText(const std::u16string& name) {
  return u"This key press is assigned \"" + name +
         u"\", which does nothing on a PC. Please run Quadrakey and make another assignment for this key press.";
}
