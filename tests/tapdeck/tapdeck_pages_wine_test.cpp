// The page scenarios on the win32 build, under Wine on a virtual display:
// tapdeck's main runs in this process against the real registry, drive Q:
// and real controls in a real property sheet; the person acts from inside
// the program. Also what only real windows show: the sheet's layout, and a
// second start of the real program.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
// windows.h would rename these platform operations to their W variants.
#undef CreateProcess
#undef DeleteFile
#undef GetFileAttributes
#undef MessageBox

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/resource.h"
#include "config/tapdeck.h"
#include "platform/person.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "shared/settings.h"
#include "shared/text.h"
#include "tests/shared/device_file.h"
#include "tests/support/log_bound_device_test.h"
#include "tests/tapdeck/refusal_contract.h"
#include "tests/tapdeck/scenario.h"
#include "tests/tapdeck/scenario_runner.h"

namespace {

using tapdeck_scenario::PageScenarios;

const wchar_t kMainClass[] = L"Velbrook_QuadrakeyMainWindowClassname";
// The device's Start Menu, on the test device's drive: each test starts
// without one, as on the host.
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kProgramsValue[] = L"Programs";
const wchar_t kDevicePrograms[] = L"Q:\\Windows\\Start Menu\\Programs";

std::u16string FromUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
  return std::u16string(wide.begin(), wide.end());
}

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool MakeFolder(const std::u16string& path) {
  std::u16string so_far;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\' || path[i] == u'/') {
      // Skip the root and a drive ("", "Q:").
      if (!so_far.empty() && !(so_far.size() == 2 && so_far[1] == u':')) {
        if (!CreateDirectoryW(W(so_far), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
      }
    }
    if (i < path.size()) so_far += path[i] == u'/' ? u'\\' : path[i];
  }
  return true;
}

// The platform writes the device's shortcut form: the target's length, '#',
// the target.
bool ShortcutTarget(const std::u16string& path, std::u16string* target) {
  const std::string bytes = shared_test::ReadDeviceFile(path);
  const size_t hash = bytes.find('#');
  if (bytes == "<missing>" || hash == std::string::npos || hash == 0) return false;
  *target = FromUtf8(bytes.substr(hash + 1));
  return std::to_string(target->size()) == bytes.substr(0, hash);
}

std::u16string LogText(const std::string& bytes) { return FromUtf8(bytes); }

// Posted to the control with the focus, as the keyboard's input reaches it
// (the real keyboard is the Xvfb test's).
void PressKey(uint32_t virtual_key) {
  HWND target = GetFocus();
  if (target == nullptr) target = GetActiveWindow();
  ASSERT_NE(target, nullptr) << "no window takes keys";
  PostMessageW(target, WM_KEYDOWN, virtual_key, 1);
  PostMessageW(target, WM_KEYUP, virtual_key, 0xC0000001);
}

const tapdeck_scenario::ScenarioBackend kWin32 = {tapdeck_scenario::On::kWin32, MakeFolder, ShortcutTarget,
                                                   LogText, PressKey};

std::vector<HWND> MainWindows() {
  std::vector<HWND> found;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (lstrcmpW(name, kMainClass) == 0) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The main window outlives a run (it ends with its process): each test
// starts without the last one's, and without the quit its going posts.
void ForgetMainWindows() {
  for (HWND window : MainWindows()) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) DestroyWindow(window);
  }
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

class TapdeckWine : public LogBoundDeviceTest {
 protected:
  static void SetUpTestSuite() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      wchar_t value[MAX_PATH] = {};
      DWORD size = sizeof value;
      DWORD type = 0;
      if (RegQueryValueExW(key, kProgramsValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
          ERROR_SUCCESS) {
        saved_programs_ = value;
        saved_type_ = type;
      }
      RegCloseKey(key);
    }
  }
  static void TearDownTestSuite() {
    if (saved_programs_.empty()) {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, kProgramsValue);
      return;
    }
    RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, kProgramsValue, saved_type_, saved_programs_.c_str(),
                    static_cast<DWORD>((saved_programs_.size() + 1) * sizeof(wchar_t)));
  }
  void SetUp() override {
    LogBoundDeviceTest::SetUp();
    ForgetMainWindows();
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, kProgramsValue, REG_EXPAND_SZ, kDevicePrograms,
                              sizeof kDevicePrograms),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    plat::person::SetIdleHook(nullptr, nullptr);
    ForgetMainWindows();
    // A Done with buttons added writes the listener's entry in the prefix's
    // start-up list; no later start of the prefix may run it.
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                       L"Quadrakey Key Listener");
    LogBoundDeviceTest::TearDown();
  }

  static std::wstring saved_programs_;
  static DWORD saved_type_;
};
std::wstring TapdeckWine::saved_programs_;
DWORD TapdeckWine::saved_type_ = REG_EXPAND_SZ;

class TapdeckPages : public TapdeckWine, public ::testing::WithParamInterface<size_t> {};

TEST_P(TapdeckPages, Scenario) { tapdeck_scenario::RunScenario(PageScenarios()[GetParam()], kWin32); }

INSTANTIATE_TEST_SUITE_P(Win32, TapdeckPages, ::testing::Range(size_t{0}, PageScenarios().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return PageScenarios()[info.param].name;
                         });

TEST_F(TapdeckWine, PersonActionsAreRefusedAsOnTheHost) { refusal_contract::RunRefusalContract(); }

// ---- What only real windows show ------------------------------------------------

const std::u16string kAppFolder = u"\\Program Files\\Quadrakey";
// In the user's folder for logs, wherever the programs are.
std::u16string TapdeckLog() { return GetLogFilePath(u"tapdeck.log"); }

void MakeAppFolder() {
  ASSERT_TRUE(MakeFolder(kAppFolder));
  ASSERT_TRUE(WriteRegString(plat::RegRoot::Product, kSettingsKey, u"AppFolder", kAppFolder));
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  std::string out;
  for (const wchar_t* p = name; *p != L'\0'; ++p) out += static_cast<char>(*p);
  return out;
}

RECT ScreenRect(HWND window) {
  RECT box;
  GetWindowRect(window, &box);
  return box;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

std::string Describe(const RECT& box) {
  return "(" + std::to_string(box.left) + "," + std::to_string(box.top) + ")-(" + std::to_string(box.right) + "," +
         std::to_string(box.bottom) + ")";
}

RECT ClientOnScreen(HWND window) {
  RECT box;
  GetClientRect(window, &box);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&box), 2);
  return box;
}

// Whether the control shows all of its text in its own font, wrapped as a
// label wraps it: no line of a label is out of sight (the last line's
// descenders may touch the edge: a two-line label of the templates is two
// lines high less them), no check box text is cut.
bool TextFits(HWND control) {
  const std::string kind = ClassOf(control);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  const bool label = kind == "Static" && (style & SS_TYPEMASK) <= SS_RIGHT;
  const bool check_box = kind == "Button" && ((style & BS_TYPEMASK) == BS_AUTOCHECKBOX);
  if (!label && !check_box) return true;
  wchar_t text[1024] = {};
  if (GetWindowTextW(control, text, 1024) == 0) return true;
  RECT client;
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT need = {0, 0, client.right, 0};
  DrawTextW(dc, text, -1, &need, DT_CALCRECT | (label ? DT_WORDBREAK | DT_EXPANDTABS : DT_SINGLELINE));
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  if (label) return need.bottom - metrics.tmDescent <= client.bottom;
  return need.right + GetSystemMetrics(SM_CXMENUCHECK) + 4 <= client.right;
}

// The dialog's scroll range on one axis: its length, and the part in view;
// {0, 0} when the dialog does not scroll that way.
struct Range {
  int length = 0, page = 0;
};
Range ScrollRange(HWND dialog, int bar) {
  const LONG style = GetWindowLongW(dialog, GWL_STYLE);
  if (!(style & (bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL))) return {};
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE;
  if (!GetScrollInfo(dialog, bar, &info) || info.nMax <= info.nMin) return {};
  return {info.nMax + 1, static_cast<int>(info.nPage)};
}

// On one axis, all of the control (from `low` to `high` in the dialog's
// client, unscrolled) can be seen: inside the view where the dialog does
// not scroll that way, inside the scroll range where it does (on a screen
// of the device's size a control may be wider than the view).
bool AxisSeen(int low, int high, int view, const Range& range) {
  return low >= 0 && high <= (range.length == 0 ? view : range.length);
}

// The lowest and rightmost edge of the dialog's controls, in its client.
POINT FarEdge(HWND dialog) {
  const RECT client = ClientOnScreen(dialog);
  POINT edge = {0, 0};
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == "SIPPREF") continue;
    const RECT box = ScreenRect(child);
    edge.x = std::max<LONG>(edge.x, box.right - client.left);
    edge.y = std::max<LONG>(edge.y, box.bottom - client.top);
  }
  return edge;
}

// A dialog that scrolls brings its far edge into view at the end of its
// bars, and its controls back to their places at the start.
void ExpectScrollingReachesTheEnd(HWND dialog, const std::string& where) {
  const bool across = ScrollRange(dialog, SB_HORZ).length != 0, down = ScrollRange(dialog, SB_VERT).length != 0;
  if (!across && !down) return;
  const POINT start = FarEdge(dialog);
  if (across) SendMessageW(dialog, WM_HSCROLL, SB_BOTTOM, 0);
  if (down) SendMessageW(dialog, WM_VSCROLL, SB_BOTTOM, 0);
  const POINT end = FarEdge(dialog);
  RECT client;
  GetClientRect(dialog, &client);
  if (across) {
    EXPECT_LE(end.x, client.right) << where << ": the right end stays out of view";
  }
  if (down) {
    EXPECT_LE(end.y, client.bottom) << where << ": the bottom stays out of view";
  }
  SendMessageW(dialog, WM_HSCROLL, SB_TOP, 0);
  SendMessageW(dialog, WM_VSCROLL, SB_TOP, 0);
  const POINT back = FarEdge(dialog);
  EXPECT_EQ(back.x, start.x) << where;
  EXPECT_EQ(back.y, start.y) << where;
}

// Every control of the dialog (the hidden input panel control aside) can be
// seen, at once or by scrolling the dialog, and holds its whole text; the
// dialog's own client area lies inside `visible`, the part of the screen
// where it shows. A screen with room for the pages leaves nothing to scroll.
void ExpectControlsWhole(HWND dialog, const RECT& visible, const std::string& where) {
  const RECT client = ClientOnScreen(dialog);
  EXPECT_TRUE(Inside(client, visible)) << where << ": its area " << Describe(client) << " is cut by "
                                       << Describe(visible);
  const Range across = ScrollRange(dialog, SB_HORZ), down = ScrollRange(dialog, SB_VERT);
  int controls = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == "SIPPREF") {
      EXPECT_FALSE(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) << where << ": the input panel control shows";
      continue;
    }
    ++controls;
    const std::string name = where + ": control " + std::to_string(GetDlgCtrlID(child)) + " (" + ClassOf(child) + ")";
    RECT box = ScreenRect(child);
    OffsetRect(&box, -client.left, -client.top);
    const bool fixed = GetDlgCtrlID(child) == IDOK || GetDlgCtrlID(child) == IDCANCEL;
    const bool whole = fixed ? box.left >= 0 && box.top >= 0 && box.right <= client.right - client.left &&
                                   box.bottom <= client.bottom - client.top
                             : AxisSeen(box.left, box.right, client.right - client.left, across) &&
                                   AxisSeen(box.top, box.bottom, client.bottom - client.top, down);
    EXPECT_TRUE(whole) << name << " at " << Describe(box) << " cannot be seen in " << Describe(client);
    EXPECT_TRUE(TextFits(child)) << name << " cannot hold its text";
  }
  EXPECT_GT(controls, 0) << where;
}

// The layout a person sees: each page of the sheet, then the rotation
// choice, checked on the real windows while they are open.
struct LayoutCheck {
  static constexpr int kPages = 5;  // Settings, Add Buttons, Options, Help, About
  int pages_checked = 0;
  int scrolling = 0;  // pages and dialogs that scroll
  bool rotation_checked = false;
  bool rotation_asked = false;

  static void OnIdle(void* context) { static_cast<LayoutCheck*>(context)->Idle(); }

  void Idle() {
    const plat::person::Screen screen = plat::person::CurrentScreen();
    std::u16string error;
    if (screen.kind == plat::person::ScreenKind::kDialog) {
      CheckRotation(reinterpret_cast<HWND>(screen.dialog));
      plat::person::Action cancel;
      cancel.kind = plat::person::ActionKind::kCancel;
      EXPECT_TRUE(plat::person::Act(cancel, &error));
      return;
    }
    ASSERT_EQ(screen.kind, plat::person::ScreenKind::kPageSet);
    HWND page = reinterpret_cast<HWND>(screen.dialog);
    HWND sheet = GetAncestor(page, GA_ROOT);
    if (pages_checked == 0) CheckSheet(sheet);
    if (!rotation_asked) {
      rotation_asked = true;
      plat::person::Action select;
      select.kind = plat::person::ActionKind::kSelect;
      select.control = IDC_SINGLE_PRESS;
      select.text = u"<Rotate Screen>";
      EXPECT_TRUE(plat::person::Act(select, &error)) << std::string(error.begin(), error.end());
      return;
    }
    plat::person::Action cancel;
    cancel.kind = plat::person::ActionKind::kCancel;
    EXPECT_TRUE(plat::person::Act(cancel, &error));
  }

  void CheckSheet(HWND sheet) {
    wchar_t caption[64] = {};
    GetWindowTextW(sheet, caption, 64);
    EXPECT_STREQ(caption, L"Quadrakey");
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const RECT client = ClientOnScreen(sheet);
    RECT sheet_area;
    IntersectRect(&sheet_area, &screen, &client);
    HWND tab = PropSheet_GetTabControl(sheet);
    ASSERT_NE(tab, nullptr);
    EXPECT_TRUE(GetWindowLongW(tab, GWL_STYLE) & TCS_BOTTOM) << "the tabs are not at the bottom";
    EXPECT_EQ(TabCtrl_GetItemCount(tab), kPages);

    // Done and leaving: OK and Cancel only, whole.
    for (int id : {IDOK, IDCANCEL}) {
      HWND button = GetDlgItem(sheet, id);
      ASSERT_NE(button, nullptr) << "button " << id;
      EXPECT_TRUE(IsWindowVisible(button)) << "button " << id;
      EXPECT_TRUE(Inside(ScreenRect(button), sheet_area)) << "button " << id << " is cut";
    }
    for (int id : {0x3021 /* Apply */, IDHELP}) {
      HWND button = GetDlgItem(sheet, id);
      EXPECT_TRUE(button == nullptr || !IsWindowVisible(button)) << "button " << id << " shows";
    }

    RECT display;
    GetClientRect(tab, &display);
    TabCtrl_AdjustRect(tab, FALSE, &display);
    MapWindowPoints(tab, nullptr, reinterpret_cast<POINT*>(&display), 2);
    RECT tabs_row;
    TabCtrl_GetItemRect(tab, 0, &tabs_row);
    MapWindowPoints(tab, nullptr, reinterpret_cast<POINT*>(&tabs_row), 2);
    for (int i = 0; i < kPages; ++i) {
      PropSheet_SetCurSel(sheet, nullptr, i);
      HWND page = PropSheet_GetCurrentPageHwnd(sheet);
      ASSERT_NE(page, nullptr);
      EXPECT_GE(tabs_row.top, ScreenRect(page).bottom) << "page " << i << " reaches below the tabs";
      RECT visible;
      IntersectRect(&visible, &sheet_area, &display);
      ExpectControlsWhole(page, visible, "page " + std::to_string(i));
      if (ScrollRange(page, SB_HORZ).length != 0 || ScrollRange(page, SB_VERT).length != 0) ++scrolling;
      ExpectScrollingReachesTheEnd(page, "page " + std::to_string(i));
      ++pages_checked;
    }
    // What a person sees first.
    PropSheet_SetCurSel(sheet, nullptr, 0);
  }

  void CheckRotation(HWND dialog) {
    rotation_checked = true;
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const RECT client = ClientOnScreen(dialog);
    RECT visible;
    IntersectRect(&visible, &screen, &client);
    ExpectControlsWhole(dialog, visible, "the rotation choice");
    if (ScrollRange(dialog, SB_HORZ).length != 0 || ScrollRange(dialog, SB_VERT).length != 0) ++scrolling;
    ExpectScrollingReachesTheEnd(dialog, "the rotation choice");
    // The desktop's Done: OK (command 1) and Cancel.
    wchar_t text[16] = {};
    GetWindowTextW(GetDlgItem(dialog, IDOK), text, 16);
    EXPECT_STREQ(text, L"OK");
    EXPECT_NE(GetDlgItem(dialog, IDCANCEL), nullptr);
  }
};

TEST_F(TapdeckWine, EveryControlOfEveryPageAndOfTheRotationChoiceCanBeSeen) {
  MakeAppFolder();
  LayoutCheck check;
  plat::person::SetIdleHook(&LayoutCheck::OnIdle, &check);
  EXPECT_EQ(RunTapdeck(), 0);
  plat::person::SetIdleHook(nullptr, nullptr);
  EXPECT_EQ(check.pages_checked, LayoutCheck::kPages);
  EXPECT_TRUE(check.rotation_checked);
  // Where the screen has room (480 x 640 and up), nothing scrolls.
  if (GetSystemMetrics(SM_CXSCREEN) >= 480 && GetSystemMetrics(SM_CYSCREEN) >= 640) {
    EXPECT_EQ(check.scrolling, 0) << "a page or the rotation choice scrolls on a screen with room for it";
  }
}

// A message box stays within the screen, its text wrapped and whole: on the
// device's 240 x 320 screen the system would make the reboot notice wider
// than the screen.
TEST_F(TapdeckWine, MessageBoxesStayWithinTheScreen) {
  struct Seen {
    RECT box = {};
    RECT buttons = {};
    std::string caption;
    bool text_fits = false;
    int boxes = 0;
  } seen;
  plat::person::SetIdleHook(
      [](void* context) {
        Seen& seen = *static_cast<Seen*>(context);
        ASSERT_EQ(plat::person::CurrentScreen().kind, plat::person::ScreenKind::kMessageBox);
        HWND box = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM found) -> BOOL {
              if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
              *reinterpret_cast<HWND*>(found) = window;
              return FALSE;
            },
            reinterpret_cast<LPARAM>(&box));
        ASSERT_NE(box, nullptr);
        ++seen.boxes;
        seen.box = ScreenRect(box);
        wchar_t caption[64] = {};
        GetWindowTextW(box, caption, 64);
        for (const wchar_t* p = caption; *p != L'\0'; ++p) seen.caption += static_cast<char>(*p);
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
          if (ClassOf(child) == "Button") {
            const RECT place = ScreenRect(child);
            UnionRect(&seen.buttons, IsRectEmpty(&seen.buttons) ? &place : &seen.buttons, &place);
          } else if (ClassOf(child) == "Static" && GetWindowTextLengthW(child) > 0) {
            seen.text_fits = TextFits(child);
          }
        }
        plat::person::Action answer;
        answer.kind = plat::person::ActionKind::kAnswer;
        std::u16string error;
        EXPECT_TRUE(plat::person::Act(answer, &error));
      },
      &seen);
  const std::u16string caption = u"Quadrakey";
  const std::u16string notice =
      u"You have either assigned the <Record> function to a new button, or removed it from an existing button. "
      u"On some devices, you may now have to reboot in order to have that change take effect.";
  EXPECT_EQ(plat::MessageBoxOwned(0, notice, &caption, plat::kMbIconInformation), plat::kIdOk);
  plat::person::SetIdleHook(nullptr, nullptr);

  ASSERT_EQ(seen.boxes, 1);
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  EXPECT_TRUE(Inside(seen.box, screen)) << "the box " << Describe(seen.box) << " reaches past " << Describe(screen);
  EXPECT_TRUE(Inside(seen.buttons, seen.box)) << "its buttons " << Describe(seen.buttons) << " are outside it";
  EXPECT_TRUE(seen.text_fits) << "its text is cut";
  EXPECT_EQ(seen.caption, "Quadrakey");
}

// The main window's place and the start of the log, with this platform's
// version; a hot key reaching the real window shows its message box.
TEST_F(TapdeckWine, MainWindowHotKeyAndTheStartOfTheLog) {
  MakeAppFolder();
  ASSERT_TRUE(shared_test::WriteDeviceFile(TapdeckLog(), u"the last run\n"));
  struct Seen {
    RECT main = {};
    std::string main_class;
    plat::person::Screen box;
    int calls = 0;
  } seen;
  plat::person::SetIdleHook(
      [](void* context) {
        Seen& seen = *static_cast<Seen*>(context);
        std::u16string error;
        plat::person::Action act;
        const plat::person::Screen screen = plat::person::CurrentScreen();
        if (++seen.calls == 1) {
          HWND main = FindWindowW(kMainClass, nullptr);
          seen.main = ScreenRect(main);
          seen.main_class = ClassOf(main);
          PostMessageW(main, WM_HOTKEY, 42, 0);
          return;
        }
        if (screen.kind == plat::person::ScreenKind::kMessageBox) {
          seen.box = screen;
          act.kind = plat::person::ActionKind::kAnswer;
        } else {
          act.kind = plat::person::ActionKind::kCancel;
        }
        EXPECT_TRUE(plat::person::Act(act, &error));
      },
      &seen);
  EXPECT_EQ(RunTapdeck(), 0);
  plat::person::SetIdleHook(nullptr, nullptr);

  const plat::WorkArea area = plat::GetWorkArea();
  EXPECT_EQ(seen.main_class, "Velbrook_QuadrakeyMainWindowClassname");
  EXPECT_EQ(seen.main.left, area.left);
  EXPECT_EQ(seen.main.top, area.top);
  EXPECT_EQ(seen.main.right - seen.main.left, area.width);
  EXPECT_EQ(seen.main.bottom - seen.main.top, area.height - 26);
  EXPECT_EQ(seen.box.kind, plat::person::ScreenKind::kMessageBox);
  EXPECT_TRUE(seen.box.text == u"HotKey!");
  EXPECT_TRUE(seen.box.caption == u"42");
  EXPECT_EQ(seen.box.flags, 0x40000u);

  const plat::Version version = plat::GetVersion();
  std::string start = "CE " + std::to_string(version.major) + "." + std::to_string(version.minor) + ", build " +
                      std::to_string(version.build) + ", platform " + std::to_string(version.platform_id) + "\n";
  if (!version.service_pack.empty()) {
    start += "   (";
    for (char16_t c : version.service_pack) start += static_cast<char>(c);
    start += ")\n";
  }
  std::u16string programs;
  ASSERT_TRUE(ReadAppFolder(programs));
  for (char16_t c : programs) start += static_cast<char>(c);
  start += "\nShortcut list:\n\n";
  const std::string log = shared_test::ReadDeviceFile(TapdeckLog());
  EXPECT_EQ(log.rfind(start, 0), 0u) << log.substr(0, 200);
  EXPECT_EQ(log.find("the last run"), std::string::npos);
}

// The close box is leaving without Done: nothing is applied.
TEST_F(TapdeckWine, TheSheetsCloseBoxLeavesWithoutDone) {
  MakeAppFolder();
  int calls = 0;
  plat::person::SetIdleHook(
      [](void* context) {
        if (++*static_cast<int*>(context) > 1) return;
        const plat::person::Screen screen = plat::person::CurrentScreen();
        ASSERT_EQ(screen.kind, plat::person::ScreenKind::kPageSet);
        SendMessageW(GetAncestor(reinterpret_cast<HWND>(screen.dialog), GA_ROOT), WM_SYSCOMMAND, SC_CLOSE, 0);
      },
      &calls);
  EXPECT_EQ(RunTapdeck(), 0);
  plat::person::SetIdleHook(nullptr, nullptr);
  EXPECT_EQ(calls, 1);
  uint32_t hold = 0;
  EXPECT_FALSE(ReadRegDword(plat::RegRoot::Product, kSettingsKey, u"HoldInterval", hold)) << "applied: " << hold;
}

// ---- A second start of the real program -------------------------------------------

std::wstring WinePath(const char* linux_path) {
  std::wstring out = L"Z:";
  for (const char* p = linux_path; *p != '\0'; ++p) out += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return out;
}

HANDLE StartTapdeck() {
  const std::wstring program = WinePath(QK_TAPDECK_EXE);
  std::wstring line = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, L"Q:\\", &startup,
                      &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// The first copy's sheet: a shown dialog window that its main window owns.
HWND SheetOf(HWND main) {
  struct Search {
    HWND main, sheet;
  } search = {main, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        if (GetWindow(window, GW_OWNER) != search->main || !IsWindowVisible(window) || ClassOf(window) != "#32770")
          return TRUE;
        search->sheet = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.sheet;
}

// What a failure says of a window: its class, title and process.
std::string DescribeWindow(HWND window) {
  if (window == nullptr) return "no window";
  wchar_t title[128] = {};
  GetWindowTextW(window, title, 128);
  std::string text;
  for (const wchar_t* p = title; *p != L'\0'; ++p) text += *p < 128 ? static_cast<char>(*p) : '?';
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return ClassOf(window) + " \"" + text + "\" of process " + std::to_string(pid) +
         (pid == GetCurrentProcessId() ? " (this test)" : "");
}

DWORD AwaitExit(HANDLE process) {
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
  return code;
}

TEST_F(TapdeckWine, SecondStartBringsTheRunningCopyToTheFrontAndLeavesItsLog) {
  MakeAppFolder();
  HANDLE first = StartTapdeck();
  ASSERT_NE(first, nullptr) << "cannot start " << QK_TAPDECK_EXE << ", error " << GetLastError();
  HWND main = nullptr, sheet = nullptr;
  for (int i = 0; i < 300 && sheet == nullptr; ++i) {
    main = FindWindowW(kMainClass, nullptr);
    if (main != nullptr) sheet = SheetOf(main);
    if (sheet == nullptr) Sleep(100);
  }
  if (sheet == nullptr) {
    TerminateProcess(first, 1);
    CloseHandle(first);
    FAIL() << "the first copy showed no sheet within 30 s";
  }
  const std::string log = shared_test::ReadDeviceFile(TapdeckLog());
  EXPECT_NE(log, "<missing>");

  // Something else is in front when the second copy starts.
  HWND other = CreateWindowExW(0, L"Static", L"elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  for (int i = 0; i < 300 && GetForegroundWindow() != other; ++i) {
    SetForegroundWindow(other);
    if (GetForegroundWindow() != other) Sleep(100);
  }
  if (GetForegroundWindow() != other) {
    const std::string front = DescribeWindow(GetForegroundWindow());
    DestroyWindow(other);
    TerminateProcess(first, 1);
    CloseHandle(first);
    FAIL() << "this test's window did not come to the front within 30 s; in front: " << front;
  }
  HANDLE second = StartTapdeck();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(AwaitExit(second), 0u) << "exit code of the second start";
  CloseHandle(second);

  EXPECT_EQ(MainWindows().size(), 1u) << "more than one copy runs";
  // The second copy hands the front over; the first copy takes it when it
  // next runs, which on a busy machine can be after the second has ended.
  auto in_front = [main] {
    HWND front = GetForegroundWindow();
    return front != nullptr && (front == main || GetAncestor(front, GA_ROOTOWNER) == main);
  };
  for (int i = 0; i < 300 && !in_front(); ++i) Sleep(100);
  EXPECT_TRUE(in_front()) << "the first copy is not in front after 30 s; in front: "
                          << DescribeWindow(GetForegroundWindow());
  EXPECT_EQ(shared_test::ReadDeviceFile(TapdeckLog()), log) << "the second start touched the log";
  DestroyWindow(other);

  // The first copy goes on as before: leaving its sheet ends it with 0.
  PostMessageW(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(AwaitExit(first), 0u) << "exit code of the first copy";
  TerminateProcess(first, 1);
  CloseHandle(first);
}

// Starts that race: exactly one copy stays, the others end with 0.
TEST_F(TapdeckWine, StartsThatRaceLeaveExactlyOneCopy) {
  MakeAppFolder();
  constexpr int kStarts = 12;
  std::vector<HANDLE> copies;
  for (int i = 0; i < kStarts; ++i) {
    HANDLE copy = StartTapdeck();
    ASSERT_NE(copy, nullptr) << "cannot start " << QK_TAPDECK_EXE << ", error " << GetLastError();
    copies.push_back(copy);
  }
  // All but one end by themselves.
  auto finished = [&copies] {
    int count = 0;
    for (HANDLE copy : copies) count += WaitForSingleObject(copy, 0) == WAIT_OBJECT_0 ? 1 : 0;
    return count;
  };
  for (int i = 0; i < 300 && finished() < kStarts - 1; ++i) Sleep(100);
  Sleep(500);  // a copy too many would still be making its window
  HANDLE stays = nullptr;
  int ended = 0;
  for (HANDLE copy : copies) {
    if (WaitForSingleObject(copy, 0) == WAIT_OBJECT_0) {
      DWORD code = 99;
      GetExitCodeProcess(copy, &code);
      EXPECT_EQ(code, 0u) << "exit code of a start that found the first copy";
      ++ended;
    } else {
      stays = copy;
    }
  }
  EXPECT_EQ(ended, kStarts - 1);
  EXPECT_EQ(MainWindows().size(), 1u) << "more than one main window";
  HWND sheet = nullptr;
  for (int i = 0; i < 300 && sheet == nullptr && !MainWindows().empty(); ++i) {
    sheet = SheetOf(MainWindows()[0]);
    if (sheet == nullptr) Sleep(100);
  }
  if (sheet != nullptr) PostMessageW(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  if (stays != nullptr) {
    EXPECT_EQ(AwaitExit(stays), 0u) << "exit code of the copy that stayed";
  }
  for (HANDLE copy : copies) {
    TerminateProcess(copy, 1);
    CloseHandle(copy);
  }
}

}  // namespace
