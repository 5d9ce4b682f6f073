// devicesim init: a stock Pocket PC as it comes out of the box.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/devicefs.h"
#include "devicesim/cli/install.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kHelp[] =
    "usage: devicesim init [--force] [--no-rotation]\n"
    "\n"
    "Makes a stock Pocket PC in the device folder: the shell's hardware button\n"
    "table (HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys: Button 1..4, Record, a hold entry\n"
    "and an entry without a reset command), keys the table does not have (Volume\n"
    "Up 0x75, Volume Down 0x76, Side Key 0xC7), the Start Menu with its shortcuts and\n"
    "the stock programs they start (placeholders, only journalled when started),\n"
    "the Record link, document associations in HKCR, a few documents in\n"
    "\\My Documents, and the application folder (\"AppFolder\" =\n"
    "\\Program Files\\Quadrakey). Device programs found beside devicesim are\n"
    "installed into it (see 'devicesim install').\n"
    "\n"
    "  --force        replace an existing device (its registry, files and journal)\n"
    "  --no-rotation  a display that cannot rotate (else rotation is supported and\n"
    "                 the display is at 0 degrees)\n";

int Run(const Args& args);

// What a device folder holds; --force removes exactly these, never the folder
// itself, which may be one the user keeps other things in.
const char* const kDeviceParts[] = {"registry.db", "registry.db-wal", "registry.db-shm",
                                    "registry.db-journal", "fs", "locks"};

struct ButtonEntry {
  const char16_t* key;
  const char16_t* name;
  const char16_t* reset_command;  // nullptr: the entry has none
  const char16_t* command;
};

// Quoted and unquoted commands are mixed on purpose: real tables hold both.
const ButtonEntry kButtons[] = {
    {u"40C1", u"Button 1", u"\"\\Windows\\Start Menu\\Calendar.lnk\"", nullptr},
    {u"40C2", u"Button 2", u"\\Windows\\Start Menu\\Contacts.lnk", nullptr},
    {u"40C3", u"Button 3", u"\"\\Windows\\Start Menu\\Tasks.lnk\"", nullptr},
    {u"40C4", u"Button 4", u"\\Windows\\Start Menu\\Notes.lnk", nullptr},
    {u"40C5", u"Record", u"\"\\Windows\\AppButtons\\Record.lnk\"", nullptr},
    {u"80C1", u"Button 1 (Hold)", u"\\Windows\\Start Menu\\Programs\\Accessories\\Calculator.lnk",
     nullptr},
    {u"40C6", u"Button 5", nullptr, u"\"\\Windows\\Start Menu\\Programs\\Games\\Solitaire.lnk\""},
};

// Keys a Pocket PC has beside the buttons of its table, which the shell
// does not take: a program may take them as hot keys. Volume up and down are
// F6 and F7 on a Pocket PC.
const std::vector<device::DeviceKey> kDeviceKeys = {
    {0x75, u"Volume Up"},
    {0x76, u"Volume Down"},
    {0xC7, u"Side Key"},
};

struct StockShortcut {
  const char16_t* path;
  const char16_t* target;
};

const StockShortcut kShortcuts[] = {
    {u"\\Windows\\Start Menu\\Calendar.lnk", u"\\Windows\\calendar.exe"},
    {u"\\Windows\\Start Menu\\Contacts.lnk", u"\"\\Windows\\addrbook.exe\""},
    {u"\\Windows\\Start Menu\\Tasks.lnk", u"\\Windows\\tasks.exe"},
    {u"\\Windows\\Start Menu\\Notes.LNK", u"\"\\Windows\\notes.exe\""},
    {u"\\Windows\\Start Menu\\Inbox.lnk", u"\\Windows\\tmail.exe"},
    {u"\\Windows\\Start Menu\\Settings.lnk", u"\\Windows\\ctlpnl.exe"},
    {u"\\Windows\\Start Menu\\Programs\\Word.lnk", u"\"\\Windows\\pword.exe\""},
    {u"\\Windows\\Start Menu\\Programs\\File Explorer.lnk", u"\\Windows\\fexplore.exe"},
    {u"\\Windows\\Start Menu\\Programs\\Pictures.lnk", u"\"\\Windows\\pictures.exe\""},
    {u"\\Windows\\Start Menu\\Programs\\Games\\Solitaire.lnk", u"\\Windows\\solitare.exe"},
    {u"\\Windows\\Start Menu\\Programs\\Games\\Bubble Breaker.lnk", u"\\Windows\\bubble.exe"},
    {u"\\Windows\\Start Menu\\Programs\\Accessories\\Calculator.lnk", u"\\Windows\\calc.exe"},
    {u"\\Windows\\Start Menu\\Programs\\Accessories\\Tools\\Clock.lnk", u"\"\\Windows\\clock.exe\""},
    {u"\\Windows\\Start Menu\\Programs\\.hidden\\Diagnostics.lnk", u"\\Windows\\diag.exe"},
    {u"\\Windows\\AppButtons\\Record.lnk", u"\\Windows\\recorder.exe"},
};

const char16_t* const kStockPrograms[] = {
    u"calendar.exe", u"addrbook.exe", u"tasks.exe",    u"notes.exe",  u"tmail.exe",
    u"ctlpnl.exe",   u"pword.exe",    u"fexplore.exe", u"pictures.exe", u"solitare.exe",
    u"bubble.exe",   u"calc.exe",     u"clock.exe",    u"diag.exe",   u"recorder.exe",
    u"browser.exe",
};

struct PlainFile {
  const char16_t* path;
  const char* content;
};

const PlainFile kFiles[] = {
    {u"\\Windows\\Start Menu\\Programs\\setup.exe", "stock device program placeholder: setup.exe\n"},
    {u"\\Windows\\Start Menu\\Programs\\readme.txt", "Programs you install appear in this folder.\n"},
    {u"\\My Documents\\Shopping list.txt", "milk\nbread\ncoffee\n"},
    {u"\\My Documents\\Meeting notes.txt", "Agenda: button assignments.\n"},
    {u"\\My Documents\\Welcome.htm", "<html><body><p>Welcome</p></body></html>\n"},
    {u"\\My Documents\\Beach.jpg", "\xFF\xD8\xFF\xE0placeholder picture\xFF\xD9"},
};

struct Association {
  const char16_t* extension;
  const char16_t* file_class;
  const char16_t* description;
  const char16_t* command;
};

const Association kAssociations[] = {
    {u".txt", u"txtfile", u"Text Document", u"\"\\Windows\\pword.exe\" \"%1\""},
    {u".htm", u"htmlfile", u"HTML Document", u"\\Windows\\browser.exe \"%1\""},
    {u".html", u"htmlfile", u"HTML Document", u"\\Windows\\browser.exe \"%1\""},
    {u".jpg", u"jpegfile", u"JPEG Image", u"\"\\Windows\\pictures.exe\" \"%1\""},
};

struct Filler {
  std::string error;

  bool Set(plat::RegRoot root, const std::u16string& path, const std::u16string& name,
           uint32_t type, const std::string& data) {
    if (!error.empty()) return false;
    plat::RegKey key = plat::RegCreateKey(root, path, plat::kKeySetValue);
    bool ok = key != nullptr &&
              plat::RegSetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
    uint32_t code = plat::GetLastError();
    if (key != nullptr) plat::RegCloseKey(key);
    if (!ok) error = "cannot write " + device::ToUtf8(path) + " (error " + std::to_string(code) + ")";
    return ok;
  }
  bool Text(plat::RegRoot root, const std::u16string& path, const std::u16string& name,
            const std::u16string& text) {
    return Set(root, path, name, plat::kRegSz, device::RegTextData(text));
  }
  bool Dword(plat::RegRoot root, const std::u16string& path, const std::u16string& name,
             uint32_t number) {
    std::string data;
    for (int k = 0; k < 4; ++k) data += static_cast<char>((number >> (8 * k)) & 0xFF);
    return Set(root, path, name, plat::kRegDword, data);
  }
};

bool FillRegistry(void* context) {
  auto* filler = static_cast<Filler*>(context);
  const auto hklm = plat::RegRoot::LocalMachine;
  const auto hkcr = plat::RegRoot::ClassesRoot;
  for (const ButtonEntry& entry : kButtons) {
    std::u16string path = std::u16string(plat::kButtonTableKey) + u"\\" + entry.key;
    const char16_t* command = entry.command != nullptr ? entry.command : entry.reset_command;
    filler->Text(hklm, path, u"", command);
    if (entry.reset_command != nullptr) filler->Text(hklm, path, u"ResetCmd", entry.reset_command);
    filler->Text(hklm, path, u"Name", entry.name);
    filler->Dword(hklm, path, u"Flags", 0);
  }
  filler->Text(hklm, u"Software\\Quadrakey", u"AppFolder", u"\\Program Files\\Quadrakey");
  for (const Association& association : kAssociations) {
    filler->Text(hkcr, association.extension, u"", association.file_class);
    filler->Text(hkcr, association.file_class, u"", association.description);
    filler->Text(hkcr, std::u16string(association.file_class) + u"\\shell\\open\\command", u"",
                 association.command);
  }
  return filler->error.empty();
}

bool FillFiles(std::string* error) {
  for (const char16_t* program : kStockPrograms) {
    std::string content = "stock device program placeholder: " + device::ToUtf8(program) + "\n";
    if (!WriteDeviceFile(std::u16string(u"\\Windows\\") + program, content, error)) return false;
  }
  for (const StockShortcut& shortcut : kShortcuts) {
    if (!MakeDeviceFolder(ParentOf(shortcut.path), error)) return false;
    if (!plat::CreateShortcut(shortcut.path, shortcut.target)) {
      *error = "cannot write the shortcut " + device::ToUtf8(shortcut.path) + " (error " +
               std::to_string(plat::GetLastError()) + ")";
      return false;
    }
  }
  for (const PlainFile& file : kFiles) {
    if (!WriteDeviceFile(file.path, file.content, error)) return false;
  }
  return MakeDeviceFolder(u"\\Program Files\\Quadrakey", error);
}

bool RemoveDeviceParts(std::string* error) {
  namespace fs = std::filesystem;
  for (const char* part : kDeviceParts) {
    std::error_code code;
    fs::remove_all(fs::path(device::Folder()) / part, code);
    if (code) {
      *error = "cannot remove " + (fs::path(device::Folder()) / part).string() + ": " + code.message();
      return false;
    }
  }
  return true;
}

int Run(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kInitCommand, args, {{"--force", false}, {"--no-rotation", false}},
                                &parsed);
  if (status >= 0) return status;
  if (!parsed.positional.empty())
    return UsageError(kInitCommand, "unexpected argument '" + parsed.positional[0] + "'");
  std::string error;
  if (device::Exists()) {
    if (!parsed.Has("--force"))
      return Failure(kInitCommand, "a device already exists in " + device::Folder() +
                                       " (use --force to replace it)");
    if (!RemoveDeviceParts(&error)) return Failure(kInitCommand, error);
  }
  if (!device::Create(&error)) return Failure(kInitCommand, "cannot make a device: " + error);

  Filler filler;
  bool ok = device::Transaction(FillRegistry, &filler);
  if (!ok && filler.error.empty()) filler.error = "the device's registry refused the stock contents";
  error = filler.error;
  if (ok) ok = FillFiles(&error);
  if (ok && !device::SetDeviceKeys(kDeviceKeys)) {
    ok = false;
    error = "cannot store the device's keys: " + device::ErrorText(plat::GetLastError());
  }
  if (ok) {
    std::vector<int> keys;
    ok = device::SetDisplay({plat::kDmdo0, !parsed.Has("--no-rotation")}) &&
         device::SetSipShown(false) && device::SetHasDesktopWindow(true) && device::KeysDown(&keys);
    for (int key : keys) ok = ok && device::SetKeyDown(key, false);
    if (!ok) error = "cannot set the device's state: " + device::ErrorText(plat::GetLastError());
  }
  if (!ok) {
    // A half-made device would pass for a whole one next time.
    std::string ignored;
    RemoveDeviceParts(&ignored);
    return Failure(kInitCommand, error);
  }
  std::printf("made a stock device in %s\n", device::Folder().c_str());

  InstallResult installed;
  bool install_ok = InstallPrograms(OwnFolder(), &installed, &error);
  for (const std::string& line : installed.installed) std::printf("installed %s\n", line.c_str());
  if (installed.installed.empty())
    std::printf("no device programs beside devicesim yet; run 'devicesim install BUILD_DIR'\n");
  if (!install_ok) return Failure(kInitCommand, "the device is made, but " + error);
  return kExitOk;
}

}  // namespace

const Command kInitCommand = {"init", "make a stock Pocket PC in the device folder", kHelp, Run};

}  // namespace devicesim
