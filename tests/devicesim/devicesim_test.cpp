// devicesim as a user drives it: the real program, on temporary device folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/host/device/device.h"
#include "tests/devicesim/run_program.h"
#include "tests/support/journal_expect.h"

namespace fs = std::filesystem;

extern char** environ;

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
      {"reg", "get", "--utf16", "HKLM\\Software"},
      {"reg", "export", "--sz", "x"},
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

TEST_F(DevicesimTest, ADeepKeyExportsEveryLevelAsStored) {
  Init(folder_);
  constexpr int kLevels = 2000;
  std::string path = "HKEY_LOCAL_MACHINE\\Deep";
  std::vector<std::string> expected_keys = {"[" + path + "]"};
  for (int i = 1; i < kLevels; ++i) {
    path += i % 2 ? "\\k" : "\\K";
    expected_keys.push_back("[" + path + "]");
  }
  ProgramRun imported = Sim({"reg", "import", "-"},
                            "Windows Registry Editor Version 5.00\n\n[" + path + "]\n\"Bottom\"=dword:1\n");
  ASSERT_EQ(imported.status, 0) << imported.err;

  const auto start = std::chrono::steady_clock::now();
  ProgramRun exported = Sim({"reg", "export", "hklm\\DEEP"});
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(exported.status, 0) << exported.err;
  std::vector<std::string> keys;
  for (const std::string& line : Lines(exported.out))
    if (!line.empty() && line[0] == '[') keys.push_back(line);
  EXPECT_EQ(keys, expected_keys);
  EXPECT_NE(exported.out.find("[" + path + "]\n\"Bottom\"=dword:00000001\n"), std::string::npos);
  // Not a timing: resolving every level from the root again took 18 s here,
  // reaching each key from its parent takes a fraction of a second.
  EXPECT_LT(seconds, 10.0);
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

// UTF-16LE bytes with a byte order mark, of any UTF-16 text.
std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

TEST_F(DevicesimTest, LoneSurrogatesInNamesAndTextsRoundTripThroughUtf16Files) {
  Init(folder_);
  WriteFile(root_ + "/lone.reg",
            Utf16Bytes(u"Windows Registry Editor Version 5.00\r\n\r\n"
                       u"[HKEY_LOCAL_MACHINE\\Software\\Lone\\Key\xD800]\r\n"
                       u"\"V\xD800\"=\"high\"\r\n\"V\xD801\"=\"other\"\r\n\"V\xDC00\"=\"low\"\r\n"
                       u"\"T\"=\"x\xDC00y\"\r\n"));
  ProgramRun imported = Sim({"reg", "import", root_ + "/lone.reg"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  // On the command line a lone surrogate is its 3-byte form.
  const std::string key = "HKLM\\Software\\Lone\\Key\xED\xA0\x80";
  EXPECT_EQ(Get(key, "V\xED\xA0\x80"), "high");
  EXPECT_EQ(Get(key, "V\xED\xA0\x81"), "other");
  EXPECT_EQ(Get(key, "V\xED\xB0\x80"), "low");
  EXPECT_EQ(Sim({"reg", "get", key, "V\xEF\xBF\xBD"}).status, 1) << "nothing became U+FFFD";

  ProgramRun first = Sim({"reg", "export", "--utf16", "HKLM\\Software\\Lone"});
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string expected_body =
      Utf16Bytes(u"Windows Registry Editor Version 5.00\r\n\r\n"
                 u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lone]\r\n\r\n"
                 u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Lone\\Key\xD800]\r\n"
                 // Text with a lone half is kept in its raw form, which any
                 // file holds exactly.
                 u"\"T\"=hex(1):78,00,00,dc,79,00,00,00\r\n"
                 u"\"V\xD800\"=\"high\"\r\n\"V\xD801\"=\"other\"\r\n\"V\xDC00\"=\"low\"\r\n\r\n");
  EXPECT_EQ(first.out, expected_body);

  // Into a device that never held them, in both file forms.
  for (const bool utf16 : {true, false}) {
    SCOPED_TRACE(utf16 ? "UTF-16LE" : "UTF-8");
    const std::string other = root_ + (utf16 ? "/other16" : "/other8");
    Init(other);
    std::vector<std::string> export_args = {"reg", "export", "HKLM\\Software\\Lone"};
    if (utf16) export_args.insert(export_args.begin() + 2, "--utf16");
    ProgramRun file = Sim(export_args);
    ASSERT_EQ(file.status, 0) << file.err;
    ASSERT_EQ(SimOn(other, {"reg", "import", "-"}, file.out).status, 0);
    EXPECT_EQ(SimOn(other, {"reg", "export", "--utf16", "HKLM\\Software\\Lone"}).out, first.out);
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

TEST_F(DevicesimTest, EveryFailureOfAnImportLeavesTheRegistryAsItWas) {
  Init(folder_);
  const std::string file =
      "Windows Registry Editor Version 5.00\n\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys\\40C6]\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quadrakey]\n"
      "\"ButtonA\"=\"<Today>\"\n"
      "\"HoldInterval\"=dword:000001f4\n"
      "\"AppFolder\"=-\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quadrakey\\Hotkeys]\n"
      "\"B0\"=\"One\"\n"
      "\"H0\"=hex:c1,00,00,00\n\n"
      "[HKEY_CLASSES_ROOT\\.qk]\n"
      "@=\"qkfile\"\n";
  const std::string before = Export();
  // Each registry operation the import makes fails in turn (k = 1, 2, ...)
  // until the import gets through; every failure changes nothing.
  for (const char* op : {"registry-open", "registry-write", "registry-delete"}) {
    int failures = 0;
    for (int k = 1;; ++k) {
      ASSERT_LT(k, 100) << op << ": the import never got through";
      const std::string faults = std::string("devicesim/") + op + "@" + std::to_string(k) + ":112";
      ProgramRun run = RunProgram({DEVICESIM_PATH, "--device", folder_, "reg", "import", "-"}, file,
                                  {"QUADRAKEY_FAULTS=" + faults});
      if (run.status == 0) break;
      ++failures;
      EXPECT_EQ(run.status, 1) << faults << ": " << run.err;
      EXPECT_NE(run.err.find("error 112"), std::string::npos) << faults << ": " << run.err;
      EXPECT_NE(run.err.find("nothing was imported"), std::string::npos) << faults << ": " << run.err;
      EXPECT_EQ(Export(), before) << faults;
    }
    EXPECT_GE(failures, 2) << op << ": the import made fewer calls than its file asks for";
    // The import got through whole.
    EXPECT_EQ(Get("HKLM\\Software\\Quadrakey\\Hotkeys", "B0"), "One") << op;
    EXPECT_NE(Sim({"reg", "get", "HKLM\\Software\\Quadrakey", "AppFolder"}).status, 0) << op;
    ProgramRun reset = Sim({"init", "--force"});
    ASSERT_EQ(reset.status, 0) << reset.err;
    ASSERT_EQ(Export(), before);
  }
}

// A NUL (or another control character) in a name shows as its escape: the
// message goes on past it to the reason and "nothing was imported".
TEST_F(DevicesimTest, AnImportsMessageShowsANulInANameAndGoesOnPastIt) {
  Init(folder_);
  const std::string before = Export();
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const std::string long_name = std::string("a\0b\x1b", 4) + std::string(300, 'k');
  const std::vector<std::pair<std::string, std::string>> files = {
      // A key name over 255 characters that holds a NUL and an escape.
      {header + "[HKEY_LOCAL_MACHINE\\Software\\" + long_name + "]\n",
       "cannot create HKEY_LOCAL_MACHINE\\Software\\a\\0b\\x1bkkk"},
      // A value name over 16,383 characters that begins with one.
      {header + "[HKEY_LOCAL_MACHINE\\Software\\Fine]\n\"x\\0y" + std::string(16400, 'v') + "\"=\"z\"\n",
       "cannot set 'x\\0yvvv"},
      {header + "[HKEY_CURRENT" + '\0' + "USER\\Software]\n", "unknown key root 'HKEY_CURRENT\\0USER'"},
  };
  for (const auto& [content, expected] : files) {
    const ProgramRun run = Sim({"reg", "import", "-"}, content);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err.substr(0, 300);
    EXPECT_EQ(run.err.find('\0'), std::string::npos) << "a raw NUL in the message";
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << "a raw escape in the message";
    EXPECT_NE(run.err.find("nothing was imported"), std::string::npos) << run.err.substr(0, 300);
  }
  EXPECT_EQ(Export(), before);
}

TEST_F(DevicesimTest, AnImportRefusedAtCommitSaysWhy) {
  Init(folder_);
  const std::string before = Export();
  std::string file = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Big]\n\"Blob\"=hex:00";
  for (int i = 1; i < 100000; ++i) file += ",5a";
  // The registry's write-ahead log may not grow past 32 KB: the statements
  // succeed, the commit cannot be written.
  ProgramRun import = RunProgram({DEVICESIM_PATH, "--device", folder_, "reg", "import", "-"},
                                 file + "\n", {}, 32 * 1024);
  EXPECT_EQ(import.status, 1);
  EXPECT_NE(import.err.find("the device's registry refused the change (error 1016: the registry "
                            "cannot be read or written); nothing was imported"),
            std::string::npos)
      << import.err;
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
  EXPECT_NE(state.out.find("device keys: 0x75 (Volume Up), 0x76 (Volume Down), 0xC7 (Side Key)"), std::string::npos)
      << state.out;
  EXPECT_NE(state.out.find("hot keys: none"), std::string::npos);

  ProgramRun turned = Sim({"display", "--orientation", "270", "--rotation", "off"});
  EXPECT_EQ(turned.out, "orientation: 270 degrees\nrotation: not supported\n");
  EXPECT_NE(Sim({"state"}).out.find("display: 270 degrees, rotation not supported"), std::string::npos);

  ASSERT_EQ(Sim({"press", "40C2", "--hold", "0"}).status, 0);
  std::vector<std::string> plain = Lines(Sim({"journal"}).out);
  ASSERT_FALSE(plain.empty());
  EXPECT_TRUE(std::regex_search(plain[0], std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  pid \d+ +button +name="40C2" vk=194 down=true$)")))
      << plain[0];

  const std::string json_text = Sim({"journal", "--json", "--clear"}).out;
  std::vector<std::string> json = Lines(json_text);
  ASSERT_EQ(json.size(), plain.size());
  const std::regex object(R"(^\{"t":\d{13},"pid":\d+,"event":"[a-z]+"(,"[a-z_]+":.+)?\}$)");
  for (const std::string& line : json) EXPECT_TRUE(std::regex_match(line, object)) << line;
  EXPECT_TRUE(journal::Matches(
      journal::FromJsonLines(json_text),
      {{"button", {{"name", "40C2"}, {"vk", 194}, {"down", true}}},
       {"start", {{"program", "\\Windows\\addrbook.exe"}, {"args", ""}}},
       {"open", {{"file", "\\Windows\\Start Menu\\Contacts.lnk"}, {"ok", true}}},
       {"button", {{"name", "40C2"}, {"vk", 194}, {"down", false}}}}));
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
  EXPECT_TRUE(journal::Matches(journal::OfKind(journal::FromJsonLines(Sim({"journal", "--json"}).out), "message"), {}));
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
  for (const journal::Entry& entry : journal::OfKind(journal::FromJsonLines(seen), "helper"))
    found.at(static_cast<size_t>(entry.Int("n"))) = true;
  int missing = 0;
  for (bool was_found : found) missing += was_found ? 0 : 1;
  EXPECT_EQ(missing, 0) << "entries cleared without being printed";
}

TEST_F(DevicesimTest, SeriesPressesInOrderAndStartsTheStockProgram) {
  Init(folder_);
  ProgramRun run = Sim({"series", "40c1", "30", "60", "40", "60", "50", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<journal::Entry> entries = journal::FromJsonLines(run.out);
  // Each press: the key down, the table entry's command run (the stock
  // Calendar shortcut starts its program), the key up.
  std::vector<journal::Expected> press = {
      {"button", {{"name", "40C1"}, {"vk", 193}, {"down", true}}},
      {"start", {{"program", "\\Windows\\calendar.exe"}}},
      {"open", {{"file", "\\Windows\\Start Menu\\Calendar.lnk"}, {"ok", true}}},
      {"button", {{"name", "40C1"}, {"vk", 193}, {"down", false}}}};
  std::vector<journal::Expected> three_presses;
  for (int i = 0; i < 3; ++i) three_presses.insert(three_presses.end(), press.begin(), press.end());
  EXPECT_TRUE(journal::Matches(entries, three_presses));
  const std::vector<journal::Entry> buttons = journal::OfKind(entries, "button");
  ASSERT_EQ(buttons.size(), 6u) << run.out;
  EXPECT_EQ(buttons[0].t_ms, 0);
  for (size_t i = 1; i < entries.size(); ++i) EXPECT_GE(entries[i].t_ms, entries[i - 1].t_ms);
  // Deadlines are absolute, so no press comes before its time.
  const int64_t earliest[] = {0, 30, 90, 130, 190, 240};
  for (size_t i = 0; i < buttons.size(); ++i) EXPECT_GE(buttons[i].t_ms + 1, earliest[i]) << run.out;
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
    EXPECT_TRUE(journal::Matches(journal::OfKind(journal::FromJsonLines(run.out), "start"),
                                 {{"start", {{"program", "\\Windows\\tasks.exe"}}}}))
        << "command '" << empty << "'";
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
  const std::vector<journal::Entry> entries = journal::FromJsonLines(waited.out);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back().Text("phase"), "done") << waited.out;
  EXPECT_GE(entries.back().t_ms, 300);

  ASSERT_EQ(Sim({"reg", "set", entry, "@", "--sz", "\\Windows\\spawner.exe spawn 60000"}).status, 0);
  ProgramRun hung = Sim({"press", "40C2", "--timeout", "500", "--json"});
  EXPECT_EQ(hung.status, 1);
  EXPECT_NE(hung.err.find("spawner.exe sleep 60000"), std::string::npos) << hung.err;
  int64_t sleeper = 0;
  for (const journal::Entry& e : journal::FromJsonLines(hung.out)) {
    if (e.Text("phase") == "sleeping") sleeper = e.pid;
  }
  ASSERT_GT(sleeper, 0) << hung.out;
  EXPECT_NE(kill(static_cast<pid_t>(sleeper), 0), 0) << "the hung grandchild was left running";
}

TEST_F(DevicesimTest, AKeyLeftDownByAKilledSeriesReadsAsUp) {
  Init(folder_);
  const std::string out = root_ + "/series.out";
  std::vector<std::string> args = {DEVICESIM_PATH, "--device", folder_, "series", "40C1", "60000"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  pid_t series = -1;
  ASSERT_EQ(posix_spawn(&series, DEVICESIM_PATH, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  bool held = false;
  for (int i = 0; i < 500 && !held; ++i) {
    held = Sim({"state"}).out.find("keys down: 0xC1") != std::string::npos;
    if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(held) << ReadFile(out);
  ASSERT_EQ(kill(series, SIGKILL), 0);

  // Killed and not yet waited for, then gone: the key is up either way, for
  // devicesim and for the programs that ask.
  device::SetFolder(folder_);
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 200 && Sim({"state"}).out.find("keys down: none") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(Sim({"state"}).out.find("keys down: none"), std::string::npos) << "round " << round;
    EXPECT_EQ(plat::GetAsyncKeyState(0xC1), 0) << "round " << round;
    if (round == 0) waitpid(series, nullptr, 0);
  }
  // A key this process holds is down while it runs.
  ASSERT_TRUE(device::SetKeyDown(0xC1, true));
  EXPECT_NE(Sim({"state"}).out.find("keys down: 0xC1"), std::string::npos);
  device::SetFolder(root_ + "/elsewhere");
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

// A device that cannot be read or written says so in every command, with
// the reason; nothing reads as missing data.
void ExpectRefused(const ProgramRun& run, const std::string& reason, const std::string& what) {
  EXPECT_EQ(run.status, 1) << what << ": " << run.out << run.err;
  EXPECT_NE(run.err.find(reason), std::string::npos) << what << ": " << run.err;
  EXPECT_EQ(run.err.find("no such"), std::string::npos) << what << ": " << run.err;
}

TEST_F(DevicesimTest, AReadOnlyDeviceIsReportedNotTakenForAnEmptyOne) {
  Init(folder_);
  ASSERT_EQ(Sim({"series", "40C1", "20"}).status, 0);  // a journal with entries
  const std::string journal = Sim({"journal"}).out;
  ASSERT_FALSE(journal.empty());
  // The registry's log needs a shared-memory file beside registry.db that
  // the reader can write, or that it can make in a read-only folder. Root
  // writes anywhere, so the programs then run as nobody.
  std::vector<std::string> as_reader;
  if (geteuid() == 0) {
    as_reader = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    for (const std::string& folder : {root_, folder_})
      fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  } else {
    fs::permissions(folder_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
  auto run = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = as_reader;
    argv.insert(argv.end(), {DEVICESIM_PATH, "--device", folder_});
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
  };
  const std::string denied = "error 5: access denied";
  ExpectRefused(run({"display", "--orientation", "90"}), denied, "display --orientation");
  ExpectRefused(run({"display"}), denied, "display");
  ExpectRefused(run({"buttons"}), denied, "buttons");
  ExpectRefused(run({"journal"}), denied, "journal");
  ExpectRefused(run({"state"}), denied, "state");
  ExpectRefused(run({"reg", "get", "HKLM\\Software\\Quadrakey", "AppFolder"}), denied, "reg get");
  ExpectRefused(run({"reg", "export"}), denied, "reg export");
  ExpectRefused(run({"series", "40C1", "20"}), denied, "series");

  // The device programs refuse it as they refuse a missing one, and end:
  // tapdeck once waited there for a person no one could reach.
  for (const std::vector<std::string>& program :
       std::vector<std::vector<std::string>>{{"TapdeckX.exe", "1"}, {"Turnscreen.exe", "3"}, {"tapdeck.exe"}}) {
    std::vector<std::string> argv = {"/usr/bin/timeout", "-s", "KILL", "30"};
    argv.insert(argv.end(), as_reader.begin(), as_reader.end());
    argv.push_back(folder_ + "/fs/Program Files/Quadrakey/" + program[0]);
    argv.insert(argv.end(), program.begin() + 1, program.end());
    ProgramRun run = RunProgram(argv, {}, {"QUADRAKEY_DEVICE=" + folder_});
    EXPECT_EQ(run.status, 1) << program[0] << ": " << run.err;
    EXPECT_NE(run.err.find("cannot use the emulated device in " + folder_ + ": " + denied), std::string::npos)
        << program[0] << ": " << run.err;
  }

  fs::permissions(folder_, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_NE(Sim({"display"}).out.find("orientation: 0 degrees"), std::string::npos);
  EXPECT_EQ(Sim({"journal"}).out, journal);
}

TEST_F(DevicesimTest, AFullDiskIsReportedAsFull) {
  const std::string small = root_ + "/small";
  fs::create_directories(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=512k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here (needs root): " << std::strerror(errno);
  Init(folder_);
  // The device moves onto the small file system, which then fills up.
  const std::string device = small + "/device";
  fs::create_directories(device + "/fs");
  fs::create_directories(device + "/locks");
  // The registry is registry.db with its write-ahead log.
  for (const char* part : {"/registry.db", "/registry.db-wal"})
    if (fs::exists(folder_ + part)) fs::copy_file(folder_ + part, device + part);
  int fillers = 0;
  auto fill = [&] {
    std::ofstream filler(small + "/filler" + std::to_string(++fillers), std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
    filler.clear();
    while (filler.put('x') && filler.flush()) {
    }
  };
  const std::string full = "error 112: the disk is full";
  // While a program has the registry open, the others can still read it;
  // every write fails.
  device::SetFolder(device);
  ASSERT_TRUE(device::Open()) << device::ErrorText(plat::GetLastError());
  fill();
  ProgramRun shown = SimOn(device, {"display"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("orientation: 0 degrees"), std::string::npos);
  ExpectRefused(SimOn(device, {"display", "--orientation", "90"}), full, "display --orientation");
  ExpectRefused(SimOn(device, {"reg", "set", "HKLM\\Software\\Quadrakey", "X", "--sz", "y"}), full,
                "reg set");
  ExpectRefused(SimOn(device, {"series", "40C1", "20"}), full, "series");
  ExpectRefused(SimOn(device, {"shortcut", "\\New.lnk", std::string(8192, 'x')}), full, "shortcut");
  EXPECT_FALSE(fs::exists(device + "/fs/New.lnk")) << "a half-written shortcut stays behind";
  ProgramRun turned = RunProgram({folder_ + "/fs/Program Files/Quadrakey/Turnscreen.exe", "3"}, {},
                                 {"QUADRAKEY_DEVICE=" + device});
  EXPECT_NE(turned.err.find("Display rotation does not seem to be supported on this device"),
            std::string::npos)
      << "nothing was stored, so nothing turned: " << turned.err;
  EXPECT_NE(SimOn(device, {"display"}).out.find("orientation: 0 degrees"), std::string::npos);
  // tapdeck cannot put its window where devicesim ui would find it, and ends
  // rather than wait for ever.
  ProgramRun configured = RunProgram(
      {"/usr/bin/timeout", "-s", "KILL", "30", folder_ + "/fs/Program Files/Quadrakey/tapdeck.exe"}, {},
      {"QUADRAKEY_DEVICE=" + device});
  EXPECT_EQ(configured.status, 1) << configured.err;
  EXPECT_NE(configured.err.find("the main window could not be registered on the device (error 112)"),
            std::string::npos)
      << configured.err;

  // Once nobody has it open it can still be read, since the files of its
  // log stay between programs; writes still fail.
  device::SetFolder(root_ + "/elsewhere");
  fill();
  const ProgramRun state = SimOn(device, {"state"});
  EXPECT_EQ(state.status, 0) << state.err;
  ExpectRefused(SimOn(device, {"display", "--orientation", "90"}), full, "display --orientation, alone");
  umount2(small.c_str(), MNT_DETACH);
}

}  // namespace
