// What the win32 window operations share among themselves: the modal
// windows in front (the stack a person's actions address), the dialog
// procedure thunk, and the Pocket PC shell's stand-ins. Not for callers
// outside platform/win32.
#pragma once

#include "platform/win32/win32_api.h"

#include <commctrl.h>
#include <commdlg.h>
// The platform's own operation of that name, not the macro for the W call.
#undef GetOpenFileName

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace win32::ui {

// ---- Modal windows in front --------------------------------------------------
enum class FrameKind { kPageSet, kDialog, kMessageBox, kFileDialog };

struct PageEntry {
  std::u16string title;
  int template_id;
};

// One modal loop of the program: pushed before the system's modal call,
// popped after it returns. `window` is known once the system has made it.
struct Frame {
  explicit Frame(FrameKind frame_kind);
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  FrameKind kind;
  uint64_t serial;  // never reused, unlike the address
  HWND window = nullptr;
  bool ready = false;  // the window is laid out and may be acted on
  // Page set.
  std::vector<PageEntry> pages;
  // Dialog.
  int template_id = 0;
  // Message box.
  std::u16string text, caption;
  uint32_t flags = 0;
  // File dialog.
  const plat::OpenFileRequest* request = nullptr;
  bool too_long = false;  // the chosen path did not fit the request's capacity
};

// Bottom first; the last one is in front. Frames push and pop themselves.
const std::vector<Frame*>& Frames();
Frame* Front();

// Learns the first top-level dialog window ("#32770") the thread makes
// while it lives: the window of a message box or file-open dialog, which
// the system makes out of the program's sight.
class DialogCatcher {
 public:
  // `caught`, when given, is called with the window as soon as it is made.
  explicit DialogCatcher(Frame* frame, void (*caught)(HWND window) = nullptr);
  ~DialogCatcher();
  DialogCatcher(const DialogCatcher&) = delete;
  DialogCatcher& operator=(const DialogCatcher&) = delete;

 private:
  Frame* previous_;
  void (*previous_caught_)(HWND);
};

// Lets the dialogs of RunDialog learn the keys that go down while they are
// in front: a modal dialog's own loop hands every key to the focused
// control, so its procedure never sees WM_KEYDOWN. A thread message-filter
// hook, installed while one of these lives, sees each key first and offers
// it to the innermost dialog frame that holds the key's window.
class KeyFilter {
 public:
  KeyFilter();
  ~KeyFilter();
  KeyFilter(const KeyFilter&) = delete;
  KeyFilter& operator=(const KeyFilter&) = delete;
};

// ---- Keys a dialog took (key_capture.cpp) -----------------------------------------
// A move of the taken key, posted to its dialog: handed to the dialog's
// procedure for moves. False when the dialog took no key.
bool DeliverCapturedKey(HWND dialog, WPARAM wparam, LPARAM lparam);
// The dialog goes: a key it took goes back.
void DialogGone(HWND dialog);

// ---- Dialog procedures ------------------------------------------------------------
// Given to the system as the procedure of every dialog and page: turns its
// messages into plat::DialogMessage for the program's procedure.
struct DialogStart {
  plat::DialogProc proc;
  intptr_t param;
  Frame* frame;  // dialogs: learns its window; pages: null
};
// A dialog's creation parameter is its DialogStart; a page's is its page
// record, whose lParam is the DialogStart.
INT_PTR CALLBACK DialogThunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK PageThunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Where SetDialogData keeps its value: a property of the window, since
// DWLP_USER holds the procedure; the thunk removes it as the window goes.
constexpr wchar_t kDialogDataProp[] = L"Quadrakey.DialogData";

// The module whose resources hold the dialog templates.
HINSTANCE ProgramInstance();
// The program's own icon (its first icon resource) at the system's large or
// small size; null when it has none.
HICON ProgramIcon(bool small);

// ---- Message boxes within the screen (message_box_fit.cpp) --------------------------
// MessageBoxW; a box the system makes wider than the work area is laid out
// again before it shows, its text wrapped to the screen's width. The last
// error is MessageBoxW's.
int FittedMessageBox(HWND owner, const std::u16string& text, const std::u16string* caption, UINT flags);
// Where `window` is in `parent`'s client area.
RECT PlaceIn(HWND window, HWND parent);

// ---- Content larger than its window (ui_scroll.cpp) ---------------------------------
// Gives `window` scroll bars where its client area is smaller than
// `extent` (the content's size, in client pixels, unscrolled) and none
// where it is not; scrolling moves the children, those in `fixed` aside.
// Called again, it scrolls back to the start first.
void FitContent(HWND window, SIZE extent, const std::vector<HWND>& fixed = {});

// ---- The Pocket PC shell's stand-ins (pocketpc_shell.cpp) -------------------------
namespace shell {
// The shell's dialog flags, as its dialog initialisation takes them.
constexpr DWORD kDoneButton = 0x1;
constexpr DWORD kFullScreen = 0x4;
constexpr DWORD kFullScreenNoMenuBar = 0x10;

// Initialises a dialog as a shell dialog. On the desktop, a top-level
// dialog without a button of id 1 gets OK (the Done button, id 1) and
// Cancel (id 2) at its bottom right; a full-screen one covers the work
// area. A page (a child window) lives in its full-screen sheet and is left
// as it is.
bool InitDialog(HWND dialog, DWORD flags);
// The sheet's empty menu bar. The desktop has no menu bar under a window:
// the sheet's own buttons stand for it, so nothing is made.
bool CreateEmptyMenuBar(HWND owner, HINSTANCE instance);
// The shell's extra dialog controls, "SIPPREF" among them. On the desktop
// "SIPPREF" is a hidden control that does nothing: there is no input
// panel to prefer.
bool InitExtraControls();
}  // namespace shell

}  // namespace win32::ui
