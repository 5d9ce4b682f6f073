// devicesim buttons: the hardware button table as the configuration program
// sees it.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "config/model/button_rows.h"
#include "config/model/launch_buttons.h"
#include "devicesim/cli/commands.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kButtonsHelp[] =
    "usage: devicesim buttons\n"
    "\n"
    "Lists the hardware buttons of the device's button table\n"
    "(HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys) in button-index order, as the\n"
    "configuration program numbers them: index, table entry, \"Name\", the title\n"
    "of its reset command, whether Quadrakey has taken the button over, and the\n"
    "command the shell runs for it (the reset command when none is set). Entries\n"
    "without a \"ResetCmd\" and hold entries are not buttons and are not listed.\n"
    "The last line gives the Record command, or none. A table that cannot be read\n"
    "whole (a key, value or command that exists but cannot be read) is a failure,\n"
    "never a shorter list.\n";

int RunButtons(const Args& args);

}  // namespace

const Command kButtonsCommand = {"buttons", "list the hardware buttons as tapdeck numbers them",
                                 kButtonsHelp, RunButtons};

namespace {

// Characters on screen: UTF-8 continuation bytes take no room.
size_t Shown(const std::string& text) {
  size_t shown = 0;
  for (unsigned char c : text) shown += (c & 0xC0) != 0x80 ? 1 : 0;
  return shown;
}

std::string Pad(const std::string& text, size_t width) {
  const size_t shown = Shown(text);
  return shown >= width ? text : text + std::string(width - shown, ' ');
}

int RunButtons(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kButtonsCommand, args, {}, &parsed);
  if (status >= 0) return status;
  if (!parsed.positional.empty())
    return UsageError(kButtonsCommand, "unexpected argument '" + parsed.positional[0] + "'");
  if (!RequireDevice(kButtonsCommand)) return kExitFailure;
  // The model reads a table it cannot read as an empty one; say which it is.
  std::vector<std::u16string> entries;
  if (!device::ListSubkeys(plat::RegRoot::LocalMachine, plat::kButtonTableKey, &entries) &&
      plat::GetLastError() != plat::kErrorFileNotFound)
    return DeviceFailure(kButtonsCommand, "cannot read the button table");

  LaunchButtons buttons;
  // A table read with gaps would show other buttons, or other numbers.
  if (buttons.ReadError() != 0) {
    plat::SetLastError(buttons.ReadError());
    return DeviceFailure(kButtonsCommand, "cannot read the button table");
  }
  std::vector<std::vector<std::string>> rows = {
      {"index", "entry", "name", "originally", "quadrakey", "command"}};
  for (const ButtonRow& row : ReadButtonRows(buttons)) {
    if (row.command_error != 0) {
      plat::SetLastError(row.command_error);
      return DeviceFailure(kButtonsCommand, "cannot read the command of " + device::ToUtf8(row.entry));
    }
    rows.push_back({std::to_string(row.index), device::ToUtf8(row.entry), device::ToUtf8(row.name),
                    device::ToUtf8(row.title), row.taken_over ? "yes" : "no", device::ToUtf8(row.command)});
  }

  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows)
    for (size_t column = 0; column < row.size(); ++column)
      widths[column] = std::max(widths[column], Shown(row[column]));

  std::string out;
  if (buttons.GetButtonCount() == 0) {
    out += "no hardware buttons in the button table\n";
  } else {
    for (const auto& row : rows) {
      std::string line;
      for (size_t column = 0; column < row.size(); ++column) {
        line += column + 1 < row.size() ? Pad(row[column], widths[column] + 2) : row[column];
      }
      out += line + "\n";
    }
  }
  const std::u16string* record = buttons.GetRecordCommand();
  out += "Record command: " + (record != nullptr ? device::ToUtf8(*record) : "none") + "\n";

  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
    return Failure(kButtonsCommand, "cannot write to standard output");
  return kExitOk;
}

}  // namespace
}  // namespace devicesim
