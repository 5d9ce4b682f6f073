#include "devicesim/serve/serve_connections.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace devicesim::serve {
namespace {

// What an answered connection may still send before it is closed: enough
// for the peer to stop sending and read the answer.
constexpr size_t kMaxDropped = 1 << 20;
constexpr int kLingerMs = 1000;
constexpr size_t kReadChunk = 8192;

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool WaitFor(int fd, short events, int64_t ms) {
  if (ms < 0) ms = 0;
  pollfd p{fd, events, 0};
  for (;;) {
    int ready = poll(&p, 1, static_cast<int>(std::min<int64_t>(ms, 60000)));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && (p.revents & events) != 0;
  }
}

// As much of `data` as the socket takes now; -1 when it is broken.
ssize_t SendNow(int fd, const char* data, size_t size) {
  size_t sent = 0;
  while (sent < size) {
    ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      return -1;
    }
  }
  return static_cast<ssize_t>(sent);
}

// The end of a header: an empty line (after CRLF or a bare LF). npos when
// it has not come yet; otherwise the offset just after it.
size_t HeaderEnd(const std::string& text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] == '\n') return at + 2;
    if (at + 2 < text.size() && text[at + 1] == '\r' && text[at + 2] == '\n') return at + 3;
  }
  return std::string::npos;
}

std::string HeaderTooLarge(size_t max) {
  std::string body = "{\"error\":\"the request header is longer than " + std::to_string(max) + " bytes\"}";
  return "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

bool IsCookieLine(const char* line, size_t size) {
  static const char kName[] = "cookie:";
  if (size < sizeof kName - 1) return false;
  for (size_t i = 0; i < sizeof kName - 1; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != kName[i]) return false;
  return true;
}

}  // namespace

ssize_t GateStream::Read(char* data, size_t size) {
  if (at_ < buffered_.size()) {
    size_t n = std::min(size, buffered_.size() - at_);
    std::memcpy(data, buffered_.data() + at_, n);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  for (;;) {
    if (!WaitFor(fd_, POLLIN, read_deadline_ - NowMs())) return -1;
    ssize_t n = recv(fd_, data, size, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return n;
  }
}

bool GateStream::Write(const std::string& data) {
  if (broken_) return false;
  size_t taken = 0;
  if (Unsent() == 0) {
    ssize_t n = SendNow(fd_, data.data(), data.size());
    if (n < 0) {
      broken_ = true;
      return false;
    }
    taken = static_cast<size_t>(n);
  }
  unsent_.append(data, taken, std::string::npos);
  if (Unsent() > limits_.max_unsent && !Flush()) broken_ = true;
  return !broken_;
}

std::string GateStream::TakeUnsent() {
  std::string rest = unsent_.substr(unsent_at_);
  unsent_.clear();
  unsent_at_ = 0;
  return rest;
}

// Sends what is kept, waiting up to the write time for the peer; true when all went.
bool GateStream::Flush() {
  int64_t deadline = NowMs() + limits_.write_ms;
  while (Unsent() > 0) {
    ssize_t n = SendNow(fd_, unsent_.data() + unsent_at_, Unsent());
    if (n < 0) return false;
    unsent_at_ += static_cast<size_t>(n);
    if (Unsent() > 0 && !WaitFor(fd_, POLLOUT, deadline - NowMs())) return false;
  }
  unsent_.clear();
  unsent_at_ = 0;
  return true;
}

void ConnectionGate::Take(Connection& c, const char* data, size_t size) {
  c.raw += size;
  size_t at = 0;
  while (at < size) {
    if (c.header_seen) {  // a body, or the next request: the worker's
      c.buffered.append(data + at, size - at);
      return;
    }
    const char* newline = static_cast<const char*>(std::memchr(data + at, '\n', size - at));
    size_t end = newline != nullptr ? static_cast<size_t>(newline - data) + 1 : size;
    if (c.in_cookie) {
      c.in_cookie = newline == nullptr;
      at = end;
      continue;
    }
    c.buffered.append(data + at, end - at);
    at = end;
    const char* line = c.buffered.data() + c.line_start;
    size_t length = c.buffered.size() - c.line_start;
    // Not the request line; a name cut short is looked at again when the rest comes.
    if (c.line_start > 0 && IsCookieLine(line, length)) {
      c.buffered.resize(c.line_start);
      c.in_cookie = newline == nullptr;
      continue;
    }
    if (newline == nullptr) continue;
    if (length == 1 || (length == 2 && line[0] == '\r')) c.header_seen = true;
    c.line_start = c.buffered.size();
  }
}

ConnectionGate::ConnectionGate(ConnectionLimits limits, Handler handler, Closed closed)
    : limits_(limits), handler_(std::move(handler)), closed_(std::move(closed)) {}

ConnectionGate::~ConnectionGate() {
  for (const auto& [fd, c] : waiting_) close(fd);
  for (int fd : {listen_fd_, epoll_fd_, wake_fd_})
    if (fd >= 0) close(fd);
}

bool ConnectionGate::Listen(int port, std::string* error) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (listen_fd_ < 0 || epoll_fd_ < 0 || wake_fd_ < 0) {
    *error = std::string("cannot make a socket: ") + std::strerror(errno);
    return false;
  }
  int yes = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never any other address
  socklen_t size = sizeof address;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listen_fd_, 1024) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (" + std::strerror(errno) + ")" +
             (port != 0 ? "; in use? --port 0 takes a free port" : "");
    return false;
  }
  port_ = ntohs(address.sin_port);
  for (int fd : {listen_fd_, wake_fd_}) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event);
  }
  return true;
}

void ConnectionGate::Watch(Connection c) {
  epoll_event event{};
  // While an answer goes out, nothing is read: not the next request, and
  // not a hang-up of the peer's side, which would wake the gate for good.
  event.events = Writing(c) ? EPOLLOUT : EPOLLIN | EPOLLRDHUP;
  event.data.fd = c.fd;
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, c.fd, &event) != 0) {
    CloseTaken(c);
    return;
  }
  int fd = c.fd;
  c.order = ++watched_;
  bool writing = Writing(c);
  waiting_[fd] = std::move(c);
  if (writing) {
    Writable(fd);
  } else if (!waiting_[fd].lingering && !HeaderComplete(waiting_[fd])) {
    // What came with it, or right after it (a newcomer's header), is read now.
    Readable(fd);
  }
  // Counted once one has given way: the gate never shows more than it holds.
  if (waiting_.size() > limits_.max_waiting && waiting_.count(fd) != 0) {
    int gives_way = GiveWay(fd);
    if (gives_way >= 0) Close(gives_way);
  }
  waiting_count_ = waiting_.size();
}

int ConnectionGate::GiveWay(int newcomer) {
  // Each rank, longest first; the number of a closed descriptor comes back
  // with the next connection, so the order breaks ties of the same ms.
  std::vector<std::pair<int, const Connection*>> ranked;
  for (const auto& [fd, c] : waiting_) {
    if (fd == newcomer) continue;
    int rank = Writing(c) ? 3 : c.lingering ? 1 : c.started ? 2 : 0;
    ranked.emplace_back(rank, &c);
  }
  std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return a.second->since != b.second->since ? a.second->since < b.second->since : a.second->order < b.second->order;
  });
  std::vector<int> order;
  std::vector<int> ranks;
  for (const auto& [rank, c] : ranked) {
    order.push_back(c->fd);
    ranks.push_back(rank);
  }
  for (size_t i = 0; i < order.size(); ++i) {
    int fd = order[i];
    if (ranks[i] != 0) return fd;
    // Sent nothing, as far as the gate has read: it may have sent its
    // request meanwhile, and then it is no idler.
    Readable(fd);
    auto still = waiting_.find(fd);
    if (still != waiting_.end() && !still->second.started && !still->second.lingering) return fd;
    if (waiting_.size() <= limits_.max_waiting) return -1;  // it was served, or it ended
  }
  return -1;
}

void ConnectionGate::Close(int fd) {
  epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
  auto found = waiting_.find(fd);
  if (found != waiting_.end()) {
    Connection c = std::move(found->second);
    waiting_.erase(found);
    CloseTaken(c);
  } else {
    close(fd);
  }
  waiting_count_ = waiting_.size();
}

void ConnectionGate::CloseTaken(const Connection& c) {
  close(c.fd);
  if (closed_) closed_(c.id);
}

void ConnectionGate::Accept() {
  for (;;) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Out of descriptors: the longest waiting gives way, or the next
      // connection waits in the backlog.
      if ((errno == EMFILE || errno == ENFILE) && !waiting_.empty()) {
        int gives_way = GiveWay(-1);
        if (gives_way < 0) return;
        Close(gives_way);
        continue;
      }
      return;
    }
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    int64_t now = NowMs();
    Connection c;
    c.fd = fd;
    c.id = ++next_id_;
    c.since = now;
    c.deadline = now + limits_.idle_ms;
    Watch(std::move(c));
  }
}

bool ConnectionGate::HeaderComplete(Connection& c) {
  size_t end = HeaderEnd(c.buffered);
  if (end == std::string::npos || end > limits_.max_header || c.raw > limits_.max_raw_header) {
    if (c.buffered.size() <= limits_.max_header && c.raw <= limits_.max_raw_header) return false;
    // Said once, then dropped like any refused request.
    std::string answer = HeaderTooLarge(limits_.max_header);
    if (send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
      Close(c.fd);
      return true;
    }
    shutdown(c.fd, SHUT_WR);
    c.lingering = true;
    c.buffered.clear();
    c.deadline = NowMs() + kLingerMs;
    return true;
  }
  int fd = c.fd;
  epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    ready_.push_back(std::move(c));
  }
  waiting_.erase(fd);
  waiting_count_ = waiting_.size();
  queue_changed_.notify_one();
  return true;
}

void ConnectionGate::Writable(int fd) {
  auto found = waiting_.find(fd);
  if (found == waiting_.end()) return;
  Connection& c = found->second;
  ssize_t n = SendNow(fd, c.unsent.data() + c.unsent_at, c.unsent.size() - c.unsent_at);
  if (n < 0) {
    Close(fd);
    return;
  }
  c.unsent_at += static_cast<size_t>(n);
  if (!Writing(c)) Answered(c);
}

void ConnectionGate::Answered(Connection& c) {
  int fd = c.fd;
  c.unsent.clear();
  c.unsent_at = 0;
  int64_t now = NowMs();
  switch (c.after) {
    case Connection::After::kClose: Close(fd); return;
    case Connection::After::kLinger:
      shutdown(fd, SHUT_WR);
      c.lingering = true;
      c.deadline = now + kLingerMs;
      break;
    case Connection::After::kNext:
      c.deadline = now + (c.started ? limits_.request_ms : limits_.idle_ms);
      break;
  }
  c.after = Connection::After::kNext;
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP;
  event.data.fd = fd;
  epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &event);
  // The next request may have come whole while this answer went out.
  if (!c.lingering && HeaderComplete(c)) return;
  Readable(fd);
}

void ConnectionGate::Readable(int fd) {
  auto found = waiting_.find(fd);
  if (found == waiting_.end()) return;
  Connection& c = found->second;
  if (Writing(c)) {  // only a hang-up can come: the next request waits
    Writable(fd);
    return;
  }
  char chunk[kReadChunk];
  bool ended = false;
  for (;;) {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      if (c.lingering) {
        c.dropped += static_cast<size_t>(n);
        if (c.dropped > kMaxDropped) {
          Close(fd);
          return;
        }
        continue;
      }
      if (!c.started) {
        c.started = true;
        c.deadline = NowMs() + limits_.request_ms;
      }
      Take(c, chunk, static_cast<size_t>(n));
      // No need to read on: too large, or complete.
      if (c.buffered.size() > limits_.max_header || c.raw > limits_.max_raw_header) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    break;
  }
  if (c.lingering) {
    if (ended) Close(fd);
    return;
  }
  // A peer that sent its request and then shut its side still gets the answer.
  if (HeaderComplete(c)) return;
  if (ended) Close(fd);
}

void ConnectionGate::ExpireAndEvict(int64_t now) {
  std::vector<int> expired;
  for (const auto& [fd, c] : waiting_)
    if (c.deadline <= now) expired.push_back(fd);
  for (int fd : expired) Close(fd);
}

int ConnectionGate::NextTimeout(int64_t now) const {
  int64_t next = now + 1000;
  for (const auto& [fd, c] : waiting_) next = std::min(next, c.deadline);
  return static_cast<int>(std::max<int64_t>(0, next - now));
}

void ConnectionGate::TakeBack() {
  std::vector<Connection> back;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    back.swap(returned_);
  }
  for (Connection& c : back) Watch(std::move(c));
}

void ConnectionGate::Work() {
  for (;;) {
    Connection c;
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      queue_changed_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
      if (stopping_ || ready_.empty()) return;
      c = std::move(ready_.front());
      ready_.pop_front();
    }
    GateStream stream(c.fd, std::move(c.buffered), c.deadline, limits_);
    bool gently = false;
    bool keep = handler_(stream, c.id, &gently) && !stream.Broken() && !stopping_;
    std::string unsent = stream.Broken() || stopping_ ? std::string() : stream.TakeUnsent();
    if (!keep && !gently && unsent.empty()) {
      CloseTaken(c);
      continue;
    }
    int64_t now = NowMs();
    Connection back;
    back.fd = c.fd;
    back.id = c.id;
    back.since = now;
    back.unsent = std::move(unsent);
    if (gently) {
      back.after = Connection::After::kLinger;
    } else if (!keep) {
      back.after = Connection::After::kClose;
    } else {
      std::string left = stream.Leftover();
      Take(back, left.data(), left.size());
      back.started = !left.empty();
    }
    if (!Writing(back) && gently) {
      shutdown(c.fd, SHUT_WR);
      back.lingering = true;
      back.after = Connection::After::kNext;
      back.deadline = now + kLingerMs;
    } else {
      // Taking the answer, then (kNext) the next request, each in its time.
      back.deadline = now + (Writing(back) ? limits_.write_ms : back.started ? limits_.request_ms : limits_.idle_ms);
    }
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      returned_.push_back(std::move(back));
    }
    uint64_t one = 1;
    if (::write(wake_fd_, &one, sizeof one) < 0) {
      // the counter is full: the gate is awake anyway
    }
  }
}

bool ConnectionGate::Run() {
  for (size_t i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { Work(); });
  bool ok = true;
  epoll_event events[64];
  while (!stopping_) {
    int n = epoll_wait(epoll_fd_, events, 64, NextTimeout(NowMs()));
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (int i = 0; i < n && !stopping_; ++i) {
      int fd = events[i].data.fd;
      if (fd == listen_fd_) {
        Accept();
      } else if (fd == wake_fd_) {
        uint64_t count = 0;
        if (::read(wake_fd_, &count, sizeof count) < 0) {
          // nothing to read: woken for nothing
        }
        TakeBack();
      } else if ((events[i].events & EPOLLOUT) != 0) {
        Writable(fd);
      } else {
        Readable(fd);
      }
    }
    ExpireAndEvict(NowMs());
  }
  stopping_ = true;
  std::vector<int> open;
  for (const auto& [fd, c] : waiting_) open.push_back(fd);
  for (int fd : open) Close(fd);
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_changed_.notify_all();
  }
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  for (Connection& c : ready_) CloseTaken(c);
  for (Connection& c : returned_) CloseTaken(c);
  ready_.clear();
  returned_.clear();
  return ok;
}

void ConnectionGate::Stop() {
  stopping_ = true;
  uint64_t one = 1;
  if (wake_fd_ >= 0 && ::write(wake_fd_, &one, sizeof one) < 0) {
    // the gate sees stopping_ within its next timeout
  }
  std::lock_guard<std::mutex> lock(queue_mutex_);
  queue_changed_.notify_all();
}

size_t ConnectionGate::Waiting() const { return waiting_count_; }

}  // namespace devicesim::serve
