// Posted messages, hidden windows, timers and the message loop of the
// emulated device.
//
// A program that makes a window gets a message port: a datagram socket in
// the abstract namespace named for its process, through which any process of
// the device posts to its windows (hot keys, keys for the foreground window,
// application messages). The port is the program's message queue: messages
// come out in the order they were posted, and a full queue refuses more, as
// Win32's does. Window handles carry their process id above bit 20, so a
// handle alone says whose port to use; hidden windows made here have bit 19
// set, apart from the window system's, which count up from 1.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/host/device/host_internal.h"
#include "platform/ui.h"

using namespace device::internal;

namespace {

constexpr uint32_t kWireMagic = 0x316D6B71;  // "qkm1"
constexpr uint32_t kErrorTimeout = 1460;
constexpr plat::Window kHiddenWindowBit = 0x80000;
constexpr uint32_t kMinimumTimerMs = 10;

enum class WireKind : uint32_t { kPost = 1, kIdleQuery = 2, kIdleReply = 3 };

// One message on the wire; the same layout on both ends of the machine.
struct Wire {
  uint32_t magic;
  uint32_t kind;
  uint64_t window;
  uint32_t message;
  uint32_t reserved;
  uint64_t first;
  int64_t second;
};

struct HiddenWindow {
  std::u16string class_name;
  plat::WindowProc proc;
};

struct Timer {
  plat::Window window;
  uintptr_t id;
  uint32_t interval_ms;
  int64_t due_ms;
};

struct Loop {
  int port = -1;
  std::map<plat::Window, HiddenWindow> windows;
  plat::Window next_window = 1;
  std::vector<Timer> timers;
  bool quit_posted = false;
  int quit_code = 0;
  MessageRouter router = nullptr;
  InputWait input_wait = nullptr;
};

Loop& State() {
  static Loop loop;
  return loop;
}

int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

socklen_t PortAddress(int64_t pid, int64_t start, sockaddr_un* address) {
  const std::string name = "quadrakey-msg/" + std::to_string(pid) + "/" + std::to_string(start);
  *address = {};
  address->sun_family = AF_UNIX;
  // Abstract namespace: a leading zero byte, no file to clean up.
  std::memcpy(address->sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// Sends one message to a process's port without waiting; false with the
// Win32 reason.
bool SendTo(int fd, int64_t pid, const Wire& wire) {
  const int64_t start = device::ProcessStartTime(pid);
  if (start < 0) return Fail(plat::kErrorInvalidWindowHandle);
  sockaddr_un address;
  const socklen_t size = PortAddress(pid, start, &address);
  for (;;) {
    if (sendto(fd, &wire, sizeof wire, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address), size) ==
        static_cast<ssize_t>(sizeof wire))
      return true;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Fail(plat::kErrorNotEnoughQuota);
    // No port under that name: the program has no window, or ended.
    if (errno == ECONNREFUSED || errno == ENOENT) return Fail(plat::kErrorInvalidWindowHandle);
    return Fail(FromErrno(errno));
  }
}

// A socket for sending (and for hearing a reply on, under a name the kernel
// picks); -1 with the last error set.
int SenderSocket() {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail(FromErrno(errno));
    return -1;
  }
  sockaddr_un own{};
  own.sun_family = AF_UNIX;
  if (bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof(sa_family_t)) != 0) {
    Fail(FromErrno(errno));
    close(fd);
    return -1;
  }
  return fd;
}

// The next message on the port, from a process of this user only; false
// when none waits.
bool Receive(Wire* wire, sockaddr_un* from, socklen_t* from_size) {
  const int fd = State().port;
  if (fd < 0) return false;
  for (;;) {
    iovec data{wire, sizeof *wire};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_name = from;
    header.msg_namelen = sizeof *from;
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd, &header, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    *from_size = header.msg_namelen;
    // Another user of the machine has no business with this program's windows.
    bool same_user = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
        ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
        same_user = credentials.uid == getuid();
      }
    }
    if (same_user && got == static_cast<ssize_t>(sizeof *wire) && wire->magic == kWireMagic) return true;
  }
}

plat::WindowEvent EventOf(uint32_t message, bool* known) {
  *known = true;
  switch (message) {
    case kWmKeyDown: return plat::WindowEvent::kKeyDown;
    case kWmKeyUp: return plat::WindowEvent::kKeyUp;
    case kWmTimer: return plat::WindowEvent::kTimer;
    case kWmHotKey: return plat::WindowEvent::kHotKey;
    case kWmApp: return plat::WindowEvent::kAppMessage;
    case kWmKeyEvent: return plat::WindowEvent::kKeyEvent;
    case kWmTrayCommand: return plat::WindowEvent::kTrayCommand;
    case kWmCopyData: return plat::WindowEvent::kAppText;
  }
  *known = false;
  return plat::WindowEvent::kDestroy;
}

void Dispatch(const PostedMessage& message) {
  Loop& loop = State();
  auto hidden = loop.windows.find(message.window);
  if (hidden == loop.windows.end()) {
    if (loop.router != nullptr) loop.router(message);
    return;
  }
  bool known = false;
  const plat::WindowEvent event = EventOf(message.message, &known);
  if (!known || hidden->second.proc == nullptr) return;
  if (event == plat::WindowEvent::kAppText) {
    std::u16string text;
    if (TakeWindowText(static_cast<int64_t>(message.second), &text))
      hidden->second.proc(message.window, event, message.first, reinterpret_cast<intptr_t>(&text));
    return;
  }
  hidden->second.proc(message.window, event, message.first, message.second);
}

int FireDueTimers() {
  Loop& loop = State();
  const int64_t now = MonotonicMs();
  std::vector<Timer> due;
  for (Timer& timer : loop.timers) {
    if (timer.due_ms > now) continue;
    due.push_back(timer);
    // A timer that fell behind fires once, not once for every interval missed.
    timer.due_ms = now + timer.interval_ms;
  }
  // The procedures may set and kill timers meanwhile: each is still checked.
  int fired = 0;
  for (const Timer& timer : due) {
    const bool alive = std::any_of(loop.timers.begin(), loop.timers.end(), [&](const Timer& t) {
      return t.window == timer.window && t.id == timer.id;
    });
    if (!alive) continue;
    Dispatch({timer.window, kWmTimer, timer.id, 0});
    ++fired;
  }
  return fired;
}

// A program without a window system, as a resident listener is, reaps the
// programs it started, which nobody else waits for.
void ReapStartedPrograms() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

// Made on first use: devices made before hidden windows existed lack it.
const char kCreateHiddenWindows[] =
    "CREATE TABLE IF NOT EXISTS hidden_windows("
    "  window INTEGER PRIMARY KEY, pid INTEGER NOT NULL, start INTEGER NOT NULL, class TEXT NOT NULL)";

bool RegisterHiddenWindow(plat::Window window, const std::u16string& class_name) {
  sqlite3* db = Db();
  if (db == nullptr || !Exec(db, kCreateHiddenWindows)) return false;
  Txn txn(db, true);
  if (!txn.ok()) return false;
  Stmt put(db, "INSERT OR REPLACE INTO hidden_windows(window, pid, start, class) VALUES (?, ?, ?, ?)");
  put.Bind(1, static_cast<int64_t>(window))
      .Bind(2, static_cast<int64_t>(getpid()))
      .Bind(3, device::ProcessStartTime(getpid()))
      .Bind(4, device::ToUtf8(class_name));
  return put.Step() == SQLITE_DONE && txn.Commit();
}

// False with 1400 when no running program has the hidden window.
bool HiddenWindowExists(plat::Window window) {
  sqlite3* db = Db();
  if (db == nullptr) return false;
  const uint32_t saved = plat::GetLastError();
  Stmt find(db, "SELECT pid, start FROM hidden_windows WHERE window = ?");
  if (!find.ok()) {
    plat::SetLastError(saved);  // a device without the table has no hidden window
    return Fail(plat::kErrorInvalidWindowHandle);
  }
  find.Bind(1, static_cast<int64_t>(window));
  if (find.Step() != SQLITE_ROW || device::ProcessStartTime(find.Int(0)) != find.Int(1))
    return Fail(plat::kErrorInvalidWindowHandle);
  return true;
}

void WaitForMessages() {
  Loop& loop = State();
  const int delay = NextTimerDelayMs();
  pollfd watched{loop.port, POLLIN, 0};
  if (loop.port >= 0 || delay > 0) {
    const int ready = poll(&watched, loop.port >= 0 ? 1 : 0, delay);
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "%s: the message port failed (%s)\n", program_invocation_short_name,
                   std::strerror(errno));
      plat::PostQuit(-1);
      return;
    }
  }
  DispatchPendingMessages();
  ReapStartedPrograms();
}

}  // namespace

namespace device::internal {

bool OpenMessagePort() {
  Loop& loop = State();
  if (loop.port >= 0) return true;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(FromErrno(errno));
  const int on = 1;
  sockaddr_un address;
  const socklen_t size = PortAddress(getpid(), ProcessStartTime(getpid()), &address);
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) {
    const int error = errno;
    close(fd);
    return Fail(FromErrno(error));
  }
  loop.port = fd;
  return true;
}

int MessagePortFd() { return State().port; }

int DispatchPendingMessages() {
  int count = 0;
  Wire wire{};
  sockaddr_un from{};
  socklen_t from_size = 0;
  while (Receive(&wire, &from, &from_size)) {
    if (wire.kind == static_cast<uint32_t>(WireKind::kIdleQuery)) {
      // Everything posted before the query has been dispatched by now.
      Wire reply = wire;
      reply.kind = static_cast<uint32_t>(WireKind::kIdleReply);
      sendto(State().port, &reply, sizeof reply, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from),
             from_size);
      continue;
    }
    if (wire.kind != static_cast<uint32_t>(WireKind::kPost)) continue;
    Dispatch({static_cast<plat::Window>(wire.window), wire.message, static_cast<uintptr_t>(wire.first),
              static_cast<intptr_t>(wire.second)});
    ++count;
  }
  return count + FireDueTimers();
}

int NextTimerDelayMs() {
  const Loop& loop = State();
  if (loop.timers.empty()) return -1;
  int64_t first = loop.timers.front().due_ms;
  for (const Timer& timer : loop.timers) first = std::min(first, timer.due_ms);
  const int64_t delay = first - MonotonicMs();
  return delay <= 0 ? 0 : static_cast<int>(std::min<int64_t>(delay, 1 << 30));
}

int64_t WindowProcess(plat::Window window) { return static_cast<int64_t>(window >> 20); }

bool PostToWindow(plat::Window window, uint32_t message, uintptr_t first, intptr_t second) {
  const int64_t pid = WindowProcess(window);
  if (pid <= 0) return Fail(plat::kErrorInvalidWindowHandle);
  Wire wire{kWireMagic, static_cast<uint32_t>(WireKind::kPost), window, message, 0, first, static_cast<int64_t>(second)};
  // This program's own queue takes its posts through its own port, in order
  // with everything else.
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(FromErrno(errno));
  const bool sent = SendTo(fd, pid, wire);
  const uint32_t error = plat::GetLastError();
  close(fd);
  if (!sent) return Fail(error);
  return true;
}

void SetMessageRouter(MessageRouter router) { State().router = router; }
void SetInputWait(InputWait wait) { State().input_wait = wait; }
bool QuitPosted() { return State().quit_posted; }
void ForgetQuit() {
  State().quit_posted = false;
  State().quit_code = 0;
}

void ForgetProcessWindows() {
  sqlite3* db = Db();
  if (db == nullptr || State().windows.empty()) return;
  Stmt remove(db, "DELETE FROM hidden_windows WHERE pid = ?");
  remove.Bind(1, static_cast<int64_t>(getpid()));
  remove.Step();
}

}  // namespace device::internal

namespace device {

bool WaitForInputIdle(int64_t pid, int timeout_ms) {
  const int fd = SenderSocket();
  if (fd < 0) return false;
  // The reply names the query, so a late reply to an earlier one is not taken.
  static uint64_t queries = 0;
  Wire query{kWireMagic, static_cast<uint32_t>(WireKind::kIdleQuery), 0, 0, 0,
             (static_cast<uint64_t>(getpid()) << 32) | ++queries, 0};
  bool answered = false;
  uint32_t error = 0;
  if (!SendTo(fd, pid, query)) {
    error = plat::GetLastError();
  } else {
    const int64_t deadline = MonotonicMs() + timeout_ms;
    for (;;) {
      const int64_t left = deadline - MonotonicMs();
      if (left <= 0) {
        error = kErrorTimeout;
        break;
      }
      pollfd watched{fd, POLLIN, 0};
      if (poll(&watched, 1, static_cast<int>(left)) <= 0) continue;
      Wire reply{};
      if (recv(fd, &reply, sizeof reply, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof reply) &&
          reply.magic == kWireMagic && reply.kind == static_cast<uint32_t>(WireKind::kIdleReply) &&
          reply.first == query.first) {
        answered = true;
        break;
      }
    }
  }
  close(fd);
  if (!answered) return Fail(error);
  return true;
}

}  // namespace device

namespace plat {

Window CreateMessageWindow(const std::u16string& class_name, WindowProc proc) {
  Loop& loop = State();
  if (class_name.empty() || proc == nullptr) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  if (!OpenMessagePort()) return 0;
  const Window handle = (static_cast<Window>(getpid()) << 20) | kHiddenWindowBit | (loop.next_window & 0x7FFFF);
  loop.next_window = loop.next_window % 0x7FFFF + 1;
  if (!RegisterHiddenWindow(handle, class_name)) return 0;
  loop.windows[handle] = {class_name, proc};
  return handle;
}

Window FindMessageWindow(const std::u16string& class_name) {
  sqlite3* db = Db();
  if (db == nullptr) return 0;
  const uint32_t saved = GetLastError();
  Window found = 0;
  std::vector<std::pair<int64_t, int64_t>> dead;  // window, start time
  {
    Stmt list(db, "SELECT window, pid, start, class FROM hidden_windows ORDER BY rowid");
    while (found == 0 && list.ok() && list.Step() == SQLITE_ROW) {
      const int64_t window = list.Int(0);
      if (device::ProcessStartTime(list.Int(1)) != list.Int(2)) {
        dead.emplace_back(window, list.Int(2));
      } else if (CompareNoCase(device::FromUtf8(list.Text(3)), class_name) == 0) {
        found = static_cast<Window>(window);
      }
    }
  }
  for (const auto& [window, start] : dead) {
    Stmt remove(db, "DELETE FROM hidden_windows WHERE window = ? AND start = ?");
    remove.Bind(1, window).Bind(2, start);
    remove.Step();
  }
  SetLastError(saved);  // a device without the table has no hidden window
  return found;
}

bool DestroyMessageWindow(Window window) {
  Loop& loop = State();
  if (loop.windows.count(window) == 0) return Fail(kErrorInvalidWindowHandle);
  sqlite3* db = Db();
  if (db == nullptr) return false;
  Stmt remove(db, "DELETE FROM hidden_windows WHERE window = ?");
  remove.Bind(1, static_cast<int64_t>(window));
  if (!remove.ok() || remove.Step() != SQLITE_DONE) return false;
  RemoveTrayIcon(window);
  // Posts already on their way reach the port and find no window.
  const WindowProc proc = loop.windows[window].proc;
  loop.windows.erase(window);
  std::erase_if(loop.timers, [&](const Timer& t) { return t.window == window; });
  // As Windows does, the window hears that it goes.
  if (proc != nullptr) proc(window, WindowEvent::kDestroy, 0, 0);
  return true;
}

bool PostWindowMessage(Window window, uintptr_t code, intptr_t param) {
  // A hidden window lives as long as its row: one destroyed while its
  // program runs takes nothing more.
  if ((window & kHiddenWindowBit) != 0 && !HiddenWindowExists(window)) return false;
  return device::internal::PostToWindow(window, kWmApp, code, param);
}

bool SetTimer(Window window, uintptr_t id, uint32_t interval_ms) {
  Loop& loop = State();
  if (WindowProcess(window) != getpid()) return Fail(kErrorInvalidWindowHandle);
  interval_ms = std::max(interval_ms, kMinimumTimerMs);
  const int64_t due = MonotonicMs() + interval_ms;
  for (Timer& timer : loop.timers) {
    if (timer.window == window && timer.id == id) {
      timer.interval_ms = interval_ms;
      timer.due_ms = due;
      return true;
    }
  }
  loop.timers.push_back({window, id, interval_ms, due});
  return true;
}

void KillTimer(Window window, uintptr_t id) {
  std::erase_if(State().timers, [&](const Timer& t) { return t.window == window && t.id == id; });
}

void PostQuit(int code) {
  State().quit_posted = true;
  State().quit_code = code;
}

int RunMessageLoop() {
  Loop& loop = State();
  while (!loop.quit_posted) {
    if (loop.input_wait != nullptr) {
      loop.input_wait();
      continue;
    }
    if (loop.port < 0 && loop.timers.empty()) {
      // Nothing could ever send a message: waiting would hang for good.
      std::fprintf(stderr, "%s: waits for messages, but it has no window to receive any; the loop ends\n",
                   program_invocation_short_name);
      return -1;
    }
    WaitForMessages();
  }
  loop.quit_posted = false;
  return loop.quit_code;
}

}  // namespace plat
