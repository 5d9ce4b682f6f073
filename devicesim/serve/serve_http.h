// devicesim serve's HTTP side: one page and a JSON API over the device, on
// 127.0.0.1 only. Connections are serve_connections.h's; each request is
// read and answered as serve_message.h has it, and routed by kRoutes.
//
// GET  /#token=TOKEN     the address serve prints: the fragment never
//                        reaches a server; the page keeps it and proves it
//                        holds it (serve_sessions.h)
// GET  /                 the page, which holds no secret
// GET  /NAME.js|css|svg  the page's files, from the web folder
// GET  /api/state        the state the page draws: device, buttons (with the
//                        hardware keys to draw), screen, the series of
//                        presses, the journal's latest entries
// GET  /api/events?page=ID  server-sent events: "snapshot" first, then
//                        "journal", "device", "buttons", "screen", "presses", "tuner";
//                        one stream a page, kMaxStreams pages
// GET  /api/hello?nonce=N  the server's proof that it holds the token (and,
//                        to a credited request, how many pages have a stream)
// POST /api/session      {"pageNonce", "nonce", "proof"}: the page's proof;
//                        a session for X-Quadrakey-Session
// GET  /api/lines?id=N   the lines of control N of the screen in front
// POST /api/button       {"name": "40C1", "down": true|false, "page": ID}
// POST /api/power        {"down": true|false, "page": ID}
// POST /api/heartbeat    {"page": ID}: the page is still there
// POST /api/release      {"page": ID}: the page goes away; its keys go up
//                        (without "page", or with "page": "", the client is
//                        the request's connection, whose keys go up when it
//                        closes)
// POST /api/ui           a person's action: {"action": VERB} and its
//                        arguments, named as platform/person.h's table names
//                        them: {"action": "select", "id": 1013, "line": 3}
//                        ("text" instead of "line" selects by text)
// POST /api/settings     starts tapdeck, as the Today screen's Settings does
// POST /api/tuner        the page's tuner (serve_tuner.h): {"action": "start",
//                        "button": "40C2"}, {"action": "over"}, {"action":
//                        "stop"}, {"action": "accept", "forEveryButton": B};
//                        answers the tuner's view, also sent as "tuner"
//
// Who may ask is serve_access.h's: every check is made on the header alone,
// before any body is read. A client's keys go up when it goes: a page's when
// its event stream ends, a connection's when it closes, and either's when it
// has not been heard from for kSilenceMs, whichever comes first.
// Bad requests get a 4xx answer {"error": REASON} and change nothing.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devicesim/serve/serve_access.h"
#include "devicesim/serve/serve_connections.h"
#include "devicesim/serve/serve_events.h"
#include "devicesim/serve/serve_keys.h"
#include "devicesim/serve/serve_message.h"
#include "devicesim/serve/serve_sessions.h"
#include "devicesim/serve/serve_watch.h"

namespace devicesim::serve {

constexpr size_t kMaxBodyBytes = 16 * 1024;
constexpr size_t kMaxStreams = 4;
constexpr size_t kMaxWebFileBytes = 4 << 20;
constexpr int kSilenceMs = 3000;

struct PageServerSettings {
  std::string web_folder;    // index.html and the page's other files
  std::string token;
  std::string press_output;  // host file for the output of programs presses start
  ConnectionLimits limits;
};

class PageServer {
 public:
  PageServer(PageServerSettings settings, EventHub* hub, DeviceWatcher* watcher, HeldKeys* keys);
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // Binds 127.0.0.1:`port` (0: a free port); false with a message.
  bool Bind(int port, std::string* error);
  int Port() const { return port_; }
  // Serves until Stop; false when the server failed.
  bool Run();
  void Stop();
  // Connections the gate holds: waiting for a request, or for their peer to
  // take an answer (for tests).
  size_t Waiting() const { return gate_.Waiting(); }

 private:
  struct Route {
    const char* method;
    const char* path;
    void (PageServer::*handle)(const Request& req, Response& res);
  };
  static const Route kRoutes[];

  bool Serve(GateStream& stream, bool* close_gently);
  void Dispatch(const Request& req, Response& res);
  // Before any body is read: whether the request may go on; answered when not.
  bool Admit(const Request& req, Response& res) const;
  // Reached without a credential.
  bool Open(const Request& req) const;
  // Carries the token (a script) or a session this server opened (a page).
  bool Credited(const Request& req) const;
  bool MayChange(const Request& req, Response& res) const;

  // The routes, as kRoutes names them.
  void ServePage(const Request& req, Response& res);
  void WebFileRoute(const Request& req, Response& res);
  void State(const Request& req, Response& res);
  void Hello(const Request& req, Response& res);
  void Events(const Request& req, Response& res);
  void Lines(const Request& req, Response& res);
  void OpenSession(const Request& req, Response& res);
  void Button(const Request& req, Response& res);
  void Power(const Request& req, Response& res);
  void Heartbeat(const Request& req, Response& res);
  void Release(const Request& req, Response& res);
  void Settings(const Request& req, Response& res);
  void Ui(const Request& req, Response& res);
  void Tuner(const Request& req, Response& res);

  void StreamClosed(uint64_t stream, const std::string& page);
  void ConnectionClosed(uint64_t connection);
  void Sweep();

  PageServerSettings settings_;
  EventHub* hub_;
  DeviceWatcher* watcher_;
  HeldKeys* keys_;
  mutable Sessions sessions_;
  ConnectionGate gate_;
  int port_ = 0;
  std::mutex sweep_mutex_;
  std::condition_variable sweep_wake_;
  std::vector<uint64_t> closed_;  // connections closed, for Sweep
  bool stopping_ = false;
};

}  // namespace devicesim::serve
