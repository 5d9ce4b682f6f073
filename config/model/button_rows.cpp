#include "config/model/button_rows.h"

#include "platform/platform.h"
#include "shared/text.h"

bool IsTakenOverCommand(const std::u16string& command) {
  std::u16string lower = command;
  MakeLower(lower);
  return lower.find(u"\\quadrakey\\tapdeck") != std::u16string::npos;
}

std::vector<ButtonRow> ReadButtonRows(LaunchButtons& buttons) {
  std::vector<ButtonRow> rows;
  for (size_t index = 0; index < buttons.GetButtonCount(); ++index) {
    const ButtonRecord& record = buttons.GetButton(index);
    ButtonRow row;
    row.index = index;
    row.letter = static_cast<char16_t>(u'A' + index);
    row.entry = record.Entry();
    row.name = record.Name();
    row.title = record.Title();
    const std::u16string* command = buttons.GetShortcut(static_cast<uint32_t>(index));
    if (command != nullptr) row.command = *command;
    if (command == nullptr) row.command_error = plat::GetLastError();
    row.taken_over = IsTakenOverCommand(row.command);
    rows.push_back(std::move(row));
  }
  return rows;
}
