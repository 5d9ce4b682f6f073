// What only the win32 backend does: the device's text shortcuts opened on
// the desktop, programs started with their arguments, the desktop's input
// panel stand-in, and refusals that keep bad input from doing harm.
#include <windows.h>
// windows.h would rename these platform operations to their W variants.
#undef CreateProcess
#undef DeleteFile
#undef GetFileAttributes
#undef RegCreateKey
#undef RegDeleteKey
#undef RegOpenKey
#undef RegSetValue

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/ui.h"
#include "tests/shared/device_file.h"
#include "tests/support/test_device.h"

// Inside plat, its operations hide the Win32 functions of the same names.
namespace plat {
namespace {

std::wstring WinePath(const char* linux_path) {
  std::wstring out = L"Z:";
  for (const char* p = linux_path; *p != '\0'; ++p) out += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return out;
}

std::string AwaitFile(const std::u16string& path) {
  for (int i = 0; i < 100; ++i) {
    if (GetFileAttributes(path) != kInvalidFileAttributes) {
      Sleep(100);  // let the writer finish
      return shared_test::ReadDeviceFile(path);
    }
    Sleep(100);
  }
  return "<missing>";
}

std::vector<std::string> key_events;

intptr_t HearKeys(Window window, WindowEvent event, uintptr_t first, intptr_t) {
  if (event == WindowEvent::kKeyEvent) key_events.push_back(std::to_string(first));
  if (event == WindowEvent::kTimer) {
    KillTimer(window, first);
    PostQuit(0);
  }
  return 0;
}

constexpr uint32_t kF12 = 0x7B;

DWORD WINAPI PressTwice(void* done) {
  for (int press = 0; press < 2; ++press) {
    KeybdEvent(kF12, 0, 0, 0);
    Sleep(20);
    KeybdEvent(kF12, 0, kKeyEventKeyUp, 0);
  }
  ::SetEvent(done);
  return 0;
}

class Win32PlatformTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(CreateDirectoryW(L"Q:\\Tools Here", nullptr));
    ASSERT_TRUE(CopyFileW(WinePath(QK_MARKER_EXE).c_str(), L"Q:\\Tools Here\\marker.exe", FALSE));
  }
  const std::u16string kMarker = u"\\Tools Here\\marker.exe";
  const std::u16string kRecord = u"\\Tools Here\\marker.txt";
};

TEST_F(Win32PlatformTest, CreateProcessHandsOverTheArgumentsExactly) {
  ASSERT_TRUE(CreateProcess(kMarker, u"15 \"two words\" \u00e9"));
  EXPECT_EQ(AwaitFile(kRecord), "15 \"two words\" \xc3\xa9");
  ASSERT_TRUE(DeleteFile(kRecord));
  ASSERT_TRUE(CreateProcess(kMarker, u""));
  EXPECT_EQ(AwaitFile(kRecord), "");

  SetLastError(0);
  EXPECT_FALSE(CreateProcess(u"\\Tools Here\\absent.exe", u"1"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(Win32PlatformTest, DeviceShortcutsOpenTheirTargetAndBadOnesFail) {
  // Unquoted target with a blank-free path and arguments.
  ASSERT_TRUE(CopyFileW(L"Q:\\Tools Here\\marker.exe", L"Q:\\m.exe", FALSE));
  ASSERT_TRUE(CreateShortcut(u"\\plain.lnk", u"\\m.exe one two"));
  ASSERT_TRUE(ShellOpen(u"\\PLAIN.LNK"));
  EXPECT_EQ(AwaitFile(u"\\marker.txt"), "one two");

  // Text after the counted target (a line end, say) is not part of it.
  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\counted.lnk", u"24#\"\\Tools Here\\marker.exe\"\r\nignored"));
  ASSERT_TRUE(ShellOpen(u"\\counted.lnk"));
  EXPECT_EQ(AwaitFile(kRecord), "");

  // The count is not trusted: hand-made shortcuts often miscount. The last
  // record goes first, or it would be read before the new one is written.
  ASSERT_TRUE(DeleteFile(kRecord));
  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\miscounted.lnk", u"99#\"\\Tools Here\\marker.exe\" three"));
  ASSERT_TRUE(ShellOpen(u"\\miscounted.lnk"));
  EXPECT_EQ(AwaitFile(kRecord), "three");

  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\empty.lnk", u"0#"));
  SetLastError(0);
  EXPECT_FALSE(ShellOpen(u"\\empty.lnk"));
  EXPECT_EQ(GetLastError(), kErrorBadFormat);

  // Shortcuts that lead to each other end instead of recursing for ever.
  ASSERT_TRUE(CreateShortcut(u"\\ping.lnk", u"\\pong.lnk"));
  ASSERT_TRUE(CreateShortcut(u"\\pong.lnk", u"\\ping.lnk"));
  SetLastError(0);
  EXPECT_FALSE(ShellOpen(u"\\ping.lnk"));
  EXPECT_EQ(GetLastError(), kErrorBadFormat);

  SetLastError(0);
  EXPECT_FALSE(ShellOpen(u"\\absent.lnk"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  SetLastError(0);
  EXPECT_FALSE(ShellOpen(u"\\absent.exe"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(Win32PlatformTest, InputPanelStandInKeepsItsStateAndChecksTheRecord) {
  SipInfo info{};
  info.size = sizeof info;
  ASSERT_TRUE(ShSipInfo(kSpiGetSipInfo, 0, &info, 0));
  EXPECT_EQ(info.flags & kSipfOn, 0u) << "a fresh device shows no panel";
  ASSERT_TRUE(ShSipPreference(0, kSipUp));
  ASSERT_TRUE(ShSipInfo(kSpiGetSipInfo, 0, &info, 0));
  EXPECT_NE(info.flags & kSipfOn, 0u);
  ASSERT_TRUE(ShSipPreference(0, kSipForceDown));
  ASSERT_TRUE(ShSipInfo(kSpiGetSipInfo, 0, &info, 0));
  EXPECT_EQ(info.flags & kSipfOn, 0u);

  info.size = 12;
  SetLastError(0);
  EXPECT_FALSE(ShSipInfo(kSpiGetSipInfo, 0, &info, 0));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  info.size = sizeof info;
  EXPECT_FALSE(ShSipInfo(kSpiGetSipInfo + 1, 0, &info, 0));
  EXPECT_EQ(GetAppKey(u"TapdeckX.exe"), 0) << "the desktop has no button table";
}

TEST_F(Win32PlatformTest, RefusalsKeepBadRequestsHarmless) {
  // An empty key path names the root: never delete that.
  SetLastError(0);
  EXPECT_FALSE(RegDeleteKey(RegRoot::LocalMachine, u""));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  RegKey software = RegOpenKey(RegRoot::LocalMachine, u"Software", kKeyRead);
  EXPECT_NE(software, nullptr);
  RegCloseKey(software);

  EXPECT_EQ(SetDisplayOrientation(3), kDispChangeBadParam) << "3 is no platform orientation";
  EXPECT_EQ(OpenTextFile(u"\\x.txt", "r+"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(OpenTextFile(u"\\Tools Here", "rt"), nullptr) << "a folder is no text file";
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST_F(Win32PlatformTest, RotationReportsSuccessOnlyWhenTheDisplayTurned) {
  uint32_t before = 99;
  ASSERT_TRUE(QueryDisplayOrientation(&before));
  ASSERT_TRUE(before == kDmdo0 || before == kDmdo90 || before == kDmdo180 || before == kDmdo270);
  uint32_t wanted = before == kDmdo90 ? kDmdo0 : kDmdo90;
  int32_t result = SetDisplayOrientation(wanted);
  uint32_t after = 99;
  ASSERT_TRUE(QueryDisplayOrientation(&after));
  if (result == kDispChangeSuccessful) {
    EXPECT_EQ(after, wanted);
    SetDisplayOrientation(before);
  } else {
    EXPECT_EQ(after, before) << "a failed rotation leaves the display as it was";
  }
}

// ---- Where a PC keeps the product's things ---------------------------------------

const wchar_t kProduct[] = L"Software\\Quadrakey";

bool RawKeyExists(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

std::wstring RawText(HKEY root, const wchar_t* path, const wchar_t* name) {
  wchar_t text[256] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  if (::RegGetValueW(root, path, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return L"<missing>";
  return text;
}

void RawSetText(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text) {
  ASSERT_EQ(::RegSetKeyValueW(root, path, name, REG_SZ, text, static_cast<DWORD>((wcslen(text) + 1) * 2)),
            ERROR_SUCCESS);
}

// Settings an earlier version kept for the whole PC, with the user's list.
void LeaveMachineSettings(const wchar_t* button_a) {
  RawSetText(HKEY_LOCAL_MACHINE, kProduct, L"ButtonA", button_a);
  RawSetText(HKEY_LOCAL_MACHINE, L"Software\\Quadrakey\\Hotkeys", L"B0", L"F13 key");
}

// The length of "ButtonA" as a program reads it (100: unreadable).
int ReadInAnotherProgram() {
  return testing_device::RunDeviceProgram(QK_SETTINGS_CHILD, "", "");
}

class ProductPlaces : public Win32PlatformTest {
 protected:
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProduct);
    Win32PlatformTest::TearDown();
  }
};

TEST_F(ProductPlaces, SettingsAreTheUsersOwnAndTheMachineIsNotWritten) {
  RegKey key = RegCreateKey(RegRoot::Product, kProductKey, kKeySetValue);
  ASSERT_NE(key, nullptr);
  const char16_t text[] = u"<Today>";
  EXPECT_TRUE(RegSetValue(key, u"ButtonB", kRegSz, text, sizeof text));
  RegCloseKey(key);
  EXPECT_EQ(RawText(HKEY_CURRENT_USER, kProduct, L"ButtonB"), L"<Today>");
  EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, kProduct));
  EXPECT_EQ(ReadInAnotherProgram(), 100) << "no ButtonA anywhere";
}

TEST_F(ProductPlaces, SettingsLeftForTheWholeMachineBecomeTheUsersOnce) {
  LeaveMachineSettings(L"<Today>");
  EXPECT_EQ(ReadInAnotherProgram(), 7) << "the program reads the machine's settings as the user's";
  EXPECT_EQ(RawText(HKEY_CURRENT_USER, kProduct, L"ButtonA"), L"<Today>");
  EXPECT_EQ(RawText(HKEY_CURRENT_USER, L"Software\\Quadrakey\\Hotkeys", L"B0"), L"F13 key");
  EXPECT_EQ(RawText(HKEY_LOCAL_MACHINE, kProduct, L"ButtonA"), L"<Today>") << "the machine's key stays";
  EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Quadrakey (copy under way)"));

  // From then on the user's are the settings: the machine's never come back
  // over them.
  RawSetText(HKEY_LOCAL_MACHINE, kProduct, L"ButtonA", L"<Page Up>");
  RawSetText(HKEY_CURRENT_USER, kProduct, L"ButtonA", L"Notes");
  EXPECT_EQ(ReadInAnotherProgram(), 5);
  EXPECT_EQ(RawText(HKEY_CURRENT_USER, kProduct, L"ButtonA"), L"Notes");
}

TEST_F(ProductPlaces, ACopyCutShortIsMadeAgain) {
  LeaveMachineSettings(L"<Today>");
  // What a copy killed half-way leaves: the mark, and part of the key.
  HKEY mark = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Quadrakey (copy under way)", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &mark, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(mark);
  RawSetText(HKEY_CURRENT_USER, kProduct, L"ButtonA", L"<To");
  EXPECT_EQ(ReadInAnotherProgram(), 7);
  EXPECT_EQ(RawText(HKEY_CURRENT_USER, L"Software\\Quadrakey\\Hotkeys", L"B0"), L"F13 key");
  EXPECT_FALSE(RawKeyExists(HKEY_CURRENT_USER, L"Software\\Quadrakey (copy under way)"));
}

TEST_F(ProductPlaces, ProgramsAreWhereTheyRunAndLogsInTheUsersLocalData) {
  std::u16string programs;
  ASSERT_TRUE(GetProductFolder(ProductFolder::Programs, &programs));
  wchar_t own[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
  EXPECT_EQ(programs + u"\\" + std::u16string(reinterpret_cast<const char16_t*>(wcsrchr(own, L'\\') + 1)),
            std::u16string(reinterpret_cast<const char16_t*>(own)));

  wchar_t local[MAX_PATH] = {};
  ASSERT_GT(::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH), 0u);
  const std::wstring logs = std::wstring(local) + L"\\Quadrakey";
  ::RemoveDirectoryW(logs.c_str());  // empty: the test device removed its logs
  ASSERT_EQ(::GetFileAttributesW(logs.c_str()), INVALID_FILE_ATTRIBUTES);
  std::u16string folder;
  ASSERT_TRUE(GetProductFolder(ProductFolder::Logs, &folder)) << "made when missing";
  EXPECT_EQ(folder, std::u16string(logs.begin(), logs.end()));
  EXPECT_NE(::GetFileAttributesW(logs.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

  // A file where the folder belongs is no folder for logs, and stays.
  ASSERT_TRUE(::RemoveDirectoryW(logs.c_str()));
  HANDLE file = ::CreateFileW(logs.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::CloseHandle(file);
  EXPECT_FALSE(GetProductFolder(ProductFolder::Logs, &folder));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(::GetFileAttributesW(logs.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(::DeleteFileW(logs.c_str()));
}

TEST_F(Win32PlatformTest, DesktopQueriesAnswerSensibly) {
  Version version = GetVersion();
  EXPECT_GE(version.major, 5u);
  EXPECT_EQ(version.platform_id, 2u) << "VER_PLATFORM_WIN32_NT";
  std::u16string programs;
  ASSERT_TRUE(GetProgramsFolder(&programs));
  EXPECT_EQ(GetFileAttributes(programs) & kFileAttributeDirectory, kFileAttributeDirectory);
  EXPECT_NE(GetDesktopWindow(), 0u);
  uint64_t before = TickCount();
  Sleep(50);
  EXPECT_GE(TickCount(), before + 20) << "ticks advance while sleeping";
}


std::vector<std::string> icon_events;

intptr_t HearIcon(Window, WindowEvent event, uintptr_t first, intptr_t second) {
  if (event == WindowEvent::kSessionEnd) icon_events.push_back("session end");
  if (event == WindowEvent::kTrayCommand) icon_events.push_back("command " + std::to_string(first));
  if (event == WindowEvent::kAppText) {
    std::string text;
    for (char16_t c : *reinterpret_cast<const std::u16string*>(second)) text += c < 0x80 ? static_cast<char>(c) : '?';
    icon_events.push_back("text " + std::to_string(first) + " " + text);
  }
  return 0;
}

void PumpFor(DWORD ms) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::Sleep(10);
  }
}

// Without a display Wine can make no window at all: no icon, with a reason,
// which the listener logs before it goes on listening.
TEST_F(Win32PlatformTest, WithoutANotificationAreaTheIconFailsWithAReason) {
  const Window window = CreateMessageWindow(u"QkIconNoDisplay", HearIcon);
  if (window == 0) GTEST_SKIP() << "this Wine has a display";
  if (ShowTrayIcon(window, u"Quadrakey: listening to 1 key", {{3, u"Quit"}})) {
    RemoveTrayIcon(window);
    GTEST_SKIP() << "this Wine has a notification area";
  }
  EXPECT_NE(GetLastError(), 0u);
  RemoveTrayIcon(window);
  DestroyMessageWindow(window);
}

// The icon's own window is a top-level one: it hears the session end (and
// a new taskbar), which a hidden message window never would, and hands the
// end on, whether or not a notification area showed the icon.
TEST_F(Win32PlatformTest, OnADisplayTheIconsWindowHandsOnTheSessionEndAndTextsArriveWhole) {
  icon_events.clear();
  const Window window = CreateMessageWindow(u"QkIconOwner", HearIcon);
  ASSERT_NE(window, 0u);
  const bool shown = ShowTrayIcon(window, u"Quadrakey: listening to 1 key", {{0, u"Pad (F6)"}, {0, u""}, {3, u"Quit"}});
  if (!shown) {
    EXPECT_NE(GetLastError(), 0u);
  }
  HWND icon = ::FindWindowW(L"Velbrook_QuadrakeyTrayIcon", nullptr);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(::SendMessageW(icon, WM_QUERYENDSESSION, 0, 0), TRUE);
  ::SendMessageW(icon, WM_ENDSESSION, TRUE, 0);
  ::SendMessageW(icon, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_EQ(icon_events, std::vector<std::string>{"session end"});
  // A command past the menu's range is refused; the window is not another program's.
  EXPECT_FALSE(ShowTrayIcon(window, u"x", {{0x10000, u"Too far"}}));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  icon_events.clear();
  EXPECT_TRUE(SendWindowText(window, 3, u"Pad: double press \u2192 Notepad"));
  EXPECT_TRUE(SendWindowText(window, 4, u""));
  EXPECT_EQ(icon_events, (std::vector<std::string>{"text 3 Pad: double press ? Notepad", "text 4 "}));
  EXPECT_FALSE(SendWindowText(window, 3, std::u16string(1025, u'x')));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  // A program that sends more, or half a character, is not heard.
  std::u16string flood(2000, u'x');
  COPYDATASTRUCT data = {3, static_cast<DWORD>(flood.size() * 2), flood.data()};
  EXPECT_EQ(::SendMessageW(reinterpret_cast<HWND>(window), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), FALSE);
  data.cbData = 3;
  EXPECT_EQ(::SendMessageW(reinterpret_cast<HWND>(window), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), FALSE);
  EXPECT_EQ(icon_events.size(), 2u);
  EXPECT_FALSE(SendWindowText(0, 3, u"x"));
  EXPECT_EQ(GetLastError(), kErrorInvalidWindowHandle);

  // The notice: its title is the line, it never becomes active, and it goes.
  HWND before = ::GetForegroundWindow();
  ASSERT_TRUE(ShowNotice(window, u"Pad: single press \u2192 Notepad", 300));
  HWND notice = ::FindWindowW(L"Velbrook_QuadrakeyNotice", L"Pad: single press \u2192 Notepad");
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(::IsWindowVisible(notice));
  EXPECT_EQ(::GetForegroundWindow(), before);
  EXPECT_NE(::GetWindowLongW(notice, GWL_EXSTYLE) & WS_EX_NOACTIVATE, 0);
  // A second notice replaces the first: one window, the new line.
  ASSERT_TRUE(ShowNotice(window, u"Pad: press and hold \u2192 nothing assigned", 300));
  EXPECT_EQ(::FindWindowW(L"Velbrook_QuadrakeyNotice", L"Pad: single press \u2192 Notepad"), nullptr);
  EXPECT_EQ(::FindWindowW(L"Velbrook_QuadrakeyNotice", nullptr), notice);
  for (int waited = 0; waited < 5000 && ::IsWindowVisible(notice); waited += 100) PumpFor(100);
  EXPECT_FALSE(::IsWindowVisible(notice));

  RemoveTrayIcon(window);
  EXPECT_EQ(::FindWindowW(L"Velbrook_QuadrakeyTrayIcon", nullptr), nullptr);
  EXPECT_TRUE(DestroyMessageWindow(window));
}

// The keyboard waits for a low-level hook's answer (under Wine up to 2 s an
// event). The watcher's own thread starts a launcher for each press, which
// takes a while; were the hook on that thread, every key of the session, and
// the record of the next press's key times, would wait until it was free.
TEST_F(Win32PlatformTest, KeysGoOnWhileTheWatchersThreadIsBusy) {
  key_events.clear();
  const Window window = CreateMessageWindow(u"QkBusyWatcher", HearKeys);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(WatchKeys(window, {kF12})) << GetLastError();
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE presser = ::CreateThread(nullptr, 0, PressTwice, done, 0, nullptr);
  ASSERT_NE(presser, nullptr);
  // Busy: this thread neither looks at its messages nor waits for them. Held
  // up by the hook, four key events take 8 s.
  EXPECT_EQ(::WaitForSingleObject(done, 6000), WAIT_OBJECT_0) << "the keys waited for the watcher's thread";
  ::WaitForSingleObject(presser, 30000);
  ::CloseHandle(presser);
  ::CloseHandle(done);
  // Its window hears them all, in order, once it looks.
  ASSERT_TRUE(SetTimer(window, 9, 100));
  RunMessageLoop();
  const std::string down = std::to_string(kF12), up = std::to_string(kF12 | kKeyEventUp);
  EXPECT_EQ(key_events, (std::vector<std::string>{down, up, down, up}));
  EXPECT_TRUE(WatchKeys(window, {}));
}

// A dialog that took a key hears its every move with its time, before any
// other hook and hot key: the watcher (as the key listener watches its
// keys, in another process on a PC) hears nothing of it until the dialog
// ends, and then hears it again.
constexpr int kTakerDialog = 310;
std::vector<KeyMove> taken_moves;

void HearTaken(Window, const KeyMove& move, void*) { taken_moves.push_back(move); }

DWORD WINAPI PressTakenKey(void* dialog) {
  Sleep(100);  // the dialog is made and waits
  KeybdEvent(kF12, 0, 0, 0);
  KeybdEvent(kF12, 0, 0, 0);  // auto-repeat
  Sleep(30);
  KeybdEvent(kF12, 0, kKeyEventKeyUp, 0);
  Sleep(100);
  ::PostMessageW(static_cast<HWND>(dialog), WM_COMMAND, IDCANCEL, 0);
  return 0;
}

intptr_t TakesF12(Window dialog, const DialogMessage& message) {
  if (message.event == DialogEvent::kInit) {
    EXPECT_FALSE(CaptureKey(dialog, 0, HearTaken, nullptr));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    EXPECT_TRUE(CaptureKey(dialog, kF12, HearTaken, nullptr)) << GetLastError();
    HANDLE presser = ::CreateThread(nullptr, 0, PressTakenKey, reinterpret_cast<void*>(dialog), 0, nullptr);
    if (presser != nullptr) ::CloseHandle(presser);
  }
  if (message.event == DialogEvent::kCommand && message.control == kIdCancel) EndDialog(dialog, 7);
  return 0;
}

TEST_F(Win32PlatformTest, ADialogThatTookAKeyHearsItAloneUntilItEnds) {
  key_events.clear();
  taken_moves.clear();
  const Window watcher = CreateMessageWindow(u"QkTakenWatcher", HearKeys);
  ASSERT_NE(watcher, 0u);
  ASSERT_TRUE(WatchKeys(watcher, {kF12})) << GetLastError();
  EXPECT_FALSE(CaptureKey(watcher, kF12, HearTaken, nullptr)) << "no dialog";
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ERROR_INVALID_WINDOW_HANDLE));
  const uint64_t before = TickCount();
  EXPECT_EQ(RunDialog(0, kTakerDialog, TakesF12, 0), 7);
  ASSERT_EQ(taken_moves.size(), 2u);
  EXPECT_EQ(taken_moves[0].virtual_key, kF12);
  EXPECT_FALSE(taken_moves[0].up);
  EXPECT_TRUE(taken_moves[1].up);
  EXPECT_GE(taken_moves[0].at + 16, before);
  EXPECT_GE(taken_moves[1].at, taken_moves[0].at + 15) << "dated when the key moved";
  EXPECT_EQ(GetAsyncKeyState(kF12) & 0x8000, 0) << "nothing saw the key go down";

  // Given back: the watcher hears it again.
  KeybdEvent(kF12, 0, 0, 0);
  KeybdEvent(kF12, 0, kKeyEventKeyUp, 0);
  ASSERT_TRUE(SetTimer(watcher, 9, 100));
  RunMessageLoop();
  const std::string down = std::to_string(kF12), up = std::to_string(kF12 | kKeyEventUp);
  EXPECT_EQ(key_events, (std::vector<std::string>{down, up}));
  EXPECT_EQ(taken_moves.size(), 2u);
  EXPECT_TRUE(WatchKeys(watcher, {}));
  EXPECT_TRUE(DestroyMessageWindow(watcher));
}

}  // namespace
}  // namespace plat
