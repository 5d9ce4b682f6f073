// Acts on a running tapdeck from another process, as a person's clicks
// would, for scripts that show its screens (scripts/screenshots.sh):
//   window_driver tab N           show page N of the sheet
//   window_driver select ID LINE  select line LINE (a number, or the line's
//                                 whole text) of list or combo box ID on
//                                 the page in front, which is told so
//   window_driver click ID        click button ID on the page in front
//   window_driver done            the sheet's OK (Done)
//   window_driver cancel TITLE    leave the dialog titled TITLE that is in
//                                 front (shown and enabled)
//   window_driver answer TITLE    OK on the message box titled TITLE
//   window_driver no TITLE        No on the message box titled TITLE
//   window_driver minimise        the sheet's minimise button
//   window_driver facts           prints the sheet's window facts, one
//                                 "name value" a line
//   window_driver lines ID        prints the lines of list or combo box ID
//                                 on the page in front, one a line
// Actions are posted, so a dialog they open does not hold this program.
// A window still opening is waited for (up to 20 s): a loaded machine may
// show the main window well before the sheet.
// Exit code 0 when the action was sent, 1 when its window was not found,
// 2 for a bad command line.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t kMainClass[] = L"Velbrook_QuadrakeyMainWindowClassname";

struct Search {
  HWND owner;
  const wchar_t* title;
  HWND found;
};

bool IsDialog(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  return lstrcmpW(name, L"#32770") == 0;
}

// A shown, enabled dialog window owned by `owner` and titled `title` (each
// when given). A window with a modal one over it is not enabled.
HWND FindDialog(HWND owner, const wchar_t* title) {
  Search search = {owner, title, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        if (!IsWindowVisible(window) || !IsWindowEnabled(window) || !IsDialog(window)) return TRUE;
        if (search->owner != nullptr && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
        if (search->title != nullptr) {
          wchar_t text[256] = {};
          GetWindowTextW(window, text, 256);
          if (lstrcmpW(text, search->title) != 0) return TRUE;
        }
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Sheet() {
  HWND main_window = FindWindowW(kMainClass, nullptr);
  return main_window != nullptr ? FindDialog(main_window, L"Quadrakey") : nullptr;
}

bool IsCombo(HWND control) {
  wchar_t name[16] = {};
  GetClassNameW(control, name, 16);
  return lstrcmpiW(name, L"ComboBox") == 0;
}

int Fail(const char* what) {
  std::fprintf(stderr, "window_driver: %s\n", what);
  return 1;
}

// Control `id` of the sheet's page in front, and that page; null when none.
HWND PageControl(int id, HWND* page) {
  HWND sheet = Sheet();
  *page = sheet != nullptr ? reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) : nullptr;
  return *page != nullptr ? GetDlgItem(*page, id) : nullptr;
}

}  // namespace

int Act(int argc, wchar_t** argv, bool last_try) {
  const std::wstring command = argv[1];
  auto Fail = [last_try](const char* what) { return last_try ? ::Fail(what) : 1; };
  if (command == L"tab" && argc == 3) {
    HWND sheet = Sheet();
    if (sheet == nullptr) return Fail("no sheet");
    PostMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(_wtoi(argv[2])), 0);
    return 0;
  }
  if (command == L"select" && argc == 4) {
    const int id = _wtoi(argv[2]);
    HWND page = nullptr;
    HWND control = PageControl(id, &page);
    if (control == nullptr) return Fail("no such control on the page in front");
    const bool combo = IsCombo(control);
    const std::wstring wanted = argv[3];
    LRESULT line = _wtoi(argv[3]);
    if (wanted.find_first_not_of(L"0123456789") != std::wstring::npos) {
      line = SendMessageW(control, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(wanted.c_str()));
      if (line < 0) return Fail("no line of that text");
    }
    SendMessageW(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(line), 0);
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (command == L"click" && argc == 3) {
    const int id = _wtoi(argv[2]);
    HWND page = nullptr;
    HWND control = PageControl(id, &page);
    if (control == nullptr) return Fail("no such control on the page in front");
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (command == L"done" && argc == 2) {
    HWND sheet = Sheet();
    if (sheet == nullptr) return Fail("no sheet");
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    return 0;
  }
  if (command == L"minimise" && argc == 2) {
    HWND sheet = Sheet();
    if (sheet == nullptr) return Fail("no sheet");
    PostMessageW(sheet, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return 0;
  }
  if (command == L"facts" && argc == 2) {
    HWND sheet = Sheet();
    if (sheet == nullptr) return Fail("no sheet");
    RECT frame, area;
    GetWindowRect(sheet, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const LONG style = GetWindowLongW(sheet, GWL_STYLE), ex_style = GetWindowLongW(sheet, GWL_EXSTYLE);
    // A page that scrolls shows less than its template places.
    int scrolled = 0;
    for (int i = 0; HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, i, 0)); ++i)
      scrolled += (GetWindowLongW(page, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL)) != 0 ? 1 : 0;
    HWND main_window = FindWindowW(kMainClass, nullptr);
    std::printf("left %ld\ntop %ld\nwidth %ld\nheight %ld\n", frame.left, frame.top, frame.right - frame.left,
                frame.bottom - frame.top);
    std::printf("area_left %ld\narea_top %ld\narea_width %ld\narea_height %ld\n", area.left, area.top,
                area.right - area.left, area.bottom - area.top);
    std::printf("minimise_box %d\napp_window %d\niconic %d\nforeground %d\n", (style & WS_MINIMIZEBOX) != 0,
                (ex_style & WS_EX_APPWINDOW) != 0, IsIconic(sheet) != 0, GetForegroundWindow() == sheet);
    std::printf("main_visible %d\nscrolled_pages %d\n", IsWindowVisible(main_window) != 0, scrolled);
    std::fflush(stdout);
    return 0;
  }
  if (command == L"lines" && argc == 3) {
    const int id = _wtoi(argv[2]);
    HWND page = nullptr;
    HWND control = PageControl(id, &page);
    if (control == nullptr) return Fail("no such control on the page in front");
    const bool combo = IsCombo(control);
    const LRESULT count = SendMessageW(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t text[512] = {};
      if (SendMessageW(control, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0) >= 511) continue;
      SendMessageW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
      char utf8[2048] = {};
      WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
      std::printf("%s\n", utf8);
    }
    std::fflush(stdout);
    return 0;
  }
  if ((command == L"cancel" || command == L"answer" || command == L"no") && argc == 3) {
    HWND dialog = FindDialog(nullptr, argv[2]);
    if (dialog == nullptr) return Fail("no such dialog");
    const int button = command == L"cancel" ? IDCANCEL : command == L"no" ? IDNO : IDOK;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    return 0;
  }
  return 2;
}

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 2;
  const DWORD start = GetTickCount();
  for (;;) {
    const bool last_try = GetTickCount() - start >= 20000;
    const int result = Act(argc, argv, last_try);
    if (result != 1 || last_try) return result;
    Sleep(100);
  }
}
