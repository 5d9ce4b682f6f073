// devicesim serve's HTTP side: one page and a JSON API over the device, on
// 127.0.0.1 only.
//
// GET  /                 the page (the run's token inside it)
// GET  /NAME.js|css|svg  the page's files, from the web folder
// GET  /api/state        the state the page draws: device, buttons, screen,
//                        the journal's latest entries
// GET  /api/events       server-sent events: "snapshot" first, then
//                        "journal", "device", "buttons", "screen"
// GET  /api/lines?id=N   the lines of control N of the screen in front
// POST /api/button       {"name": "40C1", "down": true|false, "page": ID}
// POST /api/power        {"down": true|false, "page": ID}
// POST /api/ui           a person's action: {"action": VERB} and its
//                        arguments, named as platform/person.h's table names
//                        them: {"action": "select", "id": 1013, "line": 3}
//                        ("text" instead of "line" selects by text)
// POST /api/settings     starts tapdeck, as the Today screen's Settings does
//
// Every request must name this server in Host (127.0.0.1:PORT or
// localhost:PORT), or it is refused (403): a page elsewhere cannot reach the
// server through a name of its own (DNS rebinding). Only POST changes
// anything, and every POST must carry the run's token in X-Quadrakey-Token
// (the page has it; a page elsewhere cannot read it), a JSON body of at most
// kMaxBodyBytes and, when the browser sends one, this server's Origin. Bad
// requests get a 4xx answer {"error": REASON} and change nothing.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "devicesim/serve/serve_events.h"
#include "devicesim/serve/serve_keys.h"
#include "devicesim/serve/serve_watch.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace devicesim::serve {

constexpr size_t kMaxBodyBytes = 16 * 1024;
constexpr size_t kMaxStreams = 4;
constexpr char kTokenHeader[] = "X-Quadrakey-Token";
constexpr char kTokenMark[] = "@QK_TOKEN@";

// True when `host` (a Host header) names this server: 127.0.0.1:PORT or
// localhost:PORT, in any letter case.
bool HostAllowed(const std::string& host, int port);
// True when `origin` (an Origin header) is this server's.
bool OriginAllowed(const std::string& origin, int port);
// A new token: 32 bytes from /dev/urandom in hex; empty when it cannot be read.
std::string NewToken();

struct PageServerSettings {
  std::string web_folder;    // index.html and the page's other files
  std::string token;
  std::string press_output;  // host file for the output of programs presses start
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

 private:
  void Routes();
  bool MayChange(const httplib::Request& req, httplib::Response& res) const;
  void StreamOpened(const std::string& page);
  void StreamClosed(const std::string& page);

  PageServerSettings settings_;
  EventHub* hub_;
  DeviceWatcher* watcher_;
  HeldKeys* keys_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::mutex pages_mutex_;
  std::map<std::string, int> page_streams_;  // open streams by page id
};

}  // namespace devicesim::serve
