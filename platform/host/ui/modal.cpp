// Modal loops (page set, dialogs, message boxes, the file-open dialog), the
// main window and its message loop, and what waiting for input means on
// the emulated device.
#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/host/device/device.h"
#include "platform/host/device/host_internal.h"
#include "platform/host/ui/model.h"
#include "platform/host/ui/window_system.h"

namespace device::ui {
namespace {

constexpr uintptr_t kVkEscape = 0x1B;

std::vector<Frame*> frames;
uint64_t serial = 0;
plat::person::IdleHook idle_hook = nullptr;
void* idle_context = nullptr;

void PushFrame(Frame* frame) {
  frames.push_back(frame);
  NoteChange();
}

void PopFrame(Frame* frame) {
  frames.erase(std::remove(frames.begin(), frames.end(), frame), frames.end());
  NoteChange();
}

const char* FrontDescription() {
  Frame* front = Front();
  if (front == nullptr) return "closing the main window";
  switch (front->kind) {
    case FrameKind::kPageSet: return "cancelling the page set";
    case FrameKind::kDialog: return "cancelling the dialog";
    case FrameKind::kMessageBox: return "answering the message box with OK";
    case FrameKind::kFileDialog: return "cancelling the file-open dialog";
  }
  return "";
}

// A wait that nothing will end (no channel, and no idle hook that acts)
// would hang the program for good; it gives up on what is in front instead.
void NothingActs() {
  std::fprintf(stderr, "%s: waits for input and nothing acts; %s\n", program_invocation_short_name,
               FrontDescription());
  CancelFront();
}

void WaitForInput() {
  if (ChannelOpen()) ReplyToWaitingRequests();
  if (idle_hook != nullptr) {
    uint64_t actions = ActionCount();
    Frame* front = Front();
    idle_hook(idle_context);
    if (ActionCount() != actions || Front() != front || (front != nullptr && front->closed)) return;
  }
  // Posted messages and timers are input too: keys, hot keys, a program's
  // messages.
  if (internal::DispatchPendingMessages() > 0) return;
  if (ChannelOpen()) {
    ServeChannel();
    return;
  }
  NothingActs();
}

void WaitUntilClosed(Frame* frame) {
  while (!frame->closed) WaitForInput();
}

int RunMessageBox(plat::Window owner, const std::u16string& text, const std::u16string& caption,
                  uint32_t flags) {
  internal::ReportMessageBox(text, caption, flags);
  Frame frame(FrameKind::kMessageBox);
  frame.owner = owner;
  frame.text = text;
  frame.box_caption = caption;
  frame.flags = flags;
  PushFrame(&frame);
  WaitUntilClosed(&frame);
  PopFrame(&frame);
  return frame.answer;
}

bool MessageBoxHandler(plat::Window owner, const std::u16string& text, const std::u16string& caption,
                       uint32_t flags, int* result) {
  if (!WindowSystemRunning()) return false;
  *result = RunMessageBox(owner, text, caption, flags);
  return true;
}

// A key for the foreground window goes to the dialog in front (a modal loop
// in front keeps it from the main window); the main window takes its own
// messages while nothing is in front.
void RouteMessage(const internal::PostedMessage& message) {
  if (DeliverCapturedKey(message)) return;
  const bool key = message.message == internal::kWmKeyDown || message.message == internal::kWmKeyUp;
  Frame* front = Front();
  if (key && front != nullptr) {
    if (front->kind != FrameKind::kDialog || message.message != internal::kWmKeyDown) return;
    const plat::Window dialog = front->dialog;
    const bool taken =
        SendToDialog(dialog, {plat::DialogEvent::kKeyDown, 0, static_cast<int>(message.first), 0}) != 0;
    // As the Win32 dialog manager does: Escape that the dialog leaves is Cancel.
    if (!taken && message.first == kVkEscape && Front() == front)
      SendToDialog(dialog, {plat::DialogEvent::kCommand, plat::kIdCancel, 0, 0});
    return;
  }
  WindowObject* window = FindWindow(message.window);
  if (window == nullptr || window->window_proc == nullptr) return;
  plat::WindowEvent event;
  switch (message.message) {
    case internal::kWmKeyDown: event = plat::WindowEvent::kKeyDown; break;
    case internal::kWmKeyUp: event = plat::WindowEvent::kKeyUp; break;
    case internal::kWmTimer: event = plat::WindowEvent::kTimer; break;
    case internal::kWmHotKey: event = plat::WindowEvent::kHotKey; break;
    case internal::kWmApp: event = plat::WindowEvent::kAppMessage; break;
    default: return;
  }
  window->window_proc(message.window, event, message.first, message.second);
}

void OnExit(int code) {
  // Off the table before the waiting client hears of the end: a program it
  // starts next must not find this one's window.
  if (MainWindow() != 0) UnregisterWindows(getpid());
  CloseChannel(code);
}

void EnsureHooks() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  internal::SetMessageBoxHandler(MessageBoxHandler);
  internal::SetExitHandler(OnExit);
  internal::SetMessageRouter(RouteMessage);
  internal::SetInputWait(WaitForInput);
  // Keys for the foreground window, hot keys and other programs' messages
  // reach this program's windows through it.
  if (!internal::OpenMessagePort())
    std::fprintf(stderr, "%s: no message port (error %u); no key or message can reach its windows\n",
                 program_invocation_short_name, plat::GetLastError());
}

}  // namespace

const std::vector<Frame*>& Frames() { return frames; }

Frame* Front() { return frames.empty() ? nullptr : frames.back(); }

void RunFrame(Frame* frame) {
  PushFrame(frame);
  WaitUntilClosed(frame);
  PopFrame(frame);
}

bool WindowSystemRunning() { return MainWindow() != 0 || !frames.empty(); }

uint64_t Serial() { return serial; }
void NoteChange() { ++serial; }

void CloseMainWindow() {
  plat::Window main = MainWindow();
  WindowObject* window = main != 0 ? FindWindow(main) : nullptr;
  if (window != nullptr && window->window_proc != nullptr)
    window->window_proc(main, plat::WindowEvent::kDestroy, 0, 0);
  // A window procedure that does not end its loop would leave it waiting for good.
  if (!internal::QuitPosted()) plat::PostQuit(0);
}

}  // namespace device::ui

namespace device {

void ResetWindowSystem() {
  using namespace ui;
  CloseChannel(-1);
  if (MainWindow() != 0) UnregisterWindows(getpid());
  ForgetCapturedKeys();
  ForgetAllWindows();
  frames.clear();
  idle_hook = nullptr;
  idle_context = nullptr;
  internal::ForgetQuit();
}

}  // namespace device

namespace plat {

using namespace device::ui;

namespace person {
void SetIdleHook(IdleHook hook, void* context) {
  idle_hook = hook;
  idle_context = context;
}
}  // namespace person

intptr_t RunDialog(Window owner, int template_id, DialogProc proc, intptr_t param) {
  EnsureHooks();
  if (common::FailsAtGate(faults::Op::DialogCreate)) return -1;
  const device::DialogTemplate* dialog_template = FindTemplate(template_id);
  if (dialog_template == nullptr) {
    SetLastError(kErrorResourceNameNotFound);
    return -1;
  }
  Window dialog = MakeDialogWindow(Role::kDialog, dialog_template, proc, owner);
  Frame frame(FrameKind::kDialog);
  frame.owner = owner;
  frame.dialog = dialog;
  // In front before its initialisation, so that a message box shown there
  // shows over it.
  PushFrame(&frame);
  SendToDialog(dialog, {DialogEvent::kInit, 0, 0, param});
  WaitUntilClosed(&frame);
  PopFrame(&frame);
  ReleaseCapturedKeys(dialog);
  WindowObject* window = FindWindow(dialog);
  intptr_t result = window != nullptr ? window->result : -1;
  DestroyWindow(dialog);
  return result;
}

void EndDialog(Window dialog, intptr_t result) {
  WindowObject* window = FindWindow(dialog);
  if (window == nullptr) return;
  if (window->role != Role::kDialog) {
    SetLastError(kErrorInvalidWindowHandle);  // pages end with their sheet
    return;
  }
  window->ended = true;
  window->result = result;
  for (Frame* frame : frames)
    if (frame->kind == FrameKind::kDialog && frame->dialog == dialog) frame->closed = true;
  NoteChange();
}

bool RunPageSet(Window owner, const std::u16string& caption, const PageSpec* pages, int count) {
  EnsureHooks();
  if (common::FailsAtGate(faults::Op::PageSet)) return false;
  if (pages == nullptr || count <= 0) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  for (int i = 0; i < count; ++i) {
    if (FindTemplate(pages[i].template_id) == nullptr) {
      SetLastError(kErrorResourceNameNotFound);
      return false;
    }
  }
  Frame frame(FrameKind::kPageSet);
  frame.owner = owner;
  frame.caption = caption;
  for (int i = 0; i < count; ++i) {
    Window page = MakeDialogWindow(Role::kPage, FindTemplate(pages[i].template_id), pages[i].proc, owner);
    frame.pages.push_back({page, pages[i].title != nullptr ? pages[i].title : u"", pages[i].template_id});
  }
  PushFrame(&frame);
  // Every page is made with the sheet, so every page is initialised now.
  for (size_t i = 0; i < frame.pages.size(); ++i)
    SendToDialog(frame.pages[i].window, {DialogEvent::kInit, 0, 0, pages[i].param});
  WaitUntilClosed(&frame);
  PopFrame(&frame);
  for (const PageEntry& page : frame.pages) DestroyWindow(page.window);
  if (!frame.done) SetLastError(kErrorSuccess);  // left, not failed
  return frame.done;
}

bool GetOpenFileName(const OpenFileRequest& request, std::u16string* path) {
  EnsureHooks();
  if (common::FailsAtGate(faults::Op::FileDialog)) return false;
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  Frame frame(FrameKind::kFileDialog);
  frame.owner = request.owner;
  frame.request = &request;
  RunFrame(&frame);
  if (frame.chosen) {
    *path = frame.path;
    SetLastError(kErrorSuccess);
    return true;
  }
  SetLastError(frame.error);
  return false;
}

int MessageBoxOwned(Window owner, const std::u16string& text, const std::u16string* caption,
                    uint32_t flags) {
  EnsureHooks();
  if (common::FailsAtGate(faults::Op::MessageBox)) return 0;
  return device::internal::ShowMessageBox(owner, text, caption, flags);
}

Window CreateMainWindow(const std::u16string& class_name, const std::u16string& title, WindowProc proc,
                        const WorkArea& area) {
  EnsureHooks();
  bool first = MainWindow() == 0;
  Window window = MakeMainWindow(class_name, title, proc, area);
  int64_t pid = getpid();
  int64_t start = device::ProcessStartTime(pid);
  std::string channel = device::channel::ChannelName(pid, start);
  if (first && !OpenChannel(channel)) channel.clear();
  if (!ChannelOpen()) channel.clear();
  if (!device::RegisterWindow({window, pid, start, class_name, title, channel})) {
    // Unregistered, no one could find the window or act on it: a program
    // waiting there would wait for ever.
    const uint32_t error = GetLastError();
    std::fprintf(stderr, "%s: the main window could not be registered on the device (error %u)\n",
                 program_invocation_short_name, error);
    DestroyWindow(window);
    SetLastError(error);
    return 0;
  }
  return window;
}

Window FindTopLevelWindow(const std::u16string& class_name) {
  for (const device::WindowRecord& record : device::LiveWindows())
    if (CompareNoCase(record.class_name, class_name) == 0) return record.window;
  return 0;
}

}  // namespace plat
