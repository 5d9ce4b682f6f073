#include "devicesim/shell/ui_client.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

namespace devicesim::ui {
namespace {

class Socket {
 public:
  Socket() : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Waits for `events` until the deadline; false when the time is up.
bool WaitFor(int fd, short events, int64_t deadline) {
  for (;;) {
    int64_t left = deadline - device::channel::MonotonicMs();
    if (left <= 0) return false;
    pollfd watched{fd, events, 0};
    int ready = poll(&watched, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the next call reports the error
  }
}

std::string Executable(int64_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

Outcome Fail(Outcome::Kind kind, const std::string& message) {
  Outcome outcome;
  outcome.kind = kind;
  outcome.message = message;
  return outcome;
}

}  // namespace

std::string ProgramName(const device::WindowRecord& program) {
  std::string name = Executable(program.pid);
  if (name.size() > 4 && plat::CompareNoCase(device::FromUtf8(name.substr(name.size() - 4)), u".exe") == 0)
    name.resize(name.size() - 4);
  if (name.empty()) name = "the program";
  return name + " (pid " + std::to_string(program.pid) + ")";
}

bool FindProgram(int64_t pid, device::WindowRecord* program, std::string* error) {
  std::vector<device::WindowRecord> windows = device::LiveWindows();
  const device::WindowRecord* found = nullptr;
  for (const device::WindowRecord& window : windows)
    if (pid == 0 || window.pid == pid) found = &window;  // the newest wins
  if (found == nullptr) {
    *error = pid == 0 ? "no tapdeck runs on this device"
                      : "no program with pid " + std::to_string(pid) + " shows a window on this device";
    return false;
  }
  if (found->channel.empty()) {
    *error = ProgramName(*found) + " runs without a window-system channel (see its output)";
    return false;
  }
  *program = *found;
  return true;
}

Outcome Send(const device::WindowRecord& program, device::channel::Request request, int64_t timeout_ms) {
  int64_t deadline = device::channel::MonotonicMs() + timeout_ms;
  request.deadline_ms = deadline;
  std::string name = ProgramName(program);
  Socket socket;
  if (socket.fd() < 0) return Fail(Outcome::kFailed, std::string("no socket: ") + std::strerror(errno));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = program.channel.size() < sizeof address.sun_path - 1 ? program.channel.size()
                                                                       : sizeof address.sun_path - 1;
  std::memcpy(address.sun_path + 1, program.channel.data(), length);
  socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  // A full backlog refuses at once; the program empties it when it next waits.
  for (;;) {
    if (connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), size) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      if (device::channel::MonotonicMs() >= deadline)
        return Fail(Outcome::kTimedOut, name + " did not take the request within " +
                                            std::to_string(timeout_ms) + " ms");
      usleep(1000);
      continue;
    }
    if (device::ProcessStartTime(program.pid) != program.start_time)
      return Fail(Outcome::kLost, name + " has ended");
    return Fail(Outcome::kFailed, "cannot reach " + name + ": " + std::strerror(errno));
  }
  std::string bytes = device::channel::EncodeRequest(request);
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(socket.fd(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFor(socket.fd(), POLLOUT, deadline))
        return Fail(Outcome::kTimedOut, name + " did not take the request within " +
                                            std::to_string(timeout_ms) + " ms");
    } else {
      return Fail(Outcome::kLost, name + " ended before it took the request");
    }
  }
  shutdown(socket.fd(), SHUT_WR);
  std::string reply;
  char buffer[65536];
  for (;;) {
    ssize_t n = recv(socket.fd(), buffer, sizeof buffer, 0);
    if (n > 0) {
      reply.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno == EAGAIN || errno == EINTR) {
      if (!WaitFor(socket.fd(), POLLIN, deadline)) {
        return Fail(Outcome::kTimedOut, name + " did not wait for input within " +
                                            std::to_string(timeout_ms) + " ms");
      }
    } else {
      break;  // a reset: the program is gone
    }
  }
  Outcome outcome;
  if (!device::channel::DecodeReply(reply, &outcome.reply)) {
    return Fail(Outcome::kLost, reply.empty() ? name + " ended before it answered (exit status unknown)"
                                              : name + " sent a reply that makes no sense");
  }
  outcome.kind = Outcome::kReplied;
  return outcome;
}

}  // namespace devicesim::ui
