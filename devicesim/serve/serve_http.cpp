#include "devicesim/serve/serve_http.h"

#include <cctype>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "devicesim/serve/serve_message.h"

#include "devicesim/shell/start_program.h"
#include "devicesim/shell/ui_client.h"
#include "platform/host/device/device.h"

namespace devicesim::serve {
namespace {

constexpr auto kKeepAlive = std::chrono::seconds(1);
constexpr int64_t kUiTimeoutMs = 10000;
constexpr size_t kMaxPageId = 64;
constexpr size_t kMaxText = 4096;
constexpr auto kSweepEvery = std::chrono::milliseconds(250);


int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Set on a worker's thread when a request was answered before its body was
// read: the connection cannot carry another request after it.
thread_local bool refused_unread = false;

void Reply(Response& res, int status, const Json& body) {
  res.status = status;
  res.SetContent(Dump(body), "application/json");
}

void Refuse(Response& res, int status, const std::string& reason) { Reply(res, status, Json{{"error", reason}}); }

void RefuseAndClose(Response& res, int status, const std::string& reason) {
  refused_unread = true;
  res.SetHeader("Connection", "close");
  Refuse(res, status, reason);
}

// /NAME.EXT: a file of the page, by its name's letters and its kind.
bool IsWebFilePath(const std::string& path) {
  size_t dot = path.rfind('.');
  if (path.size() < 2 || path[0] != '/' || dot == std::string::npos || dot == 1 || dot - 1 > 64) return false;
  for (size_t i = 1; i < dot; ++i)
    if (!std::isalnum(static_cast<unsigned char>(path[i])) && path[i] != '_' && path[i] != '-') return false;
  const std::string kind = path.substr(dot + 1);
  return kind == "js" || kind == "css" || kind == "svg" || kind == "png" || kind == "ico";
}

const char* ContentType(const std::string& extension) {
  if (extension == "js") return "text/javascript; charset=utf-8";
  if (extension == "css") return "text/css; charset=utf-8";
  if (extension == "svg") return "image/svg+xml";
  if (extension == "png") return "image/png";
  return "image/x-icon";
}

void PageHeaders(Response& res) {
  res.SetHeader("Cache-Control", "no-store");
  res.SetHeader("X-Content-Type-Options", "nosniff");
  res.SetHeader("Referrer-Policy", "no-referrer");
  // Framed by a page elsewhere, the device could be pressed through it.
  res.SetHeader("X-Frame-Options", "DENY");
  res.SetHeader("Content-Security-Policy",
                 "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
}

// ---- Request bodies ----------------------------------------------------------

class Body {
 public:
  // False (answered 400) when the body is not one JSON object.
  bool Parse(const Request& req, Response& res) {
    if (req.body.size() > kMaxBodyBytes) {
      Refuse(res, 413, "the body is longer than " + std::to_string(kMaxBodyBytes) + " bytes");
      return false;
    }
    json_ = Json::parse(req.body, nullptr, false);
    if (json_.is_discarded()) {
      Refuse(res, 400, "the body is not well-formed JSON");
      return false;
    }
    if (!json_.is_object()) {
      Refuse(res, 400, "the body must be a JSON object");
      return false;
    }
    return true;
  }
  bool Has(const char* name) const { return json_.contains(name); }
  bool Text(const char* name, size_t max, std::string* out, Response& res, bool required = true) const {
    if (!json_.contains(name)) {
      if (!required) return true;
      Refuse(res, 400, std::string("\"") + name + "\" is missing");
      return false;
    }
    const Json& value = json_[name];
    if (!value.is_string() || value.get_ref<const std::string&>().size() > max ||
        value.get_ref<const std::string&>().find('\0') != std::string::npos) {
      Refuse(res, 400, std::string("\"") + name + "\" must be a text of at most " + std::to_string(max) +
                           " bytes without zero characters");
      return false;
    }
    *out = value.get<std::string>();
    return true;
  }
  bool Flag(const char* name, bool* out, Response& res) const {
    if (!json_.contains(name) || !json_[name].is_boolean()) {
      Refuse(res, 400, std::string("\"") + name + "\" must be true or false");
      return false;
    }
    *out = json_[name].get<bool>();
    return true;
  }
  bool Number(const char* name, long long min, long long max, long long* out, Response& res) const {
    if (!json_.contains(name) || !json_[name].is_number_integer() ||
        (json_[name].is_number_unsigned() && json_[name].get<unsigned long long>() > static_cast<unsigned long long>(max)) ||
        json_[name].get<long long>() < min || json_[name].get<long long>() > max) {
      Refuse(res, 400, std::string("\"") + name + "\" must be a whole number from " + std::to_string(min) +
                           " to " + std::to_string(max));
      return false;
    }
    *out = json_[name].get<long long>();
    return true;
  }

 private:
  Json json_;
};

bool ValidPageId(const std::string& page) {
  if (page.size() > kMaxPageId) return false;
  for (char c : page)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  return true;
}

// The connection a worker serves now: the gate hands each its own.
thread_local uint64_t current_connection = 0;

// A connection as a client that holds keys: never a page's id, which has no ':'.
std::string ConnectionClient(uint64_t connection) { return "connection:" + std::to_string(connection); }

// Who holds the keys a request presses: the page it names, or, without one,
// its connection, whose keys go up when it closes.
bool Client(const Body& body, std::string* client, Response& res) {
  if (!body.Text("page", kMaxPageId, client, res, false)) return false;
  if (!ValidPageId(*client)) {
    Refuse(res, 400, "\"page\" takes letters, digits, '-' and '_' only");
    return false;
  }
  if (client->empty()) *client = ConnectionClient(current_connection);
  return true;
}

int KeyStatus(HeldKeys::Result result) {
  switch (result) {
    case HeldKeys::Result::kOk: return 200;
    case HeldKeys::Result::kNoButton: return 404;
    case HeldKeys::Result::kNotAButton: return 400;
    case HeldKeys::Result::kAlreadyDown:
    case HeldKeys::Result::kNotDown: return 409;
    case HeldKeys::Result::kDeviceFailure: return 500;
  }
  return 500;
}

// The person's action a POST to /api/ui names: "action" is its verb in the
// action table, its arguments are members named as the table names them.
bool PersonAction(const Body& body, const std::string& verb, plat::person::Action* action, Response& res) {
  using plat::person::ActionArg;
  const plat::person::ActionSpec* spec = plat::person::FindAction(verb);
  if (spec == nullptr) {
    Refuse(res, 400, "unknown action '" + verb + "' (" + plat::person::AllVerbs() + ")");
    return false;
  }
  action->kind = spec->kind;
  long long number = 0;
  std::string text;
  for (ActionArg arg : spec->args) {
    const char* field = plat::person::ArgField(arg);
    switch (arg) {
      case ActionArg::kNone: break;
      case ActionArg::kControl:
        if (!body.Number(field, INT_MIN, INT_MAX, &number, res)) return false;
        action->control = static_cast<int>(number);
        break;
      case ActionArg::kLine:
        // A line by its number, or by its whole text.
        if (body.Has(field)) {
          if (!body.Number(field, 0, INT_MAX, &number, res)) return false;
          action->line = static_cast<int>(number);
        } else if (body.Has("text")) {
          if (!body.Text("text", kMaxText, &text, res)) return false;
          action->text = device::FromUtf8(text);
        } else {
          Refuse(res, 400, std::string("\"") + field + "\" or \"text\" is missing");
          return false;
        }
        break;
      case ActionArg::kPosition:
        if (!body.Number(field, INT_MIN, INT_MAX, &number, res)) return false;
        action->position = static_cast<int>(number);
        break;
      case ActionArg::kTitle:
      case ActionArg::kPath:
      case ActionArg::kText:
        if (!body.Text(field, kMaxText, &text, res)) return false;
        action->text = device::FromUtf8(text);
        break;
    }
  }
  return true;
}

// ---- The running program's screen ----------------------------------------------

// Sends one request to the program that shows a window; answers the
// request itself unless it replied. The program's pid in *pid.
bool SendToProgram(device::channel::Request request, ui::Outcome* outcome, int64_t* pid, Response& res) {
  device::WindowRecord program;
  std::string error;
  {
    auto device = LockDevice();
    if (!ui::FindProgram(0, &program, &error)) {
      Refuse(res, 409, error);
      return false;
    }
  }
  *pid = program.pid;
  *outcome = ui::Send(program, std::move(request), kUiTimeoutMs);
  switch (outcome->kind) {
    case ui::Outcome::kReplied: return true;
    case ui::Outcome::kTimedOut: Refuse(res, 504, outcome->message); return false;
    case ui::Outcome::kLost: Refuse(res, 410, outcome->message); return false;
    case ui::Outcome::kFailed: Refuse(res, 502, outcome->message); return false;
  }
  return false;
}

// The control `id` of the page or dialog in front of a screen, or null.
const Json* FindControl(const Json& screen, long long id) {
  if (!screen.contains("stack") || !screen["stack"].is_array()) return nullptr;
  const Json& stack = screen["stack"];
  for (auto frame = stack.rbegin(); frame != stack.rend(); ++frame) {
    std::string kind = frame->value("kind", std::string());
    const char* window = kind == "pageset" ? "page" : kind == "dialog" ? "dialog" : nullptr;
    if (window == nullptr) continue;  // a box in front: the page behind it still has the control
    if (!frame->contains(window) || !(*frame)[window].is_object() ||
        !(*frame)[window].contains("controls") || !(*frame)[window]["controls"].is_array())
      return nullptr;
    for (const Json& control : (*frame)[window]["controls"])
      if (control.is_object() && control.value("id", -1LL) == id) return &control;
    return nullptr;  // what is behind the page or dialog in front cannot be reached
  }
  return nullptr;
}

}  // namespace

// One request from a connection whose header the gate has read whole:
// checked on its header alone, then its body read, then routed. True when
// the connection may carry another request.
bool PageServer::Serve(GateStream& stream, bool* close_gently) {
  refused_unread = false;
  Request req;
  Response res;
  size_t used = 0;
  std::string problem;
  const std::string& buffered = stream.Buffered();
  HeaderRead read = ReadRequestHeader(buffered.substr(stream.Taken()), settings_.limits.max_header + 1, &req, &used,
                                      &problem);
  stream.Take(used);
  bool head = req.method == "HEAD";
  switch (read) {
    case HeaderRead::kRead: break;
    case HeaderRead::kChunked:
      RefuseAndClose(res, 411, "a body needs a Content-Length; chunked bodies are refused");
      break;
    case HeaderRead::kIncomplete:
    case HeaderRead::kMalformed:
      RefuseAndClose(res, 400, "malformed request" + (problem.empty() ? std::string() : ": " + problem));
      break;
  }
  if (read != HeaderRead::kRead || !Admit(req, res)) {
    stream.Write(AnswerText(res, head, true));
    *close_gently = true;
    return false;
  }
  // Told to go on only now that the request would be admitted.
  if (Lower(req.Header("Expect")) == "100-continue") stream.Write("HTTP/1.1 100 Continue\r\n\r\n");
  // Admit has measured the header's length; this is the parser's.
  if (req.content_length > kMaxBodyBytes) {
    RefuseAndClose(res, 413, "the body is longer than " + std::to_string(kMaxBodyBytes) + " bytes");
    stream.Write(AnswerText(res, head, true));
    *close_gently = true;
    return false;
  }
  req.body.resize(req.content_length);
  for (size_t got = 0; got < req.body.size();) {
    ssize_t n = stream.Read(req.body.data() + got, req.body.size() - got);
    if (n <= 0) return false;  // cut short, or too slow: nobody to answer
    got += static_cast<size_t>(n);
  }
  Dispatch(req, res);
  if (res.stream) {
    bool open = stream.Write(StreamHeadText(res)) && !head;
    const Response::Writer write = [&stream](const std::string& data) { return stream.Write(ChunkText(data)); };
    while (open && res.stream(write)) {
    }
    if (!head) stream.Write(ChunkText(""));
    if (res.stream_ended) res.stream_ended();
    return false;
  }
  bool close = !req.keep_alive || refused_unread;
  stream.Write(AnswerText(res, head, close));
  *close_gently = refused_unread;
  return !close;
}

// Every route by its method and path; the page's files are any other
// /NAME.EXT. A path that a route has answers other methods with 405.
const PageServer::Route PageServer::kRoutes[] = {
    {"GET", "/", &PageServer::ServePage},
    {"GET", "/api/state", &PageServer::State},
    {"GET", "/api/hello", &PageServer::Hello},
    {"GET", "/api/events", &PageServer::Events},
    {"GET", "/api/lines", &PageServer::Lines},
    {"POST", "/api/session", &PageServer::OpenSession},
    {"POST", "/api/button", &PageServer::Button},
    {"POST", "/api/power", &PageServer::Power},
    {"POST", "/api/heartbeat", &PageServer::Heartbeat},
    {"POST", "/api/release", &PageServer::Release},
    {"POST", "/api/settings", &PageServer::Settings},
    {"POST", "/api/ui", &PageServer::Ui},
    {"POST", "/api/tuner", &PageServer::Tuner},
};

void PageServer::Dispatch(const Request& req, Response& res) {
  // HEAD is GET without the body.
  const std::string method = req.method == "HEAD" ? "GET" : req.method;
  std::string allow;
  for (const Route& route : kRoutes) {
    if (req.path != route.path) continue;
    if (method == route.method) return (this->*route.handle)(req, res);
    allow += (allow.empty() ? "" : ", ") + std::string(route.method);
  }
  if (!allow.empty()) {
    res.SetHeader("Allow", allow);
    Refuse(res, 405, allow == "POST" ? "this changes the device: POST only" : "only " + allow + " here");
    return;
  }
  if (IsWebFilePath(req.path)) {
    if (method == "GET") return WebFileRoute(req, res);
    res.SetHeader("Allow", "GET");
    Refuse(res, 405, "only GET here");
    return;
  }
  Refuse(res, 404, "no such page or API");
}

bool PageServer::Admit(const Request& req, Response& res) const {
  if (req.HeaderCount("Host") != 1 || !HostAllowed(req.Header("Host"), port_)) {
    RefuseAndClose(res, 403, "this server answers only requests for 127.0.0.1:" + std::to_string(port_) +
                                 " or localhost:" + std::to_string(port_));
    return false;
  }
  if (FromElsewhere(req, port_) && !TopLevelVisit(req)) {
    RefuseAndClose(res, 403, "requests from pages elsewhere are refused");
    return false;
  }
  if (req.method != "GET" && req.method != "HEAD" && req.method != "POST") {
    res.SetHeader("Allow", "GET, HEAD, POST");
    RefuseAndClose(res, 405, "only GET and POST are served");
    return false;
  }
  switch (CheckBody(req, kMaxBodyBytes)) {
    case BodyCheck::kOk: break;
    case BodyCheck::kChunked: RefuseAndClose(res, 411, "a body needs a Content-Length; chunked bodies are refused"); return false;
    case BodyCheck::kBadLength: RefuseAndClose(res, 400, "the Content-Length is not one whole number"); return false;
    case BodyCheck::kTooLong:
      RefuseAndClose(res, 413, "the body is longer than " + std::to_string(kMaxBodyBytes) + " bytes");
      return false;
  }
  if (req.path.rfind("/api/", 0) == 0 && !Open(req) && !Credited(req)) {
    RefuseAndClose(res, 403, std::string("this needs the device's token: open the address devicesim serve printed "
                                         "(scripts send it in ") + kTokenHeader + ")");
    return false;
  }
  if (req.method == "POST" && !req.HasHeader("Content-Length")) {
    RefuseAndClose(res, 411, "a body needs a Content-Length");
    return false;
  }
  return true;
}

// The challenge, and the answer to it, are how a page comes to hold a
// session: they need none.
bool PageServer::Open(const Request& req) const {
  return (req.method == "GET" && req.path == "/api/hello") || (req.method == "POST" && req.path == "/api/session");
}

bool PageServer::Credited(const Request& req) const {
  if (CarriesToken(req, settings_.token)) return true;
  return req.HeaderCount(kSessionHeader) == 1 &&
         sessions_.Valid(req.Header(kSessionHeader), WallMs());
}

// After the body is read: what a change must be.
bool PageServer::MayChange(const Request& req, Response& res) const {
  if (Lower(req.Header("Content-Type")).rfind("application/json", 0) != 0) {
    Refuse(res, 415, "the body must be JSON (Content-Type: application/json)");
    return false;
  }
  return true;
}

PageServer::PageServer(PageServerSettings settings, EventHub* hub, DeviceWatcher* watcher, HeldKeys* keys)
    : settings_(std::move(settings)), hub_(hub), watcher_(watcher), keys_(keys), sessions_(settings_.token),
      gate_(
          settings_.limits,
          [this](GateStream& stream, uint64_t connection, bool* close_gently) {
            current_connection = connection;
            return Serve(stream, close_gently);
          },
          [this](uint64_t connection) { ConnectionClosed(connection); }) {}

PageServer::~PageServer() = default;

bool PageServer::Bind(int port, std::string* error) {
  if (!gate_.Listen(port, error)) return false;
  port_ = gate_.Port();
  sessions_.SetPort(port_);
  return true;
}

bool PageServer::Run() {
  std::thread sweeper([this] { Sweep(); });
  bool ok = gate_.Run();
  {
    std::lock_guard<std::mutex> lock(sweep_mutex_);
    stopping_ = true;
    sweep_wake_.notify_all();
  }
  sweeper.join();
  return ok;
}

void PageServer::Stop() {
  hub_->Stop();
  gate_.Stop();
}

// Clients that went quiet (closed without a word, or frozen) and
// connections that closed let go of their keys. Here, not on the gate's
// thread: a key goes up under the device's lock, which a press may hold.
void PageServer::Sweep() {
  std::unique_lock<std::mutex> lock(sweep_mutex_);
  while (!stopping_) {
    sweep_wake_.wait_for(lock, kSweepEvery, [this] { return stopping_ || !closed_.empty(); });
    if (stopping_) break;
    std::vector<uint64_t> closed;
    closed.swap(closed_);
    lock.unlock();
    size_t before = keys_->Count();
    for (uint64_t connection : closed) keys_->ReleasePage(ConnectionClient(connection));
    if (keys_->ReleaseSilent(std::chrono::milliseconds(kSilenceMs)) > 0 || keys_->Count() != before) watcher_->Poke();
    lock.lock();
  }
}

void PageServer::ConnectionClosed(uint64_t connection) {
  std::lock_guard<std::mutex> lock(sweep_mutex_);
  closed_.push_back(connection);
  sweep_wake_.notify_all();
}

void PageServer::StreamClosed(uint64_t stream, const std::string& page) {
  // A page that reconnected keeps its keys on its new stream; one that went
  // away while holding a button can never let it go.
  if (hub_->CloseStream(stream)) {
    keys_->ReleasePage(page);
    watcher_->Poke();
  }
}

// The page holds no secret: it asks for the token, from its address's
// fragment, and proves it holds it before it sends anything else.
void PageServer::ServePage(const Request&, Response& res) {
  std::string page;
  if (ReadWebFile(settings_.web_folder, "index.html", kMaxWebFileBytes, &page) != WebFile::kRead) {
    Refuse(res, 500, "no index.html in " + settings_.web_folder + " (see devicesim serve --help)");
    return;
  }
  PageHeaders(res);
  res.SetContent(page, "text/html; charset=utf-8");
}

void PageServer::WebFileRoute(const Request& req, Response& res) {
  std::string name = req.path.substr(1);
  std::string content;
  switch (ReadWebFile(settings_.web_folder, name, kMaxWebFileBytes, &content)) {
    case WebFile::kRead: break;
    case WebFile::kMissing: Refuse(res, 404, "no file " + name); return;
    case WebFile::kNotAFile: Refuse(res, 404, name + " is not a file of the page"); return;
    case WebFile::kTooLarge: Refuse(res, 404, name + " is too large for a file of the page"); return;
  }
  PageHeaders(res);
  res.SetContent(content, ContentType(name.substr(name.rfind('.') + 1)));
}

void PageServer::State(const Request&, Response& res) {
  res.SetHeader("Cache-Control", "no-store");
  Reply(res, 200, hub_->Snapshot());
}

// Step 1 of serve_sessions.h: the server proves it holds the token (and, to
// a credited request, how many pages have a stream).
void PageServer::Hello(const Request& req, Response& res) {
  Sessions::Answer answer;
  res.SetHeader("Cache-Control", "no-store");
  if (!sessions_.Challenge(req.Param("nonce"), &answer, WallMs())) {
    Refuse(res, 400, "\"nonce\" takes 16 to " + std::to_string(Sessions::kMaxNonce) +
                         " letters, digits, '-' and '_'");
    return;
  }
  Json reply{{"nonce", answer.nonce}, {"proof", answer.proof}, {"stopping", hub_->Stopped()}};
  if (Credited(req)) {
    bool mine = false;
    reply["streams"] = hub_->Streams("", &mine);
    reply["maxStreams"] = kMaxStreams;
  }
  Reply(res, 200, reply);
}

void PageServer::Events(const Request& req, Response& res) {
  std::string page = req.Param("page");
  if (page.empty() || !ValidPageId(page)) {
    Refuse(res, 400, "\"page\" takes 1 to 64 letters, digits, '-' and '_'");
    return;
  }
  uint64_t stream = hub_->OpenStream(page);
  if (stream == 0) {
    Refuse(res, 503, hub_->Stopped() ? "the server is stopping"
                                     : "too many pages are open (at most " + std::to_string(kMaxStreams) +
                                           "): close one, and this page connects again by itself");
    return;
  }
  keys_->Heard(page);
  struct Cursor {
    uint64_t event = 0;
    bool started = false;
  };
  auto cursor = std::make_shared<Cursor>();
  res.SetHeader("Cache-Control", "no-store");
  res.SetHeader("Content-Type", "text/event-stream");
  // A failed write (the page went away) ends the stream within a keep-alive.
  res.stream = [this, stream, cursor](const Response::Writer& write) {
    std::string text = hub_->NextForStream(stream, &cursor->event, &cursor->started, kKeepAlive);
    return !text.empty() && write(text);
  };
  res.stream_ended = [this, stream, page] { StreamClosed(stream, page); };
}

void PageServer::Lines(const Request& req, Response& res) {
  long long id = 0;
  std::string given = req.Param("id");
  char* end = nullptr;
  errno = 0;
  id = std::strtoll(given.c_str(), &end, 10);
  if (given.empty() || *end != '\0' || errno != 0 || id < INT_MIN || id > INT_MAX) {
    Refuse(res, 400, "id must be a control id such as 1013");
    return;
  }
  device::channel::Request request;
  request.verb = "show";
  request.format = device::channel::Format::kJson;
  ui::Outcome outcome;
  int64_t pid = 0;
  if (!SendToProgram(request, &outcome, &pid, res)) return;
  if (outcome.reply.status != device::channel::Status::kOk) {
    Refuse(res, 409, outcome.reply.message.empty() ? "the program has ended" : outcome.reply.message);
    return;
  }
  Json screen = Json::parse(outcome.reply.screen, nullptr, false);
  const Json* control = screen.is_discarded() ? nullptr : FindControl(screen, id);
  if (control == nullptr || !control->contains("lines")) {
    Refuse(res, 404, "no list or combo box " + given + " on the screen in front");
    return;
  }
  Reply(res, 200, Json{{"id", id}, {"pid", pid}, {"serial", screen.value("serial", 0LL)},
                       {"selected", control->value("selected", -1LL)}, {"lines", (*control)["lines"]}});
}

// Step 2 of serve_sessions.h: the page proves it holds the token.
void PageServer::OpenSession(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  std::string page_nonce, server_nonce, proof;
  if (!body.Parse(req, res) || !body.Text("pageNonce", Sessions::kMaxNonce, &page_nonce, res) ||
      !body.Text("nonce", 256, &server_nonce, res) || !body.Text("proof", 128, &proof, res))
    return;
  std::string session = sessions_.Open(page_nonce, server_nonce, proof, WallMs());
  if (session.empty()) {
    Refuse(res, 403, "the proof does not match the device's token, or its nonce is old or used: "
                     "open the address devicesim serve printed");
    return;
  }
  res.SetHeader("Cache-Control", "no-store");
  Reply(res, 200, Json{{"session", session}});
}

void PageServer::Button(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  std::string name, page, message;
  bool down = false;
  if (!body.Parse(req, res) || !body.Text("name", 64, &name, res) || !body.Flag("down", &down, res) ||
      !Client(body, &page, res))
    return;
  if (name.empty()) {
    Refuse(res, 400, "\"name\" names a button table entry, such as 40C1");
    return;
  }
  keys_->Heard(page);
  // The page hears of the key down before the shell has started the command.
  HeldKeys::Result result = down ? keys_->ButtonDown(page, name, settings_.press_output, &message,
                                                     [this] { watcher_->CatchUp(); })
                                 : keys_->ButtonUp(page, name, &message);
  if (result != HeldKeys::Result::kOk) {
    Refuse(res, KeyStatus(result), message);
    return;
  }
  watcher_->CatchUp();
  watcher_->Poke();
  Json answer{{"name", name}, {"down", down}};
  if (!message.empty()) answer["problem"] = message;
  Reply(res, 200, answer);
}

void PageServer::Power(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  std::string page, message;
  bool down = false;
  if (!body.Parse(req, res) || !body.Flag("down", &down, res) || !Client(body, &page, res)) return;
  keys_->Heard(page);
  HeldKeys::Result result = down ? keys_->PowerDown(page, &message) : keys_->PowerUp(page, &message);
  if (result != HeldKeys::Result::kOk) {
    Refuse(res, KeyStatus(result), message);
    return;
  }
  watcher_->CatchUp();
  watcher_->Poke();
  Reply(res, 200, Json{{"down", down}});
}

void PageServer::Heartbeat(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  std::string page;
  if (!body.Parse(req, res) || !Client(body, &page, res)) return;
  keys_->Heard(page);
  Reply(res, 200, Json{{"page", page}});
}

void PageServer::Release(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  std::string page;
  if (!body.Parse(req, res) || !Client(body, &page, res)) return;
  keys_->ReleasePage(page);
  watcher_->Poke();
  Reply(res, 200, Json{{"page", page}});
}

void PageServer::Settings(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  if (!body.Parse(req, res)) return;
  StartedProgram started;
  std::string error;
  StartResult result;
  {
    auto device = LockDevice();
    int64_t before = device::LastJournalId();
    result = StartProgram("tapdeck", "", &started, &error);
    watcher_->OwnStarts(before, device::LastJournalId());
  }
  if (result != StartResult::kStarted) {
    Refuse(res, result == StartResult::kNoProgram ? 404 : 500, error);
    return;
  }
  watcher_->Poke();
  Reply(res, 200, Json{{"program", device::ToUtf8(started.program)}, {"pid", started.pid}});
}

void PageServer::Ui(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  std::string action;
  if (!body.Parse(req, res) || !body.Text("action", 32, &action, res)) return;
  plat::person::Action person;
  if (!PersonAction(body, action, &person, res)) return;
  device::channel::Request request;
  request.format = device::channel::Format::kJsonBrief;
  device::channel::SetAction(person, &request);
  ui::Outcome outcome;
  int64_t pid = 0;
  if (!SendToProgram(request, &outcome, &pid, res)) return;
  const device::channel::Reply& reply = outcome.reply;
  switch (reply.status) {
    case device::channel::Status::kOk: {
      Json screen = Json::parse(reply.screen, nullptr, false);
      if (screen.is_discarded()) {
        Refuse(res, 502, "the program's screen makes no sense");
        return;
      }
      hub_->SetScreen(pid, screen.value("serial", 0LL), screen);
      Reply(res, 200, Json{{"screen", screen}});
      return;
    }
    case device::channel::Status::kEnded:
      hub_->SetScreen(0, 0, nullptr);
      watcher_->Poke();
      Reply(res, 200, Json{{"ended", reply.exit_code}, {"screen", nullptr}});
      return;
    case device::channel::Status::kRefused: Refuse(res, 409, reply.message); return;
    case device::channel::Status::kError: Refuse(res, 400, reply.message); return;
  }
}

void PageServer::Tuner(const Request& req, Response& res) {
  if (!MayChange(req, res)) return;
  Body body;
  std::string action, entry, error;
  bool every = false;
  if (!body.Parse(req, res) || !body.Text("action", 16, &action, res)) return;
  if (action == "start" && !body.Text("button", 64, &entry, res)) return;
  if (action == "accept" && body.Has("forEveryButton") && !body.Flag("forEveryButton", &every, res)) return;
  switch (watcher_->Tune(action, entry, every, &error)) {
    case DeviceWatcher::TuneResult::kDone: Reply(res, 200, watcher_->TunerView()); return;
    case DeviceWatcher::TuneResult::kRefused: Refuse(res, 409, error); return;
    case DeviceWatcher::TuneResult::kUnknown:
      Refuse(res, 400, "unknown action '" + action + "' (start, over, stop, accept)");
      return;
  }
}

}  // namespace devicesim::serve
