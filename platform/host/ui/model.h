// The window system's state inside one program: its windows with their
// controls, and the stack of modal loops in front. Internal to platform/host/ui.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/ui/dialog_template.h"
#include "platform/host/device/host_internal.h"
#include "platform/host/ui/channel.h"
#include "platform/person.h"
#include "platform/ui.h"

namespace device::ui {

constexpr uint32_t kWsVisible = 0x10000000;
constexpr uint32_t kWsDisabled = 0x08000000;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorControlIdNotFound = 1421;
constexpr uint32_t kErrorResourceNameNotFound = 1814;
constexpr uint32_t kErrorInsufficientBuffer = 122;

struct Line {
  std::u16string text;
  intptr_t code;
};

struct Control {
  int id = -1;
  ControlKind kind = ControlKind::kLabel;
  std::u16string class_name;
  std::u16string text;
  int x = 0, y = 0, width = 0, height = 0;
  uint32_t style = 0;
  bool shown = false;
  bool enabled = true;
  std::vector<Line> lines;
  int selected = -1;
  bool checked = false;
  // A trackbar's defaults.
  int minimum = 0, maximum = 100, position = 0;
};

enum class Role { kMain, kPage, kDialog };

struct WindowObject {
  plat::Window handle = 0;
  Role role = Role::kDialog;
  plat::Window owner = 0;
  // Pages and dialogs.
  const DialogTemplate* dialog_template = nullptr;
  plat::DialogProc proc = nullptr;
  std::vector<Control> controls;
  uint32_t shell_flags = 0;
  intptr_t data = 0;  // SetDialogData
  bool ended = false;
  intptr_t result = 0;
  // The main window.
  std::u16string class_name, title;
  plat::WindowProc window_proc = nullptr;
  plat::WorkArea area{};
};

// ---- Windows -----------------------------------------------------------------
const DialogTemplate* FindTemplate(int template_id);
// A page or dialog made from its template; its controls as the template gives them.
plat::Window MakeDialogWindow(Role role, const DialogTemplate* dialog_template, plat::DialogProc proc,
                              plat::Window owner);
plat::Window MakeMainWindow(const std::u16string& class_name, const std::u16string& title,
                            plat::WindowProc proc, const plat::WorkArea& area);
void DestroyWindow(plat::Window handle);
void ForgetAllWindows();
// Null with the last error 1400 when there is no such window.
WindowObject* FindWindow(plat::Window handle);
// Null with the last error 1400 (no window) or 1421 (no such control).
Control* FindControl(plat::Window dialog, int id);
// The first main window this program made; 0 when none.
plat::Window MainWindow();
// Calls the window's dialog procedure; 0 when it has none or is gone.
intptr_t SendToDialog(plat::Window dialog, const plat::DialogMessage& message);

// ---- Keys a dialog took (captured_keys.cpp) ------------------------------------------
void NoteCapture(plat::Window dialog, uint32_t virtual_key, plat::KeyMoveProc proc, void* context);
// A taken key's move for one of this program's dialogs: handed to its
// procedure for moves. False when the message is no such move.
bool DeliverCapturedKey(const internal::PostedMessage& message);
// The dialog's taken key goes back to the device; nothing when it took none.
void ReleaseCapturedKeys(plat::Window dialog);
void ForgetCapturedKeys();

// ---- Modal loops ---------------------------------------------------------------
enum class FrameKind { kPageSet, kDialog, kMessageBox, kFileDialog };

struct PageEntry {
  plat::Window window;
  std::u16string title;
  int template_id;
};

struct Frame {
  explicit Frame(FrameKind frame_kind) : kind(frame_kind) {}
  FrameKind kind;
  bool closed = false;
  plat::Window owner = 0;
  // Page set.
  std::u16string caption;
  std::vector<PageEntry> pages;
  int current = 0;
  bool done = false;  // closed with Done
  // Dialog.
  plat::Window dialog = 0;
  // Message box.
  std::u16string text, box_caption;
  uint32_t flags = 0;
  int answer = plat::kIdOk;  // the button pressed
  // File dialog.
  const plat::OpenFileRequest* request = nullptr;
  bool chosen = false;
  std::u16string path;
  uint32_t error = 0;
};

// Bottom first; the last one is in front.
const std::vector<Frame*>& Frames();
Frame* Front();
// Pushes the frame and waits for input until it is closed.
void RunFrame(Frame* frame);
// A main window exists or a modal loop runs: message boxes then wait.
bool WindowSystemRunning();
// Sends the main window its destroy event and makes sure its loop ends.
void CloseMainWindow();
// Counts the screen's changes (actions, windows opened and closed).
uint64_t Serial();
void NoteChange();

// ---- Person actions --------------------------------------------------------------
// Acts on the frame in front; a performed action counts for the waiting loop.
bool PerformAction(const plat::person::Action& action, std::u16string* error);
uint64_t ActionCount();
// Closes what is in front as a cancel would, for a wait that nothing ends.
void CancelFront();

// ---- The channel -------------------------------------------------------------------
// Listens under the abstract name; false (with a note on stderr) when it cannot.
bool OpenChannel(const std::string& name);
bool ChannelOpen();
// Answers the requests waiting for this moment: the program waits for input.
void ReplyToWaitingRequests();
// Serves requests until one of them performed an action.
void ServeChannel();
// The program ends: every request still open learns it, with the exit code.
void CloseChannel(int exit_code);

// ---- The screen ----------------------------------------------------------------------
std::string RenderScreen(channel::Format format);

}  // namespace device::ui
