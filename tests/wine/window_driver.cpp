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
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    const bool combo = lstrcmpiW(name, L"ComboBox") == 0;
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
  if ((command == L"cancel" || command == L"answer") && argc == 3) {
    HWND dialog = FindDialog(nullptr, argv[2]);
    if (dialog == nullptr) return Fail("no such dialog");
    const int button = command == L"cancel" ? IDCANCEL : IDOK;
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
