// devicesim as a user drives it: the real program, on temporary device folders.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/devicesim/run_program.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// UTF-16LE with a byte order mark, as the Windows registry editor saves.
std::string Utf16File(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

class DevicesimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qkdevsim.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    folder_ = root_ + "/device";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  ProgramRun Sim(std::vector<std::string> args, const std::string& input = {}) {
    return SimOn(folder_, std::move(args), input);
  }
  static ProgramRun SimOn(const std::string& folder, std::vector<std::string> args,
                          const std::string& input = {}) {
    args.insert(args.begin(), {DEVICESIM_PATH, "--device", folder});
    return RunProgram(args, input);
  }
  void Init(const std::string& folder) {
    ProgramRun run = SimOn(folder, {"init"});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  std::string Get(const std::string& key, const std::string& name) {
    ProgramRun run = Sim({"reg", "get", key, name});
    EXPECT_EQ(run.status, 0) << key << " " << name << ": " << run.err;
    if (!run.out.empty() && run.out.back() == '\n') run.out.pop_back();
    return run.out;
  }
  std::string Export() {
    ProgramRun run = Sim({"reg", "export"});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }
  std::string HostPath(const std::string& device_path) {
    ProgramRun run = Sim({"path", device_path});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out.substr(0, run.out.find('\n'));
  }

  std::string root_;
  std::string folder_;
};

const char kKeys[] = "HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys";

TEST_F(DevicesimTest, InitMakesAStockPocketPc) {
  Init(folder_);
  std::string keys = kKeys;
  EXPECT_EQ(Get(keys + "\\40C1", "Name"), "Button 1");
  EXPECT_EQ(Get(keys + "\\40c4", "name"), "Button 4");  // names ignore case
  EXPECT_NE(Get(keys + "\\40C1", "ResetCmd").find("Calendar.lnk"), std::string::npos);
  EXPECT_NE(Get(keys + "\\40C2", "ResetCmd").find("Contacts.lnk"), std::string::npos);
  EXPECT_NE(Get(keys + "\\40C3", "ResetCmd").find("Tasks.lnk"), std::string::npos);
  EXPECT_NE(Get(keys + "\\40C4", "ResetCmd").find("Notes.lnk"), std::string::npos);
  EXPECT_NE(Get(keys + "\\40C5", "ResetCmd").find("\\Record.lnk"), std::string::npos);
  EXPECT_EQ(Get(keys + "\\40C1", "Flags"), "0");
  EXPECT_EQ(Get(keys + "\\40C1", "@"), Get(keys + "\\40C1", "ResetCmd"));
  EXPECT_EQ(Get("HKLM\\Software\\Quadrakey", "AppFolder"), "\\Program Files\\Quadrakey");
  EXPECT_TRUE(fs::is_directory(HostPath("\\Program Files\\Quadrakey")));

  // The button table holds a hold entry, and quoted as well as bare commands.
  std::string table = Sim({"reg", "export", keys}).out;
  EXPECT_NE(table.find("(Hold)"), std::string::npos);
  EXPECT_NE(table.find("@=\"\\\"\\\\Windows"), std::string::npos);
  EXPECT_NE(table.find("@=\"\\\\Windows"), std::string::npos);

  // Every shortcut in the Start Menu names a stock program that exists.
  int shortcuts = 0;
  bool saw_mixed_case = false, saw_dot_folder = false, saw_nested = false;
  std::string start_menu = HostPath("\\Windows\\Start Menu");
  for (const auto& item : fs::recursive_directory_iterator(start_menu)) {
    std::string name = item.path().filename().string();
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() < 4 || lower.substr(lower.size() - 4) != ".lnk") continue;
    ++shortcuts;
    saw_mixed_case |= name == "Notes.LNK";
    saw_dot_folder |= item.path().string().find("/.hidden/") != std::string::npos;
    saw_nested |= item.path().string().find("/Programs/Accessories/Tools/") != std::string::npos;
    std::string text = ReadFile(item.path().string());
    size_t hash = text.find('#');
    ASSERT_NE(hash, std::string::npos) << name;
    std::string target = text.substr(hash + 1);
    EXPECT_EQ(std::to_string(target.size()), text.substr(0, hash)) << name;
    std::string program = target[0] == '"' ? target.substr(1, target.find('"', 1) - 1)
                                           : target.substr(0, target.find(' '));
    EXPECT_TRUE(fs::is_regular_file(HostPath(program))) << name << " -> " << program;
  }
  EXPECT_GE(shortcuts, 8);
  EXPECT_TRUE(saw_mixed_case && saw_dot_folder && saw_nested);
  EXPECT_TRUE(fs::is_regular_file(HostPath("\\Windows\\Start Menu\\Programs\\setup.exe")));
  EXPECT_TRUE(fs::is_regular_file(HostPath("\\Windows\\Start Menu\\Programs\\readme.txt")));
  EXPECT_TRUE(fs::is_regular_file(HostPath("\\Windows\\AppButtons\\Record.lnk")));

  // Documents open through their class's command.
  for (const char* extension : {".txt", ".htm", ".html", ".jpg"}) {
    std::string file_class = Get(std::string("HKCR\\") + extension, "@");
    ASSERT_FALSE(file_class.empty()) << extension;
    EXPECT_NE(Get("HKCR\\" + file_class + "\\shell\\open\\command", "@").find("\"%1\""),
              std::string::npos);
  }
  EXPECT_FALSE(fs::is_empty(HostPath("\\My Documents")));
  EXPECT_EQ(Sim({"display"}).out, "orientation: 0 degrees\nrotation: supported\n");
}

TEST_F(DevicesimTest, InitRefusesAnExistingDeviceUnlessForced) {
  Init(folder_);
  ASSERT_EQ(Sim({"reg", "set", "HKLM\\Software\\Quadrakey", "Mine", "--dword", "7"}).status, 0);
  WriteFile(root_ + "/device/notes-of-the-user.txt", "keep me");

  ProgramRun again = Sim({"init"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("--force"), std::string::npos);
  EXPECT_EQ(Get("HKLM\\Software\\Quadrakey", "Mine"), "7");

  ProgramRun forced = Sim({"init", "--force", "--no-rotation"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(Sim({"reg", "get", "HKLM\\Software\\Quadrakey", "Mine"}).status, 1);
  EXPECT_EQ(Get("HKLM\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C2", "Name"), "Button 2");
  EXPECT_EQ(Sim({"display"}).out, "orientation: 0 degrees\nrotation: not supported\n");
  // Only the device's own parts are replaced, never the folder around them.
  EXPECT_EQ(ReadFile(root_ + "/device/notes-of-the-user.txt"), "keep me");
}

TEST_F(DevicesimTest, UsageErrorsExitTwoAndFailuresExitOne) {
  const std::vector<std::vector<std::string>> usage_errors = {
      {},
      {"frobnicate"},
      {"--bogus", "state"},
      {"init", "--bogus"},
      {"reg"},
      {"reg", "get"},
      {"reg", "get", "HKCU\\Software"},
      {"reg", "get", "HKLM\\a\\\\b"},
      {"reg", "set", "HKLM\\a\nb", "n", "--sz", "x"},
      {"reg", "set", "HKLM\\x", "n"},
      {"reg", "set", "HKLM\\x", "n", "--sz", "a", "--dword", "1"},
      {"reg", "set", "HKLM\\x", "n", "--dword", "abc"},
      {"reg", "set", "HKLM\\x", "n", "--dword", "4294967296"},
      {"reg", "set", "HKLM\\x", "n", "--dword", "-1"},
      {"reg", "set", "HKLM\\x", "n", "--binary", "0g"},
      {"reg", "set", "HKLM\\x", "n", "--binary", "123"},
      {"reg", "import"},
      {"display", "--orientation", "45"},
      {"display", "--rotation", "maybe"},
      {"press"},
      {"press", "40C1", "--hold", "-5"},
      {"press", "40C1", "--hold", "10x"},
      {"series", "40C1"},
      {"series", "40C1", "50", "100"},
      {"series", "40C1", "50", "x", "50"},
      {"press", "40C1", "--timeout", "0"},
      {"path", "Windows\\x"},
      {"path", "\\Windows\\..\\..\\etc\\passwd"},
      {"shortcut", "\\..\\evil.lnk", "\\Windows\\calc.exe"},
      {"shortcut", "\\Windows\\x.lnk"},
      {"journal", "extra"},
  };
  Init(folder_);
  for (const auto& args : usage_errors) {
    ProgramRun run = Sim(args);
    std::string line;
    for (const auto& arg : args) line += arg + " ";
    EXPECT_EQ(run.status, 2) << line << "\n" << run.err;
    EXPECT_FALSE(run.err.empty()) << line;
  }
  EXPECT_EQ(RunProgram({DEVICESIM_PATH, "--device"}).status, 2);

  const std::vector<std::vector<std::string>> failures = {
      {"reg", "get", "HKLM\\No\\Such\\Key"},
      {"reg", "get", "HKLM\\Software\\Quadrakey", "NoSuchValue"},
      {"reg", "delete", "HKLM\\No\\Such\\Key"},
      {"reg", "delete", "HKLM\\Software\\Quadrakey", "NoSuchValue"},
      {"reg", "export", "HKCR\\.nosuch"},
      {"reg", "import", root_ + "/missing.reg"},
      {"reg", "import", root_},
      {"press", "40C9"},
      {"install", root_ + "/no-such-build"},
  };
  for (const auto& args : failures) {
    ProgramRun run = Sim(args);
    EXPECT_EQ(run.status, 1) << args[0] << " " << args[1] << "\n" << run.err;
    EXPECT_FALSE(run.err.empty());
  }

  // Without a device every command says so instead of making one.
  std::string nowhere = root_ + "/nowhere";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"state"}, {"journal"}, {"reg", "export"}, {"press", "40C1"},
        {"display"}, {"path", "\\Windows"}}) {
    ProgramRun run = SimOn(nowhere, args);
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_NE(run.err.find("no device"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(nowhere + "/registry.db"));
}

TEST_F(DevicesimTest, TheDeviceFolderComesFromTheEnvironmentWhenNotGiven) {
  Init(folder_);
  ASSERT_EQ(Sim({"reg", "set", "HKLM\\Software\\Quadrakey", "Here", "--dword", "1"}).status, 0);
  ProgramRun by_variable = RunProgram({DEVICESIM_PATH, "reg", "get", "HKLM\\Software\\Quadrakey", "Here"},
                                      {}, {"QUADRAKEY_DEVICE=" + folder_});
  EXPECT_EQ(by_variable.status, 0) << by_variable.err;
  EXPECT_EQ(by_variable.out, "1\n");

  fs::create_directories(root_ + "/data/quadrakey");
  fs::rename(folder_, root_ + "/data/quadrakey/device");
  ProgramRun by_xdg = RunProgram({DEVICESIM_PATH, "reg", "get", "HKLM\\Software\\Quadrakey", "Here"},
                                 {}, {"XDG_DATA_HOME=" + root_ + "/data"});
  EXPECT_EQ(by_xdg.status, 0) << by_xdg.err;
  EXPECT_EQ(by_xdg.out, "1\n");
}

TEST_F(DevicesimTest, HelpDescribesEveryCommand) {
  ProgramRun overview = RunProgram({DEVICESIM_PATH, "--help"});
  ASSERT_EQ(overview.status, 0);
  for (const char* name : {"init", "display", "install", "reg", "shortcut", "path", "journal",
                           "state", "press", "series", "buttons", "run", "ui"}) {
    EXPECT_NE(overview.out.find(std::string("  ") + name + " "), std::string::npos) << name;
    ProgramRun help = RunProgram({DEVICESIM_PATH, name, "--help"});
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_EQ(help.out.rfind(std::string("usage: devicesim ") + name, 0), 0u) << help.out;
  }
}

TEST_F(DevicesimTest, RegGetSetDelete) {
  Init(folder_);
  const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Test\\Deep";
  ASSERT_EQ(Sim({"reg", "set", key, "Text", "--sz", "a \"quoted\" \\path\\ ü"}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", key, "Count", "--dword", "0x12c"}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", key, "Max", "--dword", "4294967295"}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", key, "Blob", "--binary", "01,ff,7A"}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", key, "@", "--sz", "default"}).status, 0);
  EXPECT_EQ(Get(key, "Text"), "a \"quoted\" \\path\\ ü");
  EXPECT_EQ(Get("hklm\\SOFTWARE\\test\\deep", "COUNT"), "300");
  EXPECT_EQ(Get(key, "Max"), "4294967295");
  EXPECT_EQ(Get(key, "Blob"), "01,ff,7a");
  EXPECT_EQ(Get(key, "@"), "default");

  ProgramRun listing = Sim({"reg", "get", "HKLM\\Software\\Test"});
  EXPECT_EQ(listing.status, 0);
  EXPECT_NE(listing.out.find("subkey: Deep"), std::string::npos);

  // A value changes type when set again.
  ASSERT_EQ(Sim({"reg", "set", key, "Count", "--sz", "many"}).status, 0);
  EXPECT_EQ(Get(key, "Count"), "many");

  EXPECT_EQ(Sim({"reg", "delete", key, "text"}).status, 0);
  EXPECT_EQ(Sim({"reg", "get", key, "Text"}).status, 1);
  EXPECT_EQ(Get(key, "Max"), "4294967295");
  EXPECT_EQ(Sim({"reg", "delete", "HKLM\\Software\\Test"}).status, 0);
  EXPECT_EQ(Sim({"reg", "get", key}).status, 1);
  EXPECT_EQ(Sim({"reg", "delete", "HKLM"}).status, 2);
  EXPECT_EQ(Get("HKLM\\Software\\Quadrakey", "AppFolder"), "\\Program Files\\Quadrakey");
}

TEST_F(DevicesimTest, ExportImportExportIsByteIdentical) {
  Init(folder_);
  const std::string key = "HKLM\\Software\\Quadrakey";
  std::string long_hex;
  for (int i = 0; i < 100; ++i) long_hex += (i ? "," : "") + std::string(i % 2 ? "a5" : "0f");
  ASSERT_EQ(Sim({"reg", "set", key, "Long", "--binary", long_hex}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", key, "Lines", "--sz", "one\ntwo\r\nthree \"q\" \\"}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", key, "Empty", "--binary", ""}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", key, "Name \"with\" = and \\", "--dword", "1"}).status, 0);
  ASSERT_EQ(Sim({"reg", "set", "HKCR\\.txt", "Ünïcode", "--sz", "Ελληνικά кириллица"}).status, 0);

  // A key is exported as it is stored, whatever case the command line used.
  EXPECT_EQ(Sim({"reg", "export", "hklm\\SOFTWARE\\quadrakey"}).out.rfind(
                "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quadrakey]\n", 0),
            0u);

  std::string first = Export();
  EXPECT_EQ(first.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\", 0), 0u);
  EXPECT_NE(first.find("\"Name \\\"with\\\" = and \\\\\"=dword:00000001\n"), std::string::npos);
  EXPECT_NE(first.find("\"Lines\"=\"one\\ntwo\\r\\nthree \\\"q\\\" \\\\\"\n"), std::string::npos);
  EXPECT_NE(first.find("[HKEY_CLASSES_ROOT\\.txt]\n"), std::string::npos);
  // Long data is wrapped as the registry editor wraps it.
  size_t at = first.find("\"Long\"=hex:0f,a5,");
  ASSERT_NE(at, std::string::npos);
  std::vector<std::string> hex_lines = Lines(first.substr(at, first.find("\n\"", at) - at));
  ASSERT_GE(hex_lines.size(), 4u);
  for (size_t i = 0; i < hex_lines.size(); ++i) {
    EXPECT_LE(hex_lines[i].size(), 80u) << hex_lines[i];
    if (i + 1 < hex_lines.size()) {
      EXPECT_EQ(hex_lines[i].back(), '\\');
    }
    if (i > 0) {
      EXPECT_EQ(hex_lines[i].substr(0, 2), "  ");
    }
  }

  // Into the same device, and into another that starts out empty.
  ASSERT_EQ(Sim({"reg", "import", "-"}, first).status, 0);
  EXPECT_EQ(Export(), first);

  std::string other = root_ + "/other";
  Init(other);
  std::string wipe = "Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n";
  for (const char* k : {".txt", ".htm", ".html", ".jpg", "txtfile", "htmlfile", "jpegfile"})
    wipe += std::string("[-HKEY_CLASSES_ROOT\\") + k + "]\n";
  ASSERT_EQ(SimOn(other, {"reg", "import", "-"}, wipe).status, 0);
  EXPECT_EQ(SimOn(other, {"reg", "export"}).out, "Windows Registry Editor Version 5.00\n\n");
  WriteFile(root_ + "/first.reg", first);
  ProgramRun imported = SimOn(other, {"reg", "import", root_ + "/first.reg"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(SimOn(other, {"reg", "export"}).out, first);
}

TEST_F(DevicesimTest, ImportsRegistryEditorFilesInEveryEncoding) {
  Init(folder_);
  const std::string body =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; written by hand, as a user would\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Imported] ; made for the test\r\n"
      "@=\"C:\\\\Program Files\\\\\\\"x\\\"\" ; a \"comment\"\r\n"
      "\"Timeout\"=dword:0000012C ; 300 ms\r\n"
      "\"Data\"=hex:01,02,03,\\\r\n"
      "  04,05\r\n"
      "\"Text as hex\"=hex(1):41,00,42,00,00,00\r\n"
      "\r\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Quadrakey]\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C1]\r\n"
      "\"Flags\"=-\r\n"
      "\r\n";
  const std::vector<std::pair<const char*, std::string>> encodings = {
      {"UTF-16LE", Utf16File(body)},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" + body},
      {"plain", body},
  };
  for (const auto& [label, bytes] : encodings) {
    SCOPED_TRACE(label);
    ASSERT_EQ(Sim({"init", "--force"}).status, 0);
    std::string file = root_ + "/import.reg";
    WriteFile(file, bytes);
    ProgramRun run = Sim({"reg", "import", file});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Get("HKLM\\Software\\Imported", "@"), "C:\\Program Files\\\"x\"");
    EXPECT_EQ(Get("HKLM\\Software\\Imported", "Timeout"), "300");
    EXPECT_EQ(Get("HKLM\\Software\\Imported", "Data"), "01,02,03,04,05");
    EXPECT_EQ(Get("HKLM\\Software\\Imported", "Text as hex"), "AB");
    EXPECT_EQ(Sim({"reg", "get", "HKLM\\Software\\Quadrakey"}).status, 1);
    EXPECT_EQ(Sim({"reg", "get", std::string(kKeys) + "\\40C1", "Flags"}).status, 1);
    EXPECT_EQ(Get(std::string(kKeys) + "\\40C1", "Name"), "Button 1");
  }
}

TEST_F(DevicesimTest, AMalformedImportChangesNothing) {
  Init(folder_);
  std::string before = Export();
  const std::string good =
      "Windows Registry Editor Version 5.00\n\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft]\n"
      "[HKEY_LOCAL_MACHINE\\Software\\New]\n"
      "\"a\"=\"b\"\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {good + "\"c\"=dword:xyz\n", "line 6"},
      {good + "\"c\"=\"unterminated\n", "line 6"},
      {good + "\"c\"=hex:01,zz\n", "line 6"},
      {good + "\"c\"=hex(2):41,00,00,00\n", "hex(2)"},
      {good + "\"c\"=hex(7):41,00,00,00,00,00\n", "REG_MULTI_SZ"},
      {good + "\"c\"=hex:01,\\\n", "end of the file"},
      {good + "[HKEY_CURRENT_USER\\Software]\n", "HKEY_CURRENT_USER"},
      {good + "[HKEY_LOCAL_MACHINE\\Software\n", "line 6"},
      {good + "garbage\n", "line 6"},
      {"REGEDIT5\n\n[HKEY_LOCAL_MACHINE\\Software\\New]\n", "first line"},
      {"Windows Registry Editor Version 5.00\n\n\"orphan\"=\"value\"\n", "line 3"},
  };
  for (const auto& [content, expected] : files) {
    ProgramRun run = Sim({"reg", "import", "-"}, content);
    EXPECT_EQ(run.status, 1) << content;
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing was imported"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Export(), before);
}

TEST_F(DevicesimTest, ARegistryThatRefusesWritesIsReportedNotHidden) {
  const std::vector<std::string> refuse = {"QUADRAKEY_FAULTS=devicesim/registry-write:5"};
  ProgramRun init = RunProgram({DEVICESIM_PATH, "--device", folder_, "init"}, {}, refuse);
  EXPECT_EQ(init.status, 1);
  EXPECT_NE(init.err.find("error 5"), std::string::npos) << init.err;
  // A half-made device is not left behind to pass for a whole one.
  EXPECT_NE(Sim({"state"}).err.find("no device"), std::string::npos);

  Init(folder_);
  std::string before = Export();
  ProgramRun import = RunProgram({DEVICESIM_PATH, "--device", folder_, "reg", "import", "-"},
                                 "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\New]\n\"a\"=\"b\"\n",
                                 refuse);
  EXPECT_EQ(import.status, 1);
  EXPECT_NE(import.err.find("nothing was imported"), std::string::npos) << import.err;
  EXPECT_EQ(Export(), before);
  ProgramRun set = RunProgram({DEVICESIM_PATH, "--device", folder_, "reg", "set", "HKLM\\New", "a", "--sz", "b"},
                              {}, refuse);
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(Export(), before);
}

TEST_F(DevicesimTest, ShortcutAndPath) {
  Init(folder_);
  const std::string target = "\"\\Windows\\calc.exe\" -x";
  ProgramRun made = Sim({"shortcut", "\\Windows\\Start Menu\\Programs\\New Folder\\Mine.lnk", target});
  ASSERT_EQ(made.status, 0) << made.err;
  std::string host = HostPath("\\windows\\START MENU\\programs\\new folder\\mine.lnk");
  EXPECT_EQ(host, folder_ + "/fs/Windows/Start Menu/Programs/New Folder/Mine.lnk");
  EXPECT_EQ(ReadFile(host), std::to_string(target.size()) + "#" + target);
  // Existing names are found whatever their case.
  EXPECT_EQ(HostPath("\\WINDOWS\\start menu\\notes.lnk"), folder_ + "/fs/Windows/Start Menu/Notes.LNK");
}

TEST_F(DevicesimTest, JournalStateAndDisplay) {
  Init(folder_);
  ASSERT_EQ(Sim({"journal", "--clear"}).status, 0);
  EXPECT_EQ(Sim({"journal"}).out, "");

  ProgramRun state = Sim({"state"});
  EXPECT_EQ(state.status, 0);
  EXPECT_NE(state.out.find("keys down: none"), std::string::npos);
  EXPECT_NE(state.out.find("display: 0 degrees, rotation supported"), std::string::npos);
  EXPECT_NE(state.out.find("input panel: hidden"), std::string::npos);
  EXPECT_NE(state.out.find("desktop window: present"), std::string::npos);

  ProgramRun turned = Sim({"display", "--orientation", "270", "--rotation", "off"});
  EXPECT_EQ(turned.out, "orientation: 270 degrees\nrotation: not supported\n");
  EXPECT_NE(Sim({"state"}).out.find("display: 270 degrees, rotation not supported"), std::string::npos);

  ASSERT_EQ(Sim({"press", "40C2", "--hold", "0"}).status, 0);
  std::vector<std::string> plain = Lines(Sim({"journal"}).out);
  ASSERT_FALSE(plain.empty());
  EXPECT_TRUE(std::regex_search(plain[0], std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  pid \d+ +button +name="40C2" vk=194 down=true$)")))
      << plain[0];

  std::vector<std::string> json = Lines(Sim({"journal", "--json", "--clear"}).out);
  ASSERT_EQ(json.size(), plain.size());
  const std::regex object(R"(^\{"t":\d{13},"pid":\d+,"event":"[a-z]+"(,"[a-z_]+":.+)?\}$)");
  for (const std::string& line : json) EXPECT_TRUE(std::regex_match(line, object)) << line;
  EXPECT_NE(json[0].find("\"event\":\"button\",\"name\":\"40C2\",\"vk\":194,\"down\":true"),
            std::string::npos);
  EXPECT_EQ(Sim({"journal"}).out, "");
}

TEST_F(DevicesimTest, ButtonsLogsOnTheChosenDeviceWithoutComplaint) {
  Init(folder_);
  ASSERT_EQ(Sim({"journal", "--clear"}).status, 0);
  // The device comes from --device alone; the environment names another.
  ProgramRun run = RunProgram({DEVICESIM_PATH, "--device", folder_, "buttons"}, {},
                              {"QUADRAKEY_DEVICE=" + root_ + "/elsewhere"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("40C2"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Sim({"journal"}).out.find("message"), std::string::npos);
}

TEST_F(DevicesimTest, ClearingTheJournalLosesNoEntryUnseen) {
  Init(folder_);
  ASSERT_EQ(Sim({"journal", "--clear"}).status, 0);
  constexpr int kEntries = 2000;
  ProgramRun writer;
  std::thread busy([&] {
    writer = RunProgram({HELPER_PATH, "journal " + std::to_string(kEntries)}, {},
                        {"QUADRAKEY_DEVICE=" + folder_});
  });
  std::string seen;
  for (int round = 0; round < 150; ++round) {
    ProgramRun cleared = Sim({"journal", "--json", "--clear"});
    EXPECT_EQ(cleared.status, 0) << cleared.err;
    seen += cleared.out;
  }
  busy.join();
  ASSERT_EQ(writer.status, 0) << writer.err;
  seen += Sim({"journal", "--json"}).out;
  std::vector<bool> found(kEntries, false);
  const std::regex numbered(R"("event":"helper","n":(\d+)\})");
  for (const std::string& line : Lines(seen)) {
    std::smatch match;
    if (std::regex_search(line, match, numbered)) found.at(std::stoul(match[1])) = true;
  }
  int missing = 0;
  for (bool was_found : found) missing += was_found ? 0 : 1;
  EXPECT_EQ(missing, 0) << "entries cleared without being printed";
}

struct Entry {
  int64_t t;
  std::string line;
};

std::vector<Entry> JsonEntries(const std::string& out) {
  std::vector<Entry> entries;
  for (const std::string& line : Lines(out)) {
    if (line.rfind("{\"t\":", 0) != 0) continue;
    entries.push_back({std::atoll(line.c_str() + 5), line});
  }
  return entries;
}

TEST_F(DevicesimTest, SeriesPressesInOrderAndStartsTheStockProgram) {
  Init(folder_);
  ProgramRun run = Sim({"series", "40c1", "30", "60", "40", "60", "50", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<Entry> entries = JsonEntries(run.out);
  std::vector<Entry> buttons, starts;
  for (const Entry& entry : entries) {
    if (entry.line.find("\"event\":\"button\"") != std::string::npos) buttons.push_back(entry);
    if (entry.line.find("\"event\":\"start\"") != std::string::npos) starts.push_back(entry);
  }
  ASSERT_EQ(buttons.size(), 6u) << run.out;
  ASSERT_EQ(starts.size(), 3u) << run.out;
  EXPECT_EQ(buttons[0].t, 0);
  for (size_t i = 0; i < buttons.size(); ++i) {
    EXPECT_NE(buttons[i].line.find(i % 2 == 0 ? "\"down\":true" : "\"down\":false"), std::string::npos);
    EXPECT_NE(buttons[i].line.find("\"name\":\"40C1\",\"vk\":193"), std::string::npos);
  }
  for (size_t i = 1; i < entries.size(); ++i) EXPECT_GE(entries[i].t, entries[i - 1].t);
  // Deadlines are absolute, so no press comes before its time.
  const int64_t earliest[] = {0, 30, 90, 130, 190, 240};
  for (size_t i = 0; i < buttons.size(); ++i) EXPECT_GE(buttons[i].t + 1, earliest[i]) << buttons[i].line;
  for (const Entry& start : starts) {
    EXPECT_NE(start.line.find("\"program\":\"\\\\Windows\\\\calendar.exe\""), std::string::npos);
  }
  EXPECT_EQ(Sim({"state"}).out.find("keys down: none"), 0u);

  // Notes.lnk in the table, Notes.LNK on disk: the stock program still starts.
  ProgramRun notes = Sim({"press", "40C4"});
  EXPECT_EQ(notes.status, 0) << notes.err;
  EXPECT_TRUE(std::regex_search(notes.out, std::regex(R"(\+ +\d+ ms  pid \d+ +start +program="\\Windows\\notes\.exe")")))
      << notes.out;
}

TEST_F(DevicesimTest, AnEmptyCommandFallsBackToTheResetCommand) {
  Init(folder_);
  const std::string entry = std::string(kKeys) + "\\40C3";
  for (const char* empty : {"", "\"\""}) {
    ASSERT_EQ(Sim({"reg", "set", entry, "@", "--sz", empty}).status, 0);
    ProgramRun run = Sim({"press", "40C3", "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"program\":\"\\\\Windows\\\\tasks.exe\""), std::string::npos) << run.out;
  }
  // A command the shell cannot run is a failure, and the key still comes up.
  ASSERT_EQ(Sim({"reg", "set", entry, "@", "--sz", "\\Windows\\missing.exe"}).status, 0);
  ProgramRun failed = Sim({"press", "40C3"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("could not run"), std::string::npos) << failed.err;
  EXPECT_EQ(Sim({"state"}).out.find("keys down: none"), 0u);
}

TEST_F(DevicesimTest, SeriesWaitsForGrandchildrenAndStopsHungOnes) {
  Init(folder_);
  std::string program = HostPath("\\Windows\\spawner.exe");
  fs::copy_file(HELPER_PATH, program);
  const std::string entry = std::string(kKeys) + "\\40C2";
  ASSERT_EQ(Sim({"reg", "set", entry, "@", "--sz", "\\Windows\\spawner.exe spawn 300"}).status, 0);

  // The starter ends at once; the grandchild it leaves behind ends 300 ms
  // later, and its last entry must be in the printed journal.
  // Programs started get devicesim's device, not one from the environment.
  ProgramRun waited = RunProgram({DEVICESIM_PATH, "--device", folder_, "press", "40C2", "--hold", "10", "--json"},
                                 {}, {"QUADRAKEY_DEVICE=" + root_ + "/elsewhere"});
  EXPECT_EQ(waited.status, 0) << waited.err;
  std::vector<Entry> entries = JsonEntries(waited.out);
  ASSERT_FALSE(entries.empty());
  EXPECT_NE(entries.back().line.find("\"phase\":\"done\""), std::string::npos) << waited.out;
  EXPECT_GE(entries.back().t, 300);

  ASSERT_EQ(Sim({"reg", "set", entry, "@", "--sz", "\\Windows\\spawner.exe spawn 60000"}).status, 0);
  ProgramRun hung = Sim({"press", "40C2", "--timeout", "500", "--json"});
  EXPECT_EQ(hung.status, 1);
  EXPECT_NE(hung.err.find("spawner.exe sleep 60000"), std::string::npos) << hung.err;
  int64_t sleeper = 0;
  for (const Entry& e : JsonEntries(hung.out)) {
    if (e.line.find("\"phase\":\"sleeping\"") != std::string::npos) {
      sleeper = std::atoll(e.line.c_str() + e.line.find("\"pid\":") + 6);
    }
  }
  ASSERT_GT(sleeper, 0) << hung.out;
  EXPECT_NE(kill(static_cast<pid_t>(sleeper), 0), 0) << "the hung grandchild was left running";
}

TEST_F(DevicesimTest, InstallCopiesTheBuiltPrograms) {
  Init(folder_);
  std::string tapdeck = HostPath("\\Program Files\\Quadrakey\\tapdeck.exe");
  fs::remove(tapdeck);  // init placed the programs built beside devicesim
  std::string build = root_ + "/build";
  fs::create_directories(build);
  ProgramRun none = Sim({"install", build});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no device program"), std::string::npos);

  fs::copy_file(HELPER_PATH, build + "/TapdeckX");
  WriteFile(build + "/tapdeck", "not executable");
  ProgramRun some = Sim({"install", build});
  EXPECT_EQ(some.status, 0) << some.err;
  EXPECT_NE(some.out.find("TapdeckX.exe"), std::string::npos);
  EXPECT_NE(some.out.find("not built: Turnscreen"), std::string::npos);
  EXPECT_NE(some.out.find("not built: tapdeck"), std::string::npos);
  std::string installed = HostPath("\\Program Files\\Quadrakey\\TapdeckX.exe");
  EXPECT_EQ(ReadFile(installed), ReadFile(HELPER_PATH));
  EXPECT_EQ(access(installed.c_str(), X_OK), 0);
  EXPECT_FALSE(fs::exists(tapdeck));

  // Installing again over the program replaces it whole.
  ASSERT_EQ(Sim({"install", build}).status, 0);
  EXPECT_EQ(ReadFile(installed), ReadFile(HELPER_PATH));
}

}  // namespace
