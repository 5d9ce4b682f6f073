// devicesim tray: the notification icons of running programs, and a
// person's choice from an icon's menu.
#include <cstdio>

#include "devicesim/cli/commands.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kHelp[] =
    "usage: devicesim tray [--json]\n"
    "       devicesim tray choose ITEM [--program NAME]\n"
    "\n"
    "Without a subcommand, lists the icons running programs show in the\n"
    "device's title bar: each one's program, tip and menu (items that cannot\n"
    "be chosen in brackets).\n"
    "  choose ITEM      choose the menu item whose text is ITEM (letter case\n"
    "                   not counting), as a person's tap on the icon and then\n"
    "                   on the item does\n"
    "  --program NAME   the icon of that program (its file name), when more\n"
    "                   than one program shows one\n"
    "  --json           one JSON object per icon\n";

int Run(const Args& args);

}  // namespace

const Command kTrayCommand = {"tray", "list the notification icons, or choose from an icon's menu", kHelp, Run};

namespace {

int List(const std::vector<device::TrayIcon>& icons, bool json) {
  for (const device::TrayIcon& icon : icons) {
    if (json) {
      std::string items;
      for (const device::TrayItem& item : icon.menu) {
        if (!items.empty()) items += ",";
        items += "{\"command\":" + std::to_string(item.command) + ",\"text\":" + device::JsonString(item.text) + "}";
      }
      std::printf("{\"window\":%llu,\"pid\":%lld,\"program\":%s,\"tip\":%s,\"menu\":[%s]}\n",
                  static_cast<unsigned long long>(icon.window), static_cast<long long>(icon.pid),
                  device::JsonString(device::FromUtf8(icon.program)).c_str(), device::JsonString(icon.tip).c_str(),
                  items.c_str());
      continue;
    }
    std::printf("%s (pid %lld): %s\n", icon.program.c_str(), static_cast<long long>(icon.pid),
                device::ToUtf8(icon.tip).c_str());
    for (const device::TrayItem& item : icon.menu) {
      if (item.command == 0 && item.text.empty()) {
        std::printf("  ----\n");
      } else if (item.command == 0) {
        std::printf("  [%s]\n", device::ToUtf8(item.text).c_str());
      } else {
        std::printf("  %s\n", device::ToUtf8(item.text).c_str());
      }
    }
  }
  return kExitOk;
}

int Run(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kTrayCommand, args, {{"--json", false}, {"--program", true}}, &parsed);
  if (status >= 0) return status;
  const bool choose = !parsed.positional.empty() && parsed.positional[0] == "choose";
  if (!parsed.positional.empty() && !choose)
    return UsageError(kTrayCommand, "unknown subcommand '" + parsed.positional[0] + "'");
  if (choose && parsed.positional.size() != 2) return UsageError(kTrayCommand, "choose takes one ITEM");
  if (!RequireDevice(kTrayCommand)) return kExitFailure;
  std::vector<device::TrayIcon> icons;
  if (!device::TrayIcons(&icons)) return DeviceFailure(kTrayCommand, "cannot read the icons");
  if (parsed.Has("--program")) {
    const std::u16string program = device::FromUtf8(parsed.Value("--program"));
    std::erase_if(icons, [&](const device::TrayIcon& icon) {
      const std::u16string name = device::FromUtf8(icon.program);
      return plat::CompareNoCase(name, program) != 0 && plat::CompareNoCase(name, program + u".exe") != 0;
    });
  }
  if (!choose) return List(icons, parsed.Has("--json"));
  if (icons.empty()) return Failure(kTrayCommand, "no program shows an icon");
  if (icons.size() > 1) return Failure(kTrayCommand, "more than one program shows an icon: name one with --program");
  const std::u16string wanted = device::FromUtf8(parsed.positional[1]);
  for (const device::TrayItem& item : icons[0].menu) {
    if (plat::CompareNoCase(item.text, wanted) != 0) continue;
    if (item.command == 0) return Failure(kTrayCommand, "'" + parsed.positional[1] + "' cannot be chosen");
    if (!device::ChooseTrayItem(icons[0], item.command)) return DeviceFailure(kTrayCommand, "cannot choose it");
    return kExitOk;
  }
  return Failure(kTrayCommand, "the menu has no item '" + parsed.positional[1] + "'");
}

}  // namespace
}  // namespace devicesim
