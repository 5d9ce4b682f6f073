// A person's actions on the real windows in front, sent as the system
// sends them when a person acts, and the idle hook.
//
// The modal loops are the system's (the sheet's, DialogBox's, MessageBox's,
// the file dialog's), so the program's waits are found through a thread
// timer: every one of those loops dispatches it, and the system makes a
// timer message only when nothing else is queued. Its procedure calls the
// hook when the window in front is made, shown and enabled, at most once
// per loop at a time: the hook is re-entered only from a newer loop, one
// that an action of it opened.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/common/person_rules.h"
#include "platform/person.h"
#include "platform/win32/ui_internal.h"

namespace {

using plat::person::Action;
using plat::person::ActionKind;
using win32::ui::Frame;
using win32::ui::FrameKind;

// ---- Texts and classes ----
std::u16string TextOf(HWND window) {
  wchar_t text[1024] = {};
  const int length = ::GetWindowTextW(window, text, 1024);
  return std::u16string(reinterpret_cast<const char16_t*>(text), length > 0 ? static_cast<size_t>(length) : 0);
}

bool HasClass(HWND window, const wchar_t* name) {
  wchar_t found[64] = {};
  ::GetClassNameW(window, found, 64);
  return lstrcmpiW(found, name) == 0;
}

bool Refuse(std::u16string* error, const std::u16string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

// ---- What is in front ----
HWND CurrentPage(const Frame& frame) {
  if (frame.window == nullptr) return nullptr;
  return PropSheet_GetCurrentPageHwnd(frame.window);
}

int CurrentPageIndex(const Frame& frame) {
  HWND page = CurrentPage(frame);
  return page != nullptr ? PropSheet_HwndToIndex(frame.window, page) : -1;
}

// The text a message box shows: its static control that is no icon.
std::u16string MessageBoxText(HWND box) {
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!HasClass(child, L"Static") || (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    std::u16string text = TextOf(child);
    if (!text.empty()) return text;
  }
  return {};
}

std::vector<std::u16string> TabTitles(HWND sheet) {
  std::vector<std::u16string> titles;
  HWND tab = PropSheet_GetTabControl(sheet);
  if (tab == nullptr) return titles;
  const int count = TabCtrl_GetItemCount(tab);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 256;
    ::SendMessageW(tab, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    titles.push_back(reinterpret_cast<const char16_t*>(text));
  }
  return titles;
}

// The page in front of the page set, or the dialog in front; null otherwise.
HWND FrontDialog() {
  Frame* front = win32::ui::Front();
  if (front == nullptr || front->window == nullptr) return nullptr;
  if (front->kind == FrameKind::kPageSet) return CurrentPage(*front);
  if (front->kind == FrameKind::kDialog) return front->window;
  return nullptr;
}

HWND FrontControl(int id) {
  HWND dialog = FrontDialog();
  return dialog != nullptr && id != -1 ? ::GetDlgItem(dialog, id) : nullptr;
}

plat::common::ControlKind KindOf(HWND control) {
  using plat::common::ControlKind;
  const LONG style = ::GetWindowLongW(control, GWL_STYLE);
  if (HasClass(control, L"Static")) {
    const LONG type = style & SS_TYPEMASK;
    const bool frame = (type >= SS_BLACKRECT && type <= SS_WHITEFRAME) || (type >= SS_ETCHEDHORZ && type <= SS_ETCHEDFRAME);
    return frame ? ControlKind::kLine : ControlKind::kLabel;
  }
  if (HasClass(control, L"Button")) {
    switch (style & BS_TYPEMASK) {
      case BS_PUSHBUTTON:
      case BS_DEFPUSHBUTTON: return ControlKind::kButton;
      case BS_GROUPBOX: return ControlKind::kLabel;
      default: return ControlKind::kCheckBox;  // check boxes, three-state and radio buttons
    }
  }
  if (HasClass(control, L"Edit")) return ControlKind::kEdit;
  if (HasClass(control, L"ListBox")) return ControlKind::kListBox;
  if (HasClass(control, L"ComboBox")) return ControlKind::kComboBox;
  if (HasClass(control, TRACKBAR_CLASSW)) return ControlKind::kTrackbar;
  return ControlKind::kCustom;
}

bool HasUsableButton(HWND dialog, int id) {
  HWND button = ::GetDlgItem(dialog, id);
  return button != nullptr && (::GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) && ::IsWindowEnabled(button);
}

// A visible window of this thread that nothing owns: the program's main window.
HWND MainWindow() {
  HWND main = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM found) -> BOOL {
        if (::GetWindow(window, GW_OWNER) != nullptr || !::IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&main));
  return main;
}

// The real windows as the common rules ask about them.
class Win32View final : public plat::common::PersonView {
 public:
  plat::person::ScreenKind FrontKind() override { return plat::person::CurrentScreen().kind; }
  bool FrontOpen() override {
    Frame* front = win32::ui::Front();
    return front != nullptr && front->window != nullptr;
  }
  std::u16string FrontTitle() override {
    Frame* front = win32::ui::Front();
    if (front == nullptr || front->window == nullptr) return {};
    if (front->kind != FrameKind::kPageSet) return TextOf(front->window);
    const int index = CurrentPageIndex(*front);
    return index >= 0 && index < static_cast<int>(front->pages.size()) ? front->pages[index].title : u"";
  }
  std::vector<std::u16string> Tabs() override {
    Frame* front = win32::ui::Front();
    return front != nullptr && front->window != nullptr ? TabTitles(front->window) : std::vector<std::u16string>();
  }
  bool HasDoneButton() override {
    HWND dialog = FrontDialog();
    return dialog != nullptr && HasUsableButton(dialog, IDOK);
  }
  bool HasMainWindow() override { return MainWindow() != nullptr; }
  bool MessageBoxHasNo() override {
    Frame* front = win32::ui::Front();
    return front != nullptr && front->kind == FrameKind::kMessageBox && front->window != nullptr &&
           ::GetDlgItem(front->window, IDNO) != nullptr;
  }
  bool FindControl(int id, plat::common::ControlFacts* facts) override {
    HWND control = FrontControl(id);
    if (control == nullptr) return false;
    facts->kind = KindOf(control);
    facts->shown = (::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    facts->enabled = ::IsWindowEnabled(control) != FALSE;
    facts->line_count = plat::GetLineCount(reinterpret_cast<plat::Window>(FrontDialog()), id);
    return true;
  }
  int FindLine(int id, const std::u16string& text) override {
    return plat::FindLine(reinterpret_cast<plat::Window>(FrontDialog()), id, -1, text);
  }
  bool FileMustExist() override {
    Frame* front = win32::ui::Front();
    return front != nullptr && front->request != nullptr && (front->request->flags & plat::kOfnFileMustExist);
  }
  plat::common::PathKind KindOfPath(const std::u16string& path) override {
    const DWORD attributes = ::GetFileAttributesW(win32::W(OnDrive(path)));
    if (attributes == INVALID_FILE_ATTRIBUTES) return plat::common::PathKind::kMissing;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? plat::common::PathKind::kFolder : plat::common::PathKind::kFile;
  }

  // A device path names the current drive's root: typed whole, with it.
  static std::u16string OnDrive(const std::u16string& path) {
    if (path.empty() || path[0] != u'\\' || (path.size() >= 2 && path[1] == u'\\')) return path;
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH + 1, folder);
    if (length < 2 || length > MAX_PATH || folder[1] != L':') return path;
    return std::u16string(reinterpret_cast<const char16_t*>(folder), 2) + path;
  }
};

void Notify(HWND dialog, HWND control, int code) {
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code), reinterpret_cast<LPARAM>(control));
}

// ---- Actions, once the rules let them through ----
void Select(const Action& action, int line) {
  HWND dialog = FrontDialog();
  HWND control = ::GetDlgItem(dialog, action.control);
  const bool combo = HasClass(control, L"ComboBox");
  ::SendMessageW(control, combo ? CB_SETCURSEL : LB_SETCURSEL, line, 0);
  Notify(dialog, control, combo ? CBN_SELCHANGE : LBN_SELCHANGE);
}

void Click(const Action& action) {
  // Pressed and released: an automatic check box toggles, then notifies.
  ::SendMessageW(FrontControl(action.control), BM_CLICK, 0, 0);
}

void Slide(const Action& action) {
  HWND dialog = FrontDialog();
  HWND control = ::GetDlgItem(dialog, action.control);
  // A drag: the thumb moves (stopping at the ends), then the trackbar tells
  // its parent where it was let go.
  ::SendMessageW(control, TBM_SETPOS, TRUE, action.position);
  const WPARAM position = static_cast<WPARAM>(::SendMessageW(control, TBM_GETPOS, 0, 0));
  const LPARAM from = reinterpret_cast<LPARAM>(control);
  ::SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), from);
  ::SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), from);
  ::SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), from);
}

// What the close box and the Escape key send.
void SendCancel(HWND window) {
  ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(window, IDCANCEL)));
}

void Done() {
  Frame* front = win32::ui::Front();
  if (front->kind == FrameKind::kPageSet) {
    PropSheet_PressButton(front->window, PSBTN_OK);
    return;
  }
  ::SendMessageW(::GetDlgItem(front->window, IDOK), BM_CLICK, 0, 0);
}

void Cancel() {
  Frame* front = win32::ui::Front();
  if (front == nullptr) {
    ::SendMessageW(MainWindow(), WM_CLOSE, 0, 0);
    return;
  }
  if (front->kind == FrameKind::kPageSet) {
    PropSheet_PressButton(front->window, PSBTN_CANCEL);
  } else if (front->kind == FrameKind::kMessageBox && ::GetDlgItem(front->window, IDNO) != nullptr) {
    ::SendMessageW(front->window, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(front->window, IDNO)));
  } else {
    SendCancel(front->window);
  }
}

// OK, or Yes on a question.
void Answer() {
  HWND box = win32::ui::Front()->window;
  const int button = ::GetDlgItem(box, IDYES) != nullptr ? IDYES : IDOK;
  ::SendMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
}

// The dialog's file name field: an edit box, or the edit box of a combo box.
HWND FileNameField(HWND dialog) {
  constexpr int kNameCombo = 0x47C, kNameEdit = 0x480;  // cmb13, edt1
  if (HWND field = ::GetDlgItem(dialog, kNameCombo)) return field;
  return ::GetDlgItem(dialog, kNameEdit);
}

bool ChooseFile(const std::u16string& path, std::u16string* error) {
  HWND dialog = win32::ui::Front()->window;
  HWND field = FileNameField(dialog);
  if (field == nullptr) return Refuse(error, u"the file-open dialog has no file name field");
  ::SetWindowTextW(field, win32::W(Win32View::OnDrive(path)));
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
  return true;
}

// ---- The idle hook ----
plat::person::IdleHook idle_hook = nullptr;
void* idle_context = nullptr;
UINT_PTR idle_timer = 0;
// The loops whose hook call is running, by their frame's serial.
std::vector<uint64_t> hooked;
constexpr UINT kIdleTick = USER_TIMER_MINIMUM;
constexpr DWORD kWaitingInput = QS_KEY | QS_MOUSE | QS_POSTMESSAGE | QS_SENDMESSAGE | QS_HOTKEY;

bool Ready(const Frame& frame) {
  if (frame.window == nullptr || !::IsWindow(frame.window)) return false;
  if (!::IsWindowVisible(frame.window) || !::IsWindowEnabled(frame.window)) return false;
  return frame.kind != FrameKind::kPageSet || frame.ready;
}

void CALLBACK OnIdleTick(HWND, UINT, UINT_PTR, DWORD) {
  if (idle_hook == nullptr) return;
  Frame* front = win32::ui::Front();
  if (front == nullptr || !Ready(*front)) return;
  if (std::find(hooked.begin(), hooked.end(), front->serial) != hooked.end()) return;
  if (HIWORD(::GetQueueStatus(QS_ALLINPUT)) & kWaitingInput) return;
  hooked.push_back(front->serial);
  idle_hook(idle_context);
  hooked.erase(std::find(hooked.begin(), hooked.end(), front->serial));
}

}  // namespace

namespace plat::person {

Screen CurrentScreen() {
  Screen screen;
  Frame* front = win32::ui::Front();
  if (front == nullptr) return screen;
  switch (front->kind) {
    case FrameKind::kPageSet: {
      screen.kind = ScreenKind::kPageSet;
      const int index = CurrentPageIndex(*front);
      screen.dialog = reinterpret_cast<Window>(CurrentPage(*front));
      if (index >= 0 && index < static_cast<int>(front->pages.size()))
        screen.template_id = front->pages[index].template_id;
      if (front->window != nullptr) {
        screen.tabs = TabTitles(front->window);
        screen.caption = TextOf(front->window);
      }
      screen.current_tab = index;
      break;
    }
    case FrameKind::kDialog:
      screen.kind = ScreenKind::kDialog;
      screen.dialog = reinterpret_cast<Window>(front->window);
      screen.template_id = front->template_id;
      if (front->window != nullptr) screen.caption = TextOf(front->window);
      break;
    case FrameKind::kMessageBox:
      screen.kind = ScreenKind::kMessageBox;
      if (front->window != nullptr) {
        screen.text = MessageBoxText(front->window);
        screen.caption = TextOf(front->window);
      }
      screen.flags = front->flags;
      break;
    case FrameKind::kFileDialog:
      screen.kind = ScreenKind::kFileDialog;
      if (front->window != nullptr) screen.text = TextOf(front->window);
      if (front->request != nullptr) screen.flags = front->request->flags;
      break;
  }
  return screen;
}

bool Act(const Action& action, std::u16string* error) {
  Win32View view;
  const plat::common::Verdict verdict = plat::common::Judge(action, view);
  if (!verdict.allowed) return Refuse(error, verdict.refusal);
  switch (action.kind) {
    case ActionKind::kSelect: Select(action, verdict.line); break;
    case ActionKind::kClick: Click(action); break;
    case ActionKind::kSlide: Slide(action); break;
    case ActionKind::kType: ::SetWindowTextW(FrontControl(action.control), reinterpret_cast<const wchar_t*>(action.text.c_str())); break;
    case ActionKind::kTab: PropSheet_SetCurSel(win32::ui::Front()->window, nullptr, verdict.tab); break;
    case ActionKind::kDone: Done(); break;
    case ActionKind::kCancel: Cancel(); break;
    case ActionKind::kAnswer: Answer(); break;
    case ActionKind::kChooseFile: return ChooseFile(verdict.path, error);
    case ActionKind::kCancelFile: SendCancel(win32::ui::Front()->window); break;
  }
  return true;
}

void SetIdleHook(IdleHook hook, void* context) {
  idle_hook = hook;
  idle_context = context;
  if (hook != nullptr && idle_timer == 0) idle_timer = ::SetTimer(nullptr, 0, kIdleTick, OnIdleTick);
  if (hook == nullptr && idle_timer != 0) {
    ::KillTimer(nullptr, idle_timer);
    idle_timer = 0;
  }
}

}  // namespace plat::person
