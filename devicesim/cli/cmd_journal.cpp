// devicesim journal / state: what the device did, and how it stands now.
#include <cstdio>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/report.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kJournalHelp[] =
    "usage: devicesim journal [--json] [--clear]\n"
    "\n"
    "Prints what the device did, oldest first: key events, programs started,\n"
    "files opened, message boxes, beeps, input panel, foreground and display\n"
    "changes, button presses. One line per entry: time, process id, event and its\n"
    "fields.\n"
    "  --json    one JSON object per line: {\"t\":ms,\"pid\":n,\"event\":\"...\",...}\n"
    "            with \"t\" in milliseconds since the epoch\n"
    "  --clear   empty the journal after printing it\n";

const char kStateHelp[] =
    "usage: devicesim state\n"
    "\n"
    "Shows the device's state: keys held down, display orientation and rotation\n"
    "support, input panel shown or hidden, the foreground window, whether the\n"
    "desktop window exists, the main windows of the programs that run\n"
    "(which 'devicesim ui' can see and act on), the device's keys beside its\n"
    "button table, the hot keys the programs hold and those they were refused.\n"
    "A button whose presser ended without letting go (a killed series) is up;\n"
    "a hot key whose program ended is free.\n";

int RunJournal(const Args& args);
int RunState(const Args& args);

}  // namespace

const Command kJournalCommand = {"journal", "print (and clear) what the device did", kJournalHelp,
                                 RunJournal};
const Command kStateCommand = {"state", "show keys, display, input panel and windows", kStateHelp,
                               RunState};

namespace {

struct ClearRun {
  int64_t shown = 0;
  std::vector<device::JournalEntry> rest;
};

// Under the registry's write lock no program can journal, so what is read
// here is exactly what the clear removes.
bool ReadRestAndClear(void* context) {
  auto* run = static_cast<ClearRun*>(context);
  return device::ReadJournal(run->shown, &run->rest) && device::ClearJournal();
}

bool Print(const std::vector<device::JournalEntry>& entries, bool json, int64_t* shown) {
  std::string out;
  for (const device::JournalEntry& entry : entries) {
    out += (json ? FormatEntryJson(entry, 0) : FormatEntryText(entry, false, 0)) + "\n";
    *shown = entry.id;
  }
  return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
}

int RunJournal(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kJournalCommand, args, {{"--json", false}, {"--clear", false}}, &parsed);
  if (status >= 0) return status;
  if (!parsed.positional.empty())
    return UsageError(kJournalCommand, "unexpected argument '" + parsed.positional[0] + "'");
  if (!RequireDevice(kJournalCommand)) return kExitFailure;
  bool json = parsed.Has("--json");
  int64_t shown = 0;
  // Printing happens outside any lock, so a slow reader never holds up the
  // device's programs; only the few entries that arrive meanwhile are read
  // together with the clear.
  std::vector<device::JournalEntry> entries;
  if (!device::ReadJournal(shown, &entries))
    return DeviceFailure(kJournalCommand, "cannot read the journal");
  if (!Print(entries, json, &shown))
    return Failure(kJournalCommand, "cannot write to standard output; the journal is kept");
  if (!parsed.Has("--clear")) return kExitOk;
  ClearRun run;
  run.shown = shown;
  if (!device::Transaction(ReadRestAndClear, &run))
    return DeviceFailure(kJournalCommand, "cannot clear the journal");
  if (!Print(run.rest, json, &shown))
    return Failure(kJournalCommand, "cannot write to standard output; " +
                                        std::to_string(run.rest.size()) +
                                        " entries were cleared unprinted");
  return kExitOk;
}

std::string WindowText(plat::Window window, plat::Window desktop) {
  if (window == 0) return "none";
  char text[64];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(window));
  std::string result = text;
  if (window == desktop) result += " (the desktop: Today)";
  return result;
}

// "0xC7 (Side Key)".
std::string KeyText(int virtual_key) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%02X", virtual_key);
  return std::string(code) + " (" + device::ToUtf8(plat::GetKeyName(static_cast<uint32_t>(virtual_key))) + ")";
}

std::string ModifiersText(uint32_t modifiers) {
  std::string text;
  if (modifiers & plat::kModAlt) text += " +Alt";
  if (modifiers & plat::kModControl) text += " +Ctrl";
  if (modifiers & plat::kModShift) text += " +Shift";
  if (modifiers & plat::kModWin) text += " +Win";
  return text;
}

int RunState(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kStateCommand, args, {}, &parsed);
  if (status >= 0) return status;
  if (!parsed.positional.empty())
    return UsageError(kStateCommand, "unexpected argument '" + parsed.positional[0] + "'");
  if (!RequireDevice(kStateCommand)) return kExitFailure;
  std::vector<int> down;
  std::vector<device::DeviceKey> device_keys;
  std::vector<device::HotKey> hot_keys;
  std::vector<device::HotKeyRefusal> refusals;
  std::vector<device::KeyCaptor> captors;
  device::DisplayState display{};
  bool sip_shown = false, desktop_present = false;
  plat::Window foreground = 0;
  // Everything is read before anything is printed: a half-shown state would
  // pass for a whole one.
  if (!device::KeysDown(&down) || !device::GetDisplay(&display) || !device::IsSipShown(&sip_shown) ||
      !device::Foreground(&foreground) || !device::HasDesktopWindow(&desktop_present) ||
      !device::DeviceKeys(&device_keys) || !device::HotKeys(&hot_keys) || !device::HotKeyRefusals(&refusals) ||
      !device::KeyCaptors(&captors))
    return DeviceFailure(kStateCommand, "cannot read the device's state");
  std::string keys;
  for (int key : down) {
    char text[32];
    std::snprintf(text, sizeof text, "%s0x%02X", keys.empty() ? "" : " ", key);
    keys += text;
  }
  int degrees = OrientationDegrees(display.orientation);
  plat::Window desktop = desktop_present ? plat::GetDesktopWindow() : 0;
  std::printf("keys down: %s\n", keys.empty() ? "none" : keys.c_str());
  if (degrees >= 0) {
    std::printf("display: %d degrees, rotation %s\n", degrees,
                display.rotation_supported ? "supported" : "not supported");
  } else {
    std::printf("display: unknown orientation (platform value %u), rotation %s\n",
                display.orientation, display.rotation_supported ? "supported" : "not supported");
  }
  std::printf("input panel: %s\n", sip_shown ? "shown" : "hidden");
  std::printf("foreground window: %s\n", WindowText(foreground, desktop).c_str());
  std::printf("desktop window: %s\n", desktop_present ? "present" : "absent");
  std::vector<device::WindowRecord> windows = device::LiveWindows();
  if (windows.empty()) std::printf("main windows: none\n");
  for (const device::WindowRecord& window : windows)
    std::printf("main window: %s %s (class %s), pid %lld\n", WindowText(window.window, desktop).c_str(),
                device::JsonString(window.title).c_str(), device::ToUtf8(window.class_name).c_str(),
                static_cast<long long>(window.pid));
  std::string keys_text;
  for (const device::DeviceKey& key : device_keys)
    keys_text += (keys_text.empty() ? "" : ", ") + KeyText(key.virtual_key);
  std::printf("device keys: %s\n", keys_text.empty() ? "none beside the button table" : keys_text.c_str());
  if (hot_keys.empty()) std::printf("hot keys: none\n");
  for (const device::HotKey& key : hot_keys)
    std::printf("hot key: %s%s held by pid %lld %s (window %s, id %d)\n", KeyText(key.virtual_key).c_str(),
                ModifiersText(key.modifiers).c_str(), static_cast<long long>(key.pid), key.program.c_str(),
                WindowText(key.window, 0).c_str(), key.id);
  for (const device::HotKeyRefusal& refusal : refusals)
    std::printf("hot key refused: %s%s to pid %lld %s (window %s, id %d): %s%s\n",
                KeyText(refusal.asked.virtual_key).c_str(), ModifiersText(refusal.asked.modifiers).c_str(),
                static_cast<long long>(refusal.asked.pid), refusal.asked.program.c_str(),
                WindowText(refusal.asked.window, 0).c_str(), refusal.asked.id, device::ErrorText(refusal.error).c_str(),
                refusal.holder_pid != 0 ? (", held by pid " + std::to_string(refusal.holder_pid)).c_str() : "");
  for (const device::KeyCaptor& captor : captors)
    std::printf("key taken: %s by pid %lld %s (dialog %s): its presses reach that dialog only\n",
                KeyText(captor.virtual_key).c_str(), static_cast<long long>(captor.pid), captor.program.c_str(),
                WindowText(captor.window, 0).c_str());
  return kExitOk;
}

}  // namespace
}  // namespace devicesim
