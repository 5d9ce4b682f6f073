// setup under Wine: it finds the application manager through its registry
// entry, hands it both quoted paths and waits for it; without the entry it
// starts nothing and still ends with exit code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

const char kManagerKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAppMgr.exe";
const std::string kRoot = "C:\\qk setup test";
const std::string kManagerFolder = kRoot + "\\Sync Manager";
const std::string kManager = kManagerFolder + "\\CE App Mgr.exe";
const std::string kRecord = kManagerFolder + "\\recorded.txt";

// A Linux path as Wine's drive Z: shows it.
std::string WinePath(const std::string& linux_path) {
  std::string out = "Z:" + linux_path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct SetupRun {
  bool started = false;
  DWORD exit_code = 99;
  ULONGLONG elapsed_ms = 0;
};

// Runs setup.exe in `folder` and waits for it (at most a minute).
SetupRun RunSetup(const std::string& folder) {
  SetupRun run;
  std::string command = "\"" + WinePath(QK_SETUP_EXE) + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ULONGLONG start = GetTickCount64();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                      &startup, &process))
    return run;
  run.started = true;
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 98);
    ADD_FAILURE() << "setup did not end within a minute";
  }
  run.elapsed_ms = GetTickCount64() - start;
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

void SetManagerValue(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kManagerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void RegisterManager(const std::string& path) {
  SetManagerValue(nullptr, REG_SZ, path.c_str(), static_cast<DWORD>(path.size() + 1));
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kManagerKey);
    CreateDirectoryA(kRoot.c_str(), nullptr);
    CreateDirectoryA(kManagerFolder.c_str(), nullptr);
    CreateDirectoryA((kRoot + "\\first place").c_str(), nullptr);
    CreateDirectoryA((kRoot + "\\second").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(WinePath(QK_FAKE_APP_MANAGER_EXE).c_str(), kManager.c_str(), FALSE))
        << "cannot place the stand-in manager, error " << GetLastError();
    DeleteFileA(kRecord.c_str());
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kManagerKey);
    DeleteFileA(kRecord.c_str());
  }
};

TEST_F(SetupTest, HandsTheManagerBothQuotedPathsAndWaitsForIt) {
  RegisterManager(kManager);
  for (const std::string& folder : {kRoot + "\\first place", kRoot + "\\second"}) {
    DeleteFileA(kRecord.c_str());
    SetupRun run = RunSetup(folder);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exit_code, 0u);
    // The manager sleeps a second before it ends; setup must not end sooner.
    EXPECT_GE(run.elapsed_ms, 1000u) << "setup returned before the manager ended";
    EXPECT_EQ(ReadFile(kRecord), "\"" + kManager + "\" \"" + folder + "\\Quadrakey.ini\"")
        << "started in " << folder;
  }
}

TEST_F(SetupTest, MissingEntryStartsNothingAndEndsWithZero) {
  // Without a display the message box returns at once; the window itself is
  // checked under Xvfb by setup_message_xvfb.sh.
  SetupRun run = RunSetup(kRoot);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ReadFile(kRecord), "<missing>");

  // The key alone, with a named value but no default value, is no entry.
  std::string path = kManager;
  SetManagerValue("Path", REG_SZ, path.c_str(), static_cast<DWORD>(path.size() + 1));
  run = RunSetup(kRoot);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ReadFile(kRecord), "<missing>");
}

TEST_F(SetupTest, UnusableEntriesEndQuietlyWithZero) {
  // A manager that is not there: the start fails and setup says nothing.
  RegisterManager(kRoot + "\\nowhere\\CEAppMgr.exe");
  SetupRun run = RunSetup(kRoot);
  EXPECT_EQ(run.exit_code, 0u);

  // A number where the path belongs is no entry.
  DWORD number = 7;
  SetManagerValue(nullptr, REG_DWORD, &number, sizeof number);
  EXPECT_EQ(RunSetup(kRoot).exit_code, 0u);

  // A path that fills the whole buffer without a terminating zero, and one
  // longer than the buffer: neither may run past it.
  std::string full(261, 'x');
  SetManagerValue(nullptr, REG_SZ, full.data(), static_cast<DWORD>(full.size()));
  EXPECT_EQ(RunSetup(kRoot).exit_code, 0u);
  std::string longer(900, 'y');
  RegisterManager(longer);
  EXPECT_EQ(RunSetup(kRoot).exit_code, 0u);
  EXPECT_EQ(ReadFile(kRecord), "<missing>");
}

}  // namespace
