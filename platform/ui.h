// Windows, dialogs and controls: the humble view of the configuration
// program's pages.
//
// Page procedures talk to their controls only through these operations and
// see only the notifications a person's action causes. Both backends keep
// the Win32 meaning of every call:
// - win32: real windows, a real property sheet, dialogs from the program's
//   resources (compiled from config/tapdeck.rc).
// - host: a control model built from the same templates, kept by the running
//   program as its screen, which another process sees and acts on through the
//   emulated device's window system, through devicesim ui.
//
// A dialog or page is addressed by its window; a control by its dialog and
// its id, as GetDlgItem does. Line numbers count from 0; -1 is "no line".
//
// What can fail is what makes a window: RunDialog, RunPageSet,
// GetOpenFileName and MessageBoxOwned. Each is in the fault table
// (platform/faults.h) under the name given below, with the same answer on
// both backends; a failed call shows nothing and runs no procedure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace plat {

// ---- Dialog procedures ------------------------------------------------------
enum class DialogEvent {
  kInit,     // the dialog or page was made; `param` is its creation parameter
  kCommand,  // `control` sent `code` (a notification below), or a dialog
             // command (kIdDone, kIdCancel) arrived with code 0
  kApply,    // the page set is closing with Done (pages only)
  kKeyDown,  // a key went down while this dialog is in front (dialogs of
             // RunDialog only): `code` is its virtual key, `param` 1 when
             // it was down already (auto-repeat). An answer other than 0
             // means the dialog took the key: it goes no further.
};

// Notification codes, as Win32 numbers them.
constexpr int kNotifyClicked = 0;    // BN_CLICKED
constexpr int kNotifySelChange = 1;  // LBN_SELCHANGE, CBN_SELCHANGE
// A trackbar's thumb moved (by drag or key). Win32 tells it with
// WM_HSCROLL, not WM_COMMAND; the code is this system's own.
constexpr int kNotifySliderMoved = 0x7001;

// Dialog commands: the shell's Done button and cancelling.
constexpr int kIdDone = 1;
constexpr int kIdCancel = 2;

struct DialogMessage {
  DialogEvent event;
  int control = 0;
  int code = 0;
  intptr_t param = 0;
};

// Answers as the Win32 dialog procedure does (1 after kInit lets the platform
// set the focus); for kApply, 0 means no error.
using DialogProc = intptr_t (*)(Window dialog, const DialogMessage& message);

// ---- Controls -----------------------------------------------------------------
void ShowControl(Window dialog, int id, bool shown);
bool IsControlShown(Window dialog, int id);
void EnableControl(Window dialog, int id, bool enabled);
bool IsControlEnabled(Window dialog, int id);  // false for no such control
// Gives the control the keyboard's focus, as tabbing to it does (an edit
// field's text is selected, so typing replaces it). The host's control
// model takes no typed keys: there it does nothing.
void FocusControl(Window dialog, int id);
void SetControlText(Window dialog, int id, const std::u16string& text);
std::u16string GetControlText(Window dialog, int id);

// List boxes and drop-down list combo boxes (unsorted: lines keep their
// insertion order). Each line carries an item code.
void ClearLines(Window dialog, int id);
// Appends a line; its number, or -1 when it cannot be added.
int AddLine(Window dialog, int id, const std::u16string& text, intptr_t code);
int GetLineCount(Window dialog, int id);
std::u16string GetLineText(Window dialog, int id, int line);
intptr_t GetLineCode(Window dialog, int id, int line);  // -1 for no such line
int GetSelectedLine(Window dialog, int id);             // -1 when none
// Selects a line (-1 clears the selection). Sends no notification, as
// LB_SETCURSEL / CB_SETCURSEL do not.
void SelectLine(Window dialog, int id, int line);
// The first line after `start` whose whole text equals `text` ignoring letter
// case, searching to the last line and then from line 0 up to `start`
// (CB_FINDSTRINGEXACT); start -1 searches from line 0. -1 when none.
int FindLine(Window dialog, int id, int start, const std::u16string& text);

// Check boxes.
bool IsChecked(Window dialog, int id);
void SetChecked(Window dialog, int id, bool checked);

// Trackbars. The position always stays within the range.
void SetSliderRange(Window dialog, int id, int minimum, int maximum);
void SetSliderPosition(Window dialog, int id, int position);
int GetSliderPosition(Window dialog, int id);

// ---- A key taken by a dialog ---------------------------------------------------
// One move of a taken key: down or up, and when it happened, in TickCount()
// milliseconds, however late the program gets to it.
struct KeyMove {
  uint32_t virtual_key = 0;
  bool up = false;
  uint64_t at = 0;
};
using KeyMoveProc = void (*)(Window dialog, const KeyMove& move, void* context);

// Takes the key `virtual_key` (1 to 0xFE) for `dialog`, a dialog of RunDialog
// of this program, for a person who is to press it without its presses
// acting: from now on each down and up of the key, auto-repeat left out,
// reaches `proc` (with `context`) on the dialog's thread, in the order the
// key moved, while the dialog waits for input, and goes nowhere else: no
// hot key, no table of buttons, no watcher (WatchKeys), no launcher and no
// window sees it. An up whose down came before the capture passes on as
// usual. One key per dialog: a new call replaces it. It is given back by
// ReleaseKey, when the dialog ends, and when the program ends, killed or
// not. False with the last error ("key-capture" in the fault table): 1400
// for a window that is not such a dialog, 87 for a key outside 1..0xFE or
// no proc, 1409 when another program's dialog holds the key (the emulated
// device; on Windows the later capture wins).
bool CaptureKey(Window dialog, uint32_t virtual_key, KeyMoveProc proc, void* context);
// Gives the dialog's key back; true also when it held none.
bool ReleaseKey(Window dialog);

// ---- Dialogs and the page set -------------------------------------------------
// Runs the dialog of template `template_id` modally, owned by `owner`, and
// returns what its procedure passed to EndDialog. -1, with the last error
// set, when it cannot be made ("dialog-create"): its procedure never runs.
intptr_t RunDialog(Window owner, int template_id, DialogProc proc, intptr_t param);
void EndDialog(Window dialog, intptr_t result);

// Shell dialog initialisation: the Done button (0x1), full screen (0x4),
// full screen without a menu bar (0x10). Other platforms give equivalents.
constexpr uint32_t kShidiDoneButton = 0x1;
constexpr uint32_t kShidiFullScreen = 0x4;
constexpr uint32_t kShidiFullScreenNoMenu = 0x10;
void InitShellDialog(Window dialog, uint32_t flags);

// A value a page or dialog keeps for its procedure, as Win32 keeps one in
// DWLP_USER: a page stores the parameter that came with kInit and finds it
// again for every later event. 0 until set, and for a window that is gone.
void SetDialogData(Window dialog, intptr_t data);
intptr_t GetDialogData(Window dialog);

struct PageSpec {
  int template_id;
  const char16_t* title;  // the tab's text
  DialogProc proc;
  intptr_t param = 0;     // comes with kInit, as PROPSHEETPAGE.lParam does
};
// Shows the page set modally, owned by `owner`, first page in front, tabs at
// the bottom. Every page gets kInit when the set opens, in page order, with
// its PageSpec's parameter. Done sends kApply to every page in page order and then closes
// the set; cancelling closes it without. True after Done; false after
// leaving without it (last error 0), or when the set cannot be made (last
// error set; "page-set"): then no page is made, initialised or applied.
bool RunPageSet(Window owner, const std::u16string& caption, const PageSpec* pages, int count);

// ---- Standard dialogs -----------------------------------------------------------
// The file-open dialog. `filters` holds pairs of a description and a pattern
// ("All Files", "*.*", ...). The chosen path goes to *path; it never holds
// more than `capacity` - 1 characters: a longer choice fails instead of being
// cut into another file's name. False when cancelled (last error 0) or
// failed (last error set; "file-dialog" fails it before anything shows);
// *path is then left as it was.
constexpr uint32_t kOfnFileMustExist = 0x1000;
struct OpenFileRequest {
  Window owner = 0;
  const char16_t* const* filters = nullptr;  // 2 * filter_count texts
  int filter_count = 0;
  std::u16string title;
  uint32_t flags = 0;
  size_t capacity = 260;
};
bool GetOpenFileName(const OpenFileRequest& request, std::u16string* path);

constexpr uint32_t kMbIconInformation = 0x40;
// A message box owned by a window (0: no owner, as MessageBox). 0, with the
// last error set, when it cannot be shown ("message-box", as MessageBox).
int MessageBoxOwned(Window owner, const std::u16string& text, const std::u16string* caption,
                    uint32_t flags);

// ---- The main window --------------------------------------------------------------
enum class WindowEvent {
  kDestroy,
  kKeyDown,  // first: the virtual key, while no modal loop is in front
  kKeyUp,
  kHotKey,      // first: the hot key's id (see RegisterHotKey)
  kTimer,       // first: the timer's id (SetTimer)
  kAppMessage,  // first and second: as PostWindowMessage gave them
  kKeyEvent,    // a watched key moved (WatchKeys): first: its code, plus
                // kKeyEventUp for a key up; second: the event's stamp
  kTrayCommand, // an item of the window's icon menu was chosen (ShowTrayIcon):
                // first: the item's command
  kAppText,     // a text came (SendWindowText): first: its code, second: a
                // const std::u16string* valid during the call
  kSessionEnd,  // the user signs out (Windows PC): the program is about to be
                // ended; give back what others need and return
};
constexpr uintptr_t kKeyEventUp = 0x100;
// Called for the events above only; everything else gets the platform's
// default processing.
using WindowProc = intptr_t (*)(Window window, WindowEvent event, uintptr_t first, intptr_t second);

struct WorkArea {
  int left, top, width, height;
};
WorkArea GetWorkArea();

// Initialises the common controls of `classes` (0x4 the bar classes, 0x400)
// and the shell's extra dialog controls ("SIPPREF").
void InitControls(uint32_t classes);

// Registers the class (redraw on resize, white background, the program's
// icon, no cursor or menu) and makes a top-level window of it with no owner:
// visible on the device, hidden on a PC (plat::OnPc()), where it only owns
// the program's dialogs. 0 with
// the last error when it cannot (on the host build also when the window
// cannot be registered on the device, where no one could reach it).
Window CreateMainWindow(const std::u16string& class_name, const std::u16string& title,
                        WindowProc proc, const WorkArea& area);
// A top-level window of that class, of any running program; 0 when none.
Window FindTopLevelWindow(const std::u16string& class_name);
void PostQuit(int code);
// Runs the message loop until the quit message and returns its code.
int RunMessageLoop();

// ---- Hidden windows, timers and posted messages ---------------------------------
// A window that is never shown, for a program without a screen that still
// takes hot keys, timers and messages (a message-only window). Another
// program finds it with FindMessageWindow. 0, with the last error set, when
// it cannot be made.
Window CreateMessageWindow(const std::u16string& class_name, WindowProc proc);
// A hidden window of that class, of any running program; 0 when none.
Window FindMessageWindow(const std::u16string& class_name);
// Destroys a hidden window of this program: once it returns true, no
// program finds the window or posts to it (1400), and its timers have
// stopped; what was posted to it and not yet taken is dropped. Give its hot
// keys back and stop watching keys with it first. Its procedure hears
// kDestroy as it goes (nothing after). False with the last error
// when it is not such a window or cannot be destroyed.
bool DestroyMessageWindow(Window window);
// Posts kAppMessage (first: `code`, second: `param`) to a window of any
// program of this device and does not wait (WM_APP). False with 1400 when
// there is no such window, 1816 when its program's queue is full.
bool PostWindowMessage(Window window, uintptr_t code, intptr_t param);
// Sends kTimer with `id` to the window every `interval_ms` (at least 10)
// from now, while the program waits for messages; a second call with the
// same window and id restarts it.
bool SetTimer(Window window, uintptr_t id, uint32_t interval_ms);
void KillTimer(Window window, uintptr_t id);

// Watches keys: from now on every down and up of `keys` (codes 1 to 0xFE),
// auto-repeat left out, reaches `window` (of this program) as kKeyEvent, in
// the order the keys moved, with a stamp of when each moved however late
// the program takes it. The events are also kept, with their times, where
// the launchers that StartPressLauncher starts find their presses. A new
// call replaces the set; an empty set stops watching. Ends with the program.
// False with the last error when the platform cannot watch ("key-watch" in
// the fault table): the program then has only hot keys, which give no key
// up and no time.
bool WatchKeys(Window window, const std::vector<uint32_t>& keys);

// ---- The notification-area icon and notices ------------------------------------
// The longest icon tip, notice and handed text, in characters.
inline constexpr size_t kTrayTipChars = 127;
inline constexpr size_t kNoticeChars = 200;
inline constexpr size_t kSentTextChars = 1024;
// One line of an icon's menu. Command 0 is a line that cannot be chosen (it
// shows greyed); command 0 with empty text a separator. Commands run from 1
// to 0xFFFF.
struct TrayMenuItem {
  uintptr_t command = 0;
  std::u16string text;
  bool operator==(const TrayMenuItem&) const = default;
};
// Shows `window`'s icon in the notification area (on the device, in its
// title bar), with `tip` as its tip (up to kTrayTipChars characters; longer is cut) and
// `menu` as what a click on it opens; a second call changes them. Choosing
// an item sends the window kTrayCommand. On a Windows PC the icon comes
// back when the taskbar is made again, and the window hears kSessionEnd
// when the user signs out. `window` is a hidden window of this program.
// False with the last error when there is no notification area to show it
// in ("tray-icon" in the fault table); the window hears kSessionEnd all the
// same, and a later call tries again.
bool ShowTrayIcon(Window window, const std::u16string& tip, const std::vector<TrayMenuItem>& menu);
// Takes the icon away; one that is not shown is no failure. It also goes
// with its window and with its program.
void RemoveTrayIcon(Window window);
// Shows `text` (one line, up to kNoticeChars characters; longer is cut) for about
// `ms` in a small notice near the notification area that never takes the
// focus nor a key; a second notice replaces the first. Shown by `window`'s
// program (a hidden window of this program), which must keep taking
// messages meanwhile. False with the last error when it cannot be shown.
bool ShowNotice(Window window, const std::u16string& text, uint32_t ms);
// Hands `text` (up to kSentTextChars characters) to a window of another program,
// which gets it as kAppText with `code`; waits until it is taken, at most
// about a second (a program that does not take messages is not waited
// for). False with 1400 when there is no such window, 87 for a longer text,
// 1460 when it did not take it in time.
bool SendWindowText(Window window, uintptr_t code, const std::u16string& text);

}  // namespace plat
