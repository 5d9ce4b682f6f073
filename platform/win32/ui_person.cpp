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

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

bool HasClass(HWND window, const wchar_t* name) {
  wchar_t found[64] = {};
  ::GetClassNameW(window, found, 64);
  return lstrcmpiW(found, name) == 0;
}

bool Refuse(std::u16string* error, const std::string& reason) {
  if (error != nullptr) *error = std::u16string(reason.begin(), reason.end());
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

// The page or dialog whose controls a person can reach now.
HWND ReachableDialog(std::u16string* error, std::string* where) {
  Frame* front = win32::ui::Front();
  if (front == nullptr || front->window == nullptr) {
    Refuse(error, "no page set or dialog is open");
    return nullptr;
  }
  switch (front->kind) {
    case FrameKind::kPageSet: {
      const int index = CurrentPageIndex(*front);
      *where = index >= 0 ? "page \"" + Narrow(front->pages[index].title) + "\"" : "the page set";
      return CurrentPage(*front);
    }
    case FrameKind::kDialog:
      *where = "the dialog \"" + Narrow(TextOf(front->window)) + "\"";
      return front->window;
    case FrameKind::kMessageBox:
      Refuse(error, "a message box is in front: answer it first");
      return nullptr;
    case FrameKind::kFileDialog:
      Refuse(error, "the file-open dialog is in front: choose a file or cancel it first");
      return nullptr;
  }
  return nullptr;
}

HWND ReachableControl(int id, HWND* dialog, std::u16string* error) {
  std::string where;
  *dialog = ReachableDialog(error, &where);
  if (*dialog == nullptr) return nullptr;
  const std::string name = "control " + std::to_string(id);
  HWND control = id == -1 ? nullptr : ::GetDlgItem(*dialog, id);
  if (control == nullptr) {
    Refuse(error, "no " + name + " on " + where);
    return nullptr;
  }
  if (!(::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE)) {
    Refuse(error, name + " is hidden");
    return nullptr;
  }
  if (!::IsWindowEnabled(control)) {
    Refuse(error, name + " is disabled");
    return nullptr;
  }
  return control;
}

void Notify(HWND dialog, HWND control, int code) {
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code), reinterpret_cast<LPARAM>(control));
}

// ---- Actions ----
bool Select(const Action& action, std::u16string* error) {
  HWND dialog = nullptr;
  HWND control = ReachableControl(action.control, &dialog, error);
  if (control == nullptr) return false;
  const std::string name = "control " + std::to_string(action.control);
  const bool combo = HasClass(control, L"ComboBox");
  if (!combo && !HasClass(control, L"ListBox")) return Refuse(error, name + " has no lines to select");
  const int count = plat::GetLineCount(reinterpret_cast<plat::Window>(dialog), action.control);
  int line = action.line;
  if (line >= 0) {
    if (line >= count)
      return Refuse(error, name + " has no line " + std::to_string(line) + " (it has " + std::to_string(count) +
                               (count == 1 ? " line)" : " lines)"));
  } else {
    line = plat::FindLine(reinterpret_cast<plat::Window>(dialog), action.control, -1, action.text);
    if (line < 0) return Refuse(error, name + " has no line \"" + Narrow(action.text) + "\"");
  }
  ::SendMessageW(control, combo ? CB_SETCURSEL : LB_SETCURSEL, line, 0);
  Notify(dialog, control, combo ? CBN_SELCHANGE : LBN_SELCHANGE);
  return true;
}

bool Click(const Action& action, std::u16string* error) {
  HWND dialog = nullptr;
  HWND control = ReachableControl(action.control, &dialog, error);
  if (control == nullptr) return false;
  if (!HasClass(control, L"Button"))
    return Refuse(error, "control " + std::to_string(action.control) + " cannot be clicked");
  // Pressed and released: an automatic check box toggles, then notifies.
  ::SendMessageW(control, BM_CLICK, 0, 0);
  return true;
}

bool Slide(const Action& action, std::u16string* error) {
  HWND dialog = nullptr;
  HWND control = ReachableControl(action.control, &dialog, error);
  if (control == nullptr) return false;
  if (!HasClass(control, TRACKBAR_CLASSW))
    return Refuse(error, "control " + std::to_string(action.control) + " is not a trackbar");
  // A drag: the thumb moves (stopping at the ends), then the trackbar tells
  // its parent where it was let go.
  ::SendMessageW(control, TBM_SETPOS, TRUE, action.position);
  const WPARAM position = static_cast<WPARAM>(::SendMessageW(control, TBM_GETPOS, 0, 0));
  const LPARAM from = reinterpret_cast<LPARAM>(control);
  ::SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), from);
  ::SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), from);
  ::SendMessageW(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), from);
  return true;
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

bool Tab(const Action& action, std::u16string* error) {
  Frame* front = win32::ui::Front();
  if (front == nullptr || front->kind != FrameKind::kPageSet || front->window == nullptr) {
    std::string where;
    if (ReachableDialog(error, &where) == nullptr) return false;
    return Refuse(error, "the dialog in front has no tabs");
  }
  const std::vector<std::u16string> titles = TabTitles(front->window);
  std::string all;
  for (size_t i = 0; i < titles.size(); ++i) {
    if (plat::CompareNoCase(titles[i], action.text) == 0) {
      PropSheet_SetCurSel(front->window, nullptr, static_cast<int>(i));
      return true;
    }
    all += (i > 0 ? ", " : "") + Narrow(titles[i]);
  }
  return Refuse(error, "no tab \"" + Narrow(action.text) + "\" (the tabs: " + all + ")");
}

bool Done(std::u16string* error) {
  std::string where;
  HWND dialog = ReachableDialog(error, &where);
  if (dialog == nullptr) return false;
  Frame* front = win32::ui::Front();
  if (front->kind == FrameKind::kPageSet) {
    PropSheet_PressButton(front->window, PSBTN_OK);
    return true;
  }
  HWND done = ::GetDlgItem(dialog, IDOK);
  if (done == nullptr || !(::GetWindowLongW(done, GWL_STYLE) & WS_VISIBLE) || !::IsWindowEnabled(done))
    return Refuse(error, where + " has no Done button");
  ::SendMessageW(done, BM_CLICK, 0, 0);
  return true;
}

bool Cancel(std::u16string* error) {
  Frame* front = win32::ui::Front();
  if (front == nullptr) {
    // Closing the program's window is all that is left to do.
    HWND main = nullptr;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM found) -> BOOL {
          if (::GetWindow(window, GW_OWNER) != nullptr || !::IsWindowVisible(window)) return TRUE;
          *reinterpret_cast<HWND*>(found) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&main));
    if (main == nullptr) return Refuse(error, "nothing is open on the screen");
    ::SendMessageW(main, WM_CLOSE, 0, 0);
    return true;
  }
  switch (front->kind) {
    case FrameKind::kPageSet:
      if (front->window == nullptr) return Refuse(error, "the page set is not open yet");
      PropSheet_PressButton(front->window, PSBTN_CANCEL);
      return true;
    case FrameKind::kDialog:
    case FrameKind::kFileDialog:
      if (front->window == nullptr) return Refuse(error, "the dialog is not open yet");
      // What the close box and the Escape key send.
      ::SendMessageW(front->window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(front->window, IDCANCEL)));
      return true;
    case FrameKind::kMessageBox:
      return Refuse(error, "a message box is in front: answer it (it has only OK)");
  }
  return false;
}

bool Answer(std::u16string* error) {
  Frame* front = win32::ui::Front();
  if (front == nullptr || front->kind != FrameKind::kMessageBox || front->window == nullptr)
    return Refuse(error, "no message box is open");
  HWND ok = ::GetDlgItem(front->window, IDOK);
  ::SendMessageW(front->window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  return true;
}

Frame* FileDialog(std::u16string* error) {
  Frame* front = win32::ui::Front();
  if (front == nullptr || front->kind != FrameKind::kFileDialog || front->window == nullptr) {
    Refuse(error, "no file-open dialog is open");
    return nullptr;
  }
  return front;
}

// The dialog's file name field: an edit box, or the edit box of a combo box.
HWND FileNameField(HWND dialog) {
  constexpr int kNameCombo = 0x47C, kNameEdit = 0x480;  // cmb13, edt1
  if (HWND field = ::GetDlgItem(dialog, kNameCombo)) return field;
  return ::GetDlgItem(dialog, kNameEdit);
}

bool ChooseFile(const Action& action, std::u16string* error) {
  Frame* front = FileDialog(error);
  if (front == nullptr) return false;
  std::u16string path = action.text;
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  if (path.empty() || (path[0] != u'\\' && (path.size() < 3 || path[1] != u':')))
    return Refuse(error, "give the file's full path (for example \\My Documents\\letter.psw)");
  // A device path names the current drive's root: typed whole, with it.
  if (path[0] == u'\\' && (path.size() < 2 || path[1] != u'\\')) {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH + 1, folder);
    if (length >= 2 && length <= MAX_PATH && folder[1] == L':')
      path = std::u16string(reinterpret_cast<const char16_t*>(folder), 2) + path;
  }
  if (front->request != nullptr && (front->request->flags & plat::kOfnFileMustExist)) {
    const DWORD attributes = ::GetFileAttributesW(win32::W(path));
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return Refuse(error, "no file " + Narrow(path) + " (this dialog takes only a file that exists)");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Refuse(error, Narrow(path) + " is a folder, not a file");
  }
  HWND field = FileNameField(front->window);
  if (field == nullptr) return Refuse(error, "the file-open dialog has no file name field");
  ::SetWindowTextW(field, win32::W(path));
  ::SendMessageW(front->window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(front->window, IDOK)));
  return true;
}

bool CancelFile(std::u16string* error) {
  Frame* front = FileDialog(error);
  if (front == nullptr) return false;
  ::SendMessageW(front->window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(front->window, IDCANCEL)));
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
  switch (action.kind) {
    case ActionKind::kSelect: return Select(action, error);
    case ActionKind::kClick: return Click(action, error);
    case ActionKind::kSlide: return Slide(action, error);
    case ActionKind::kTab: return Tab(action, error);
    case ActionKind::kDone: return Done(error);
    case ActionKind::kCancel: return Cancel(error);
    case ActionKind::kAnswer: return Answer(error);
    case ActionKind::kChooseFile: return ChooseFile(action, error);
    case ActionKind::kCancelFile: return CancelFile(error);
  }
  return Refuse(error, "unknown action");
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
