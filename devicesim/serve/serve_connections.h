// devicesim serve's connections: one thread waits on every connection that
// has no whole request header yet, and on every answer its peer has not
// taken yet, so a slow, idle or unreading client holds no worker; only a
// connection whose header has arrived is handed to a worker, and the worker
// leaves what the peer does not take at once to this thread. A connection
// reads its next request only once its answer is taken. Every connection is
// bounded: the time from its first byte to the end of its header, the time
// it may stay idle, the size of its header, the time its peer may take to
// take an answer, and how many the gate holds at once. Beyond that number
// one gives way, never the newcomer: first one that has sent nothing (looked
// at again first: what it sent may not have been read yet), the one waiting
// longest; then one closing anyway; then the slowest header; then the
// slowest reader. Cookie header lines are dropped as they come: the server
// reads none, and any page on 127.0.0.1 can make them as long as a browser
// allows.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devicesim::serve {

struct ConnectionLimits {
  int idle_ms = 5000;         // no request under way
  int request_ms = 2000;      // a request's first byte to its last (header and body)
  int write_ms = 5000;        // an answer that the peer does not take
  size_t max_header = 8192;   // bytes up to the header's empty line, Cookie lines left out
  size_t max_raw_header = 1 << 20;  // the same with Cookie lines
  size_t max_unsent = 5 << 20;      // an answer held for a peer that does not take it
  size_t max_waiting = 256;   // connections the gate holds at once (waiting, or being answered)
  size_t workers = 12;        // requests served at once, event streams included
};

// A connection as a worker serves it: its request's header read by the
// gate, then the socket, which a body is read from until the request's
// deadline. What the peer does not take at once is kept, up to a limit, for
// the gate to send: a worker waits on a peer only for an answer past that
// limit (an event stream that its page stopped reading).
class GateStream {
 public:
  GateStream(int fd, std::string buffered, int64_t read_deadline, const ConnectionLimits& limits)
      : fd_(fd), buffered_(std::move(buffered)), read_deadline_(read_deadline), limits_(limits) {}

  // What the gate read and nobody has taken: the request's header, whole,
  // and whatever came after it.
  const std::string& Buffered() const { return buffered_; }
  size_t Taken() const { return at_; }
  void Take(size_t bytes) { at_ = std::min(buffered_.size(), at_ + bytes); }
  // Up to `size` bytes: what is buffered, then the socket; 0 at its end, -1
  // past the deadline or on an error.
  ssize_t Read(char* data, size_t size);
  // False once the connection is broken, or the peer took nothing for the
  // write time while more than the limit waited for it.
  bool Write(const std::string& data);
  bool Broken() const { return broken_; }

  // For the gate: what is left to read, and the answer the peer has not taken.
  std::string Leftover() const { return buffered_.substr(at_); }
  std::string TakeUnsent();

 private:
  size_t Unsent() const { return unsent_.size() - unsent_at_; }
  bool Flush();

  int fd_;
  std::string buffered_;
  size_t at_ = 0;
  int64_t read_deadline_;
  const ConnectionLimits& limits_;
  std::string unsent_;
  size_t unsent_at_ = 0;
  bool broken_ = false;
};

class ConnectionGate {
 public:
  // Serves one request from `stream`, whose header has arrived whole, on
  // connection number `connection` (unique for the gate's life). True when
  // the connection may carry another request; `*close_gently` asks for the
  // rest of what the peer sends to be read and dropped (briefly) before the
  // connection closes, so that the peer sees the answer (a request refused
  // before its body was read).
  using Handler = std::function<bool(GateStream& stream, uint64_t connection, bool* close_gently)>;
  // Connection `connection` is closed, for whatever reason; called once for
  // each, on the gate's thread or a worker's: it must not wait.
  using Closed = std::function<void(uint64_t connection)>;

  ConnectionGate(ConnectionLimits limits, Handler handler, Closed closed = nullptr);
  ~ConnectionGate();
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // Listens on 127.0.0.1:`port` (0: a free port); false with a message.
  bool Listen(int port, std::string* error);
  int Port() const { return port_; }
  // Serves until Stop; false when waiting on the connections failed.
  bool Run();
  // Stops accepting and closes every waiting connection; requests under way
  // end on their own (event streams when their source stops).
  void Stop();

  // Connections the gate holds now (for tests).
  size_t Waiting() const;

 private:
  struct Connection {
    int fd = -1;
    uint64_t id = 0;
    std::string buffered;    // read but not yet served
    int64_t since = 0;       // monotonic ms: waiting since
    uint64_t order = 0;      // when it began to wait, among those of the same ms
    int64_t deadline = 0;    // monotonic ms
    bool started = false;    // a byte of the next request has come
    bool lingering = false;  // answered and closing: what comes is dropped
    size_t dropped = 0;
    std::string unsent;      // an answer the peer has not taken yet
    size_t unsent_at = 0;
    enum class After { kNext, kClose, kLinger } after = After::kNext;  // once it is taken
    size_t raw = 0;          // header bytes read, Cookie lines included
    size_t line_start = 0;   // in `buffered`: the header line being read
    bool in_cookie = false;  // the rest of the line being read is dropped
    bool header_seen = false;
  };

  // Adds what came to `c.buffered`, less Cookie lines.
  static void Take(Connection& c, const char* data, size_t size);

  void Accept();
  void Readable(int fd);
  void Writable(int fd);
  // The answer is taken: the connection waits for its next request, or closes.
  void Answered(Connection& c);
  bool Writing(const Connection& c) const { return c.unsent_at < c.unsent.size(); }
  // True when `c` holds a whole header (or is beyond help and was closed).
  bool HeaderComplete(Connection& c);
  void Watch(Connection c);
  void Close(int fd);
  // Closes a connection that is not waiting (a worker's, or one never watched).
  void CloseTaken(const Connection& c);
  // The connection that gives way to `newcomer` (see above); -1 when the
  // newcomer is the only one.
  int GiveWay(int newcomer);
  void ExpireAndEvict(int64_t now);
  int NextTimeout(int64_t now) const;
  void Work();
  void TakeBack();

  ConnectionLimits limits_;
  Handler handler_;
  Closed closed_;
  std::atomic<uint64_t> next_id_{0};
  int listen_fd_ = -1;
  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};

  std::map<int, Connection> waiting_;  // the gate thread's own
  uint64_t watched_ = 0;               // connections watched so far
  std::atomic<size_t> waiting_count_{0};

  std::mutex queue_mutex_;
  std::condition_variable queue_changed_;
  std::deque<Connection> ready_;     // to the workers
  std::vector<Connection> returned_;  // from the workers, back to the gate
  std::vector<std::thread> workers_;
};

}  // namespace devicesim::serve
