// The program's side of the window system's channel: requests come in on an
// abstract Unix socket while the program waits for input; an action's reply
// waits until the program waits for input again.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host/device/device.h"
#include "platform/host/device/host_internal.h"
#include "platform/host/ui/model.h"

namespace device::ui {
namespace {

using channel::Format;
using channel::Reply;
using channel::Request;
using channel::Status;

struct Connection {
  int fd = -1;
  std::string input;
  bool read_all = false;  // the client shut its side: the request is whole
  bool handled = false;
  bool waiting = false;   // an action was performed; the reply waits for the next wait
  Format format = Format::kText;
  std::string output;
  size_t written = 0;
  bool replying = false;
};

int listener = -1;
std::vector<std::unique_ptr<Connection>> connections;

void Close(Connection* connection) {
  if (connection->fd >= 0) close(connection->fd);
  connection->fd = -1;
}

Reply Answer(Status status, const std::string& message, int exit_code = -1) {
  Reply reply;
  reply.status = status;
  reply.message = message;
  reply.exit_code = exit_code;
  return reply;
}

void Queue(Connection* connection, const Reply& reply) {
  connection->output = channel::EncodeReply(reply);
  connection->written = 0;
  connection->replying = true;
  connection->waiting = false;
}

void QueueScreen(Connection* connection) {
  Reply reply;
  reply.screen = RenderScreen(connection->format);
  Queue(connection, reply);
}

// Writes what the socket takes now; true when the reply is out (or the
// client is gone).
bool WriteSome(Connection* connection) {
  while (connection->written < connection->output.size()) {
    ssize_t n = send(connection->fd, connection->output.data() + connection->written,
                     connection->output.size() - connection->written, MSG_NOSIGNAL);
    if (n > 0) {
      connection->written += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return false;
    } else {
      return true;  // the client went away; nobody is left to tell
    }
  }
  return true;
}

// Reads what is there; false when the connection is to be dropped.
bool ReadSome(Connection* connection) {
  char buffer[16384];
  for (;;) {
    ssize_t n = recv(connection->fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      connection->input.append(buffer, static_cast<size_t>(n));
      if (connection->input.size() > channel::kMaxRequestBytes) {
        connection->handled = true;
        Queue(connection, Answer(Status::kError, "the request is longer than " +
                                                     std::to_string(channel::kMaxRequestBytes) + " bytes"));
        return true;
      }
    } else if (n == 0) {
      connection->read_all = true;
      return true;
    } else if (errno == EINTR) {
      continue;
    } else {
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
  }
}

void AcceptAll() {
  for (;;) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;
    }
    // Another user of the machine has no business with this program's screen.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
      close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connections.push_back(std::move(connection));
  }
}

void DropFinished() {
  for (size_t i = 0; i < connections.size();) {
    if (connections[i]->fd < 0) {
      connections.erase(connections.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
}

// Handles one whole request; true when it performed an action.
bool Handle(Connection* connection) {
  connection->handled = true;
  Request request;
  if (!channel::DecodeRequest(connection->input, &request)) {
    Queue(connection, Answer(Status::kError, "malformed request"));
    return false;
  }
  connection->format = request.format;
  // The client has given up by now; acting for it would surprise whoever
  // looks at the screen next.
  if (request.deadline_ms != 0 && channel::MonotonicMs() > request.deadline_ms) {
    Queue(connection, Answer(Status::kRefused, "the request arrived after its time limit"));
    return false;
  }
  if (request.verb == channel::kShowVerb) {
    QueueScreen(connection);
    return false;
  }
  plat::person::Action action{};
  std::string error;
  if (!channel::GetAction(request, &action, &error)) {
    Queue(connection, Answer(Status::kError, error));
    return false;
  }
  // Marked first: the action may open a dialog whose own wait answers it.
  connection->waiting = true;
  std::u16string reason;
  if (!PerformAction(action, &reason)) {
    Queue(connection, Answer(Status::kRefused, ToUtf8(reason)));
    return false;
  }
  return true;
}

}  // namespace

bool OpenChannel(const std::string& name) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // Abstract namespace: a leading zero byte, no file to clean up.
  size_t length = name.size() < sizeof address.sun_path - 1 ? name.size() : sizeof address.sun_path - 1;
  std::memcpy(address.sun_path + 1, name.data(), length);
  socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 64) != 0) {
    std::fprintf(stderr, "%s: no window-system channel (%s); devicesim ui cannot reach this program\n",
                 program_invocation_short_name, std::strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  listener = fd;
  return true;
}

bool ChannelOpen() { return listener >= 0; }

void ReplyToWaitingRequests() {
  for (auto& connection : connections)
    if (connection->waiting && connection->fd >= 0) QueueScreen(connection.get());
}

void ServeChannel() {
  for (;;) {
    ReplyToWaitingRequests();
    // Answer in the order the requests came.
    for (size_t i = 0; i < connections.size(); ++i) {
      Connection* connection = connections[i].get();
      if (connection->fd >= 0 && connection->read_all && !connection->handled && Handle(connection)) return;
    }
    std::vector<pollfd> watched{{listener, POLLIN, 0}};
    for (auto& connection : connections) {
      short events = connection->replying ? POLLOUT : (!connection->read_all ? POLLIN : 0);
      watched.push_back({connection->fd, events, 0});
    }
    // Posted messages and timers end the wait as an action does.
    const size_t channel_count = watched.size();
    if (internal::MessagePortFd() >= 0) watched.push_back({internal::MessagePortFd(), POLLIN, 0});
    int ready = poll(watched.data(), watched.size(), internal::NextTimerDelayMs());
    if (ready >= 0 && internal::DispatchPendingMessages() > 0) return;
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "%s: the window-system channel failed (%s)\n", program_invocation_short_name,
                   std::strerror(errno));
      CloseChannel(-1);
      CancelFront();  // nothing can act any more
      return;
    }
    for (size_t i = 1; i < channel_count; ++i) {
      Connection* connection = connections[i - 1].get();
      short revents = watched[i].revents;
      if (revents == 0) continue;
      if (connection->replying) {
        if (WriteSome(connection)) Close(connection);
      } else if (!connection->read_all && (revents & (POLLIN | POLLHUP | POLLERR))) {
        if (!ReadSome(connection)) Close(connection);
      } else if (revents & (POLLHUP | POLLERR)) {
        Close(connection);  // gone while its reply waited
      }
    }
    if (watched[0].revents & POLLIN) AcceptAll();
    DropFinished();
  }
}

void CloseChannel(int exit_code) {
  if (listener < 0) return;
  // Whoever still waits, or is about to ask, learns that the program ended.
  AcceptAll();
  close(listener);
  listener = -1;
  Reply ended = Answer(Status::kEnded, "", exit_code);
  for (auto& connection : connections)
    if (!connection->replying) Queue(connection.get(), ended);
  int64_t deadline = channel::MonotonicMs() + 1000;
  for (;;) {
    std::vector<pollfd> watched;
    for (auto& connection : connections) {
      if (connection->fd < 0) continue;
      if (WriteSome(connection.get())) {
        Close(connection.get());
      } else {
        watched.push_back({connection->fd, POLLOUT, 0});
      }
    }
    int64_t left = deadline - channel::MonotonicMs();
    if (watched.empty() || left <= 0) break;
    poll(watched.data(), watched.size(), static_cast<int>(left));
  }
  for (auto& connection : connections) Close(connection.get());
  connections.clear();
}

}  // namespace device::ui
