// devicesim serve over real connections: who may ask for what, and that no
// client, slow, idle, greedy or from elsewhere, keeps the page from its
// device.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "devicesim/serve/serve_token.h"
#include "tests/devicesim/run_program.h"
#include "tests/devicesim/serve_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// One connection, byte for byte as the test writes it.
class Raw {
 public:
  explicit Raw(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Raw() {
    if (fd_ >= 0) close(fd_);
  }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const std::string& text) { return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size()); }
  // What comes within `ms`, up to the end of one answer (by its Content-Length),
  // the close, or `until` when given.
  // What came after that answer is kept for the next call: answers to
  // pipelined requests may come in one read.
  std::string Answer(int ms = 3000, const std::string& until = "") {
    std::string text;
    text.swap(pending_);
    auto start = Clock::now();
    for (;;) {
      if (!until.empty() && text.find(until) != std::string::npos) break;
      size_t end = text.find("\r\n\r\n");
      size_t length = text.find("Content-Length: ");
      if (end != std::string::npos && length != std::string::npos && length < end) {
        const size_t whole = end + 4 + std::stoul(text.substr(length + 16));
        if (text.size() >= whole) {
          pending_ = text.substr(whole);
          text.resize(whole);
          break;
        }
      }
      if (MsSince(start) >= ms) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char chunk[4096];
      ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
    }
    return text;
  }
  // True when the server has closed the connection (reads end, or fail).
  bool ClosedWithin(int ms) {
    auto start = Clock::now();
    while (MsSince(start) < ms) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char chunk[4096];
      if (recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT) <= 0) return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string pending_;  // read past the last answer
};

int Status(const std::string& answer) {
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

// ---- The token ------------------------------------------------------------------------------------

TEST_F(ServeHttpTest, ThePageHoldsNoSecretAndOnlyAPageThatProvesTheTokenGetsASession) {
  // The page and its files are no secret; no answer sets a cookie.
  for (const char* path : {"/", "/?token=" "aaaa", "/app.js"}) {
    auto answer = Get(path, {});
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 200) << path;
    EXPECT_FALSE(answer->has_header("Set-Cookie")) << path;
  }
  EXPECT_EQ(Get("/", {})->get_header_value("X-Frame-Options"), "DENY");
  // Cookies carry nothing: not the token, wherever a page put it.
  const std::string tossed = "qk_token_" + std::to_string(Port()) + "=" + token_ + "; token=" + token_;
  for (const char* path : {"/api/state", "/api/events?page=p", "/api/lines?id=1"}) {
    auto refused = Get(path, {{"Cookie", tossed}});
    ASSERT_TRUE(refused) << path;
    EXPECT_EQ(refused->status, 403) << path;
    EXPECT_NE(refused->body.find("token"), std::string::npos) << refused->body;
  }

  // Step 1: the server proves the token, bound to this port.
  using devicesim::serve::HmacHex;
  EXPECT_EQ(Get("/api/hello", {})->status, 400);
  EXPECT_EQ(Get("/api/hello?nonce=short", {})->status, 400);
  const std::string mine = "page-nonce-of-twenty-four";
  auto hello = Get("/api/hello?nonce=" + mine, {});
  ASSERT_TRUE(hello);
  ASSERT_EQ(hello->status, 200) << hello->body;
  Json answer = Json::parse(hello->body);
  const std::string theirs = answer["nonce"];
  EXPECT_EQ(answer["proof"], HmacHex(token_, devicesim::serve::ServerProofText(Port(), mine, theirs)));
  EXPECT_EQ(hello->body.find(token_), std::string::npos);

  // Step 2: the page's proof, once; a wrong one opens nothing.
  auto open = [&](const std::string& key, int port) {
    return Post("/api/session",
                Json{{"pageNonce", mine}, {"nonce", theirs},
                     {"proof", HmacHex(key, devicesim::serve::PageProofText(port, mine, theirs))}}.dump(), {});
  };
  EXPECT_EQ(open(std::string(64, 'b'), Port())->status, 403);
  EXPECT_EQ(open(token_, Port() + 1)->status, 403) << "a proof made for another port (relayed)";
  auto opened = open(token_, Port());
  ASSERT_TRUE(opened);
  ASSERT_EQ(opened->status, 200) << opened->body;
  EXPECT_FALSE(opened->has_header("Set-Cookie"));
  const std::string session = Json::parse(opened->body)["session"];
  EXPECT_EQ(open(token_, Port())->status, 403) << "the same proof again (replayed)";

  auto state = Get("/api/state", {{devicesim::serve::kSessionHeader, session}, {"Cookie", tossed}});
  ASSERT_TRUE(state);
  EXPECT_EQ(state->status, 200);
  EXPECT_EQ(Get("/api/state", {{devicesim::serve::kSessionHeader, std::string(64, '0')}})->status, 403);
  EXPECT_EQ(Get("/api/state", Script())->status, 200) << "a script sends the token itself";
}

TEST(ServeToken, TheTokenIsKeptPrivatelyAndMadeAnewWhenUnsafeOrAsked) {
  std::string folder = std::filesystem::temp_directory_path() / ("qk_token_" + std::to_string(getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::string path = folder + "/" + devicesim::serve::kTokenFileName;
  devicesim::serve::KeptToken first, again, renewed, replaced;
  std::string error;
  ASSERT_TRUE(devicesim::serve::KeepToken(folder, false, &first, &error)) << error;
  EXPECT_EQ(first.note, "");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_TRUE(devicesim::serve::KeepToken(folder, false, &again, &error));
  EXPECT_EQ(again.token, first.token) << "a restart keeps the token";
  ASSERT_TRUE(devicesim::serve::KeepToken(folder, true, &renewed, &error));
  EXPECT_NE(renewed.token, first.token);

  // Others could read it: it is no secret any more.
  chmod(path.c_str(), 0644);
  ASSERT_TRUE(devicesim::serve::KeepToken(folder, false, &replaced, &error));
  EXPECT_NE(replaced.token, renewed.token);
  EXPECT_NE(replaced.note.find("others could read it"), std::string::npos) << replaced.note;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A link in its place is not followed, and not written through.
  std::string elsewhere = folder + "/elsewhere";
  std::ofstream(elsewhere) << "keep me";
  std::filesystem::remove(path);
  std::filesystem::create_symlink(elsewhere, path);
  devicesim::serve::KeptToken linked;
  ASSERT_TRUE(devicesim::serve::KeepToken(folder, false, &linked, &error));
  EXPECT_NE(linked.note, "");
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  std::ifstream kept(elsewhere);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");

  // Cut short by a kill, or written by hand: not a token.
  std::ofstream(path, std::ios::trunc) << "12ab";
  chmod(path.c_str(), 0600);
  devicesim::serve::KeptToken garbled;
  ASSERT_TRUE(devicesim::serve::KeepToken(folder, false, &garbled, &error));
  EXPECT_TRUE(devicesim::serve::IsToken(garbled.token));
  EXPECT_NE(garbled.note.find("held no token"), std::string::npos) << garbled.note;

  // What --open hands the browser: private, and on to the address.
  std::string opener;
  ASSERT_TRUE(devicesim::serve::WriteOpener(folder, "http://127.0.0.1:8240/#token=" + garbled.token, &opener, &error));
  ASSERT_EQ(stat(opener.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::ifstream page(opener);
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(page), {}).find("content=\"0;url=http://127.0.0.1:8240/#token="),
            std::string::npos);

  // A folder that cannot be written: a token for this run, said so.
  if (geteuid() != 0) {
    chmod(folder.c_str(), 0500);
    devicesim::serve::KeptToken passing;
    ASSERT_TRUE(devicesim::serve::KeepToken(folder, true, &passing, &error));
    EXPECT_NE(passing.note.find("this run only"), std::string::npos) << passing.note;
    chmod(folder.c_str(), 0700);
  }
  std::filesystem::remove_all(folder);
}

// ---- Pages elsewhere -------------------------------------------------------------------------------

TEST_F(ServeHttpTest, RequestsFromElsewhereAreRefusedBeforeTheyTakeAStream) {
  httplib::Headers from_elsewhere = Page();
  from_elsewhere.emplace("Origin", "http://localhost:9999");
  from_elsewhere.emplace("Sec-Fetch-Site", "cross-site");
  // A flood of streams from elsewhere, each held open as long as the server lets it.
  std::vector<std::unique_ptr<Raw>> flood;
  for (int i = 0; i < 20; ++i) {
    flood.push_back(std::make_unique<Raw>(Port()));
    flood.back()->Send("GET /api/events?page=x" + std::to_string(i) + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                       std::to_string(Port()) + "\r\nOrigin: http://localhost:9999\r\nSec-Fetch-Site: cross-site\r\n\r\n");
  }
  for (auto& raw : flood) EXPECT_EQ(Status(raw->Answer()), 403);
  // Every page of its own still gets its stream.
  std::vector<std::unique_ptr<Raw>> pages;
  for (size_t i = 0; i < devicesim::serve::kMaxStreams; ++i) {
    pages.push_back(std::make_unique<Raw>(Port()));
    pages.back()->Send("GET /api/events?page=p" + std::to_string(i) + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                       std::to_string(Port()) + "\r\nX-Quadrakey-Token: " + token_ +
                       "\r\nSec-Fetch-Site: same-origin\r\n\r\n");
    std::string answer = pages.back()->Answer(2000, "event: snapshot");
    EXPECT_EQ(Status(answer), 200) << answer.substr(0, 200);
    EXPECT_NE(answer.find("event: snapshot"), std::string::npos);
  }
  struct Case {
    const char* method;
    const char* path;
    httplib::Headers extra;
    int status;
  } cases[] = {
      {"GET", "/api/state", {{"Sec-Fetch-Site", "cross-site"}}, 403},
      {"GET", "/api/state", {{"Sec-Fetch-Site", "same-site"}}, 403},  // another port here
      {"GET", "/app.js", {{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Dest", "script"}}, 403},
      {"POST", "/api/button", {{"Origin", "http://localhost:9999"}}, 403},  // a beacon or a form
      {"GET", "/", {{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Dest", "iframe"}, {"Sec-Fetch-Mode", "navigate"}}, 403},
      // A link to the page from elsewhere opens it; the cookie decides the rest.
      {"GET", "/", {{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Dest", "document"}, {"Sec-Fetch-Mode", "navigate"}}, 200},
  };
  for (const Case& c : cases) {
    httplib::Headers headers = Page();
    for (const auto& header : c.extra) headers.insert(header);
    httplib::Client client("127.0.0.1", Port());
    auto answer = std::string(c.method) == "GET" ? client.Get(c.path, headers)
                                                 : client.Post(c.path, headers, "{\"name\":\"40C1\",\"down\":true}",
                                                               "application/json");
    ASSERT_TRUE(answer) << c.path;
    EXPECT_EQ(answer->status, c.status) << c.method << " " << c.path << " " << c.extra.begin()->second;
  }
  EXPECT_TRUE(KeysDownNow().empty());
}

// ---- Bodies ------------------------------------------------------------------------------------------

TEST_F(ServeHttpTest, ABodyIsRefusedOnItsHeaderBeforeAnyOfItIsRead) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(Port()) + "\r\n";
  const std::string credential = "X-Quadrakey-Token: " + token_ + "\r\n";
  struct Case {
    std::string header;
    int status;
    const char* reason;
  } cases[] = {
      // Chunked, with a small length beside it: 40 MB would follow.
      {"POST /api/button HTTP/1.1\r\n" + host + credential +
           "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\nContent-Length: 10\r\n\r\n",
       411, "chunked"},
      {"POST /api/button HTTP/1.1\r\n" + host + credential + "Content-Type: application/json\r\nContent-Length: 104857600\r\n\r\n",
       413, "longer"},
      // Within the limit, but without the token: refused before its body comes.
      {"POST /api/button HTTP/1.1\r\n" + host + "Content-Type: application/json\r\nContent-Length: 10000\r\n\r\n", 403,
       "token"},
      {"POST /api/button HTTP/1.1\r\n" + host + credential + "Content-Length: ten\r\n\r\n", 400, "Content-Length"},
  };
  for (const Case& c : cases) {
    Raw raw(Port());
    ASSERT_TRUE(raw.Connected());
    ASSERT_TRUE(raw.Send(c.header));
    // Only the header is sent: the answer comes all the same. A server that
    // waited for the body would answer only at the end of the request's time,
    // and then with another status and reason than these.
    std::string answer = raw.Answer(15000);
    EXPECT_EQ(Status(answer), c.status) << answer;
    EXPECT_NE(answer.find(c.reason), std::string::npos) << answer;
    EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
    // What follows is dropped, not kept, and the connection goes.
    std::string megabyte(1 << 20, 'x');
    raw.Send(megabyte);
    EXPECT_TRUE(raw.ClosedWithin(15000));
  }
  // Told to go on only once the checks are passed; otherwise told why, at once.
  const std::string expect = "Expect: 100-continue\r\nContent-Type: application/json\r\n";
  struct Expecting {
    std::string header;
    int status;
  } expecting[] = {
      {"POST /api/button HTTP/1.1\r\n" + host + expect + "Content-Length: 27\r\n\r\n", 403},
      {"POST /api/button HTTP/1.1\r\n" + host + credential + expect + "Content-Length: 104857600\r\n\r\n", 413},
      {"POST /api/button HTTP/1.1\r\nHost: elsewhere.example\r\n" + credential + expect + "Content-Length: 27\r\n\r\n", 403},
      {"POST /api/button HTTP/1.1\r\n" + host + credential + expect + "Content-Length: 27\r\n\r\n", 100},
  };
  for (const Expecting& c : expecting) {
    Raw raw(Port());
    ASSERT_TRUE(raw.Send(c.header));
    std::string answer = raw.Answer(2000, "\r\n\r\n");
    EXPECT_EQ(Status(answer), c.status) << c.header << answer;
    if (c.status != 100) continue;
    ASSERT_TRUE(raw.Send("{\"name\":\"40C1\",\"down\":true}"));
    answer = raw.Answer();
    EXPECT_EQ(Status(answer), 200) << answer;
  }
  EXPECT_EQ(ButtonEntries().size(), 1u) << "only the request that passed pressed";
  keys_.ReleaseAll();

  auto header_too_large = std::make_unique<Raw>(Port());
  header_too_large->Send("GET / HTTP/1.1\r\n" + host + "X-Filler: " + std::string(9000, 'y') + "\r\n\r\n");
  EXPECT_EQ(Status(header_too_large->Answer()), 431);
  EXPECT_EQ(ButtonEntries().size(), 2u);
}

// Any page on 127.0.0.1 can set cookies for this server too, as many and as
// long as the browser allows: they are dropped unread, whatever their size.
TEST_F(ServeHttpTest, CookiesOfAnySizeAreDroppedUnread) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(Port()) + "\r\n";
  const std::string session = std::string(devicesim::serve::kSessionHeader) + ": " + Page().begin()->second + "\r\n";
  std::string bomb = "Cookie: ";
  for (int i = 0; i < 180; ++i) bomb += "c" + std::to_string(i) + "=" + std::string(4000, 'z') + "; ";
  bomb += "qk_token_" + std::to_string(Port()) + "=" + std::string(64, '0') + "\r\n";
  for (const std::string& cookies : {bomb, std::string("cookie: a=1\r\nCOOKIE: b=2\r\n")}) {
    Raw raw(Port());
    // In pieces, as a browser's large header comes.
    const std::string request = "GET /api/state HTTP/1.1\r\n" + host + cookies + session + "\r\n";
    for (size_t at = 0; at < request.size(); at += 65536) ASSERT_TRUE(raw.Send(request.substr(at, 65536)));
    std::string answer = raw.Answer();
    EXPECT_EQ(Status(answer), 200) << answer.substr(0, 300);
  }
  // Only so much, though.
  Raw flood(Port());
  flood.Send("GET / HTTP/1.1\r\n" + host + "Cookie: a=" + std::string(1100 * 1024, 'z') + "\r\n\r\n");
  EXPECT_EQ(Status(flood.Answer()), 431);
}

// With the waiting room full, the connection that waited longest gives way,
// never the newcomer, even when the newcomer has the number of a descriptor
// just closed and began to wait in the same millisecond.
class ServeCrowdTest : public ServeHttpTest {
 protected:
  devicesim::serve::ConnectionLimits Limits() const override {
    devicesim::serve::ConnectionLimits limits;
    limits.max_waiting = 2;
    return limits;
  }
};

TEST_F(ServeCrowdTest, TheNewestConnectionIsNeverTheOneThatGivesWay) {
  const std::string get = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Port()) + "\r\nX-Quadrakey-Token: " +
                          token_ + "\r\n\r\n";
  for (int round = 0; round < 20; ++round) {
    std::vector<std::unique_ptr<Raw>> crowd;
    for (int i = 0; i < 4; ++i) crowd.push_back(std::make_unique<Raw>(Port()));
    ASSERT_TRUE(crowd.back()->Send(get));
    EXPECT_EQ(Status(crowd.back()->Answer()), 200) << "round " << round;
    EXPECT_TRUE(crowd.front()->ClosedWithin(500)) << "round " << round;
  }
  // One that has sent nothing gives way before one whose header is coming,
  // however long that one has waited.
  Raw coming(Port());
  ASSERT_TRUE(coming.Send(get.substr(0, 10)));
  EXPECT_TRUE(Eventually([&] { return server_->Waiting() == 1; }));
  Raw idle(Port());
  EXPECT_TRUE(Eventually([&] { return server_->Waiting() == 2; }));
  Raw newcomer(Port());
  ASSERT_TRUE(newcomer.Send(get));
  EXPECT_EQ(Status(newcomer.Answer()), 200);
  EXPECT_TRUE(idle.ClosedWithin(500));
  ASSERT_TRUE(coming.Send(get.substr(10)));
  EXPECT_EQ(Status(coming.Answer()), 200);
}

// ---- Slow and idle clients ----------------------------------------------------------------------

class ServeLoadTest : public ServeHttpTest {
 protected:
  // Shorter than serve's own (2 s for a request, 5 s idle), so the test is brief.
  devicesim::serve::ConnectionLimits Limits() const override {
    devicesim::serve::ConnectionLimits limits;
    limits.request_ms = 1000;
    limits.idle_ms = 1500;
    limits.write_ms = 1500;
    return limits;
  }
};

// Clients that ask for the page's files and never read the answers, more of
// them than there are workers: the answers wait for them in the gate, and
// the page's own requests pass. A client that pipelines gets every answer,
// in order, once it reads.
TEST_F(ServeLoadTest, SlowReadersHoldNoWorkerAndPipelinedAnswersComeWholeInOrder) {
  const std::string big(1 << 20, 'b');
  std::ofstream(web_ + "/big.js") << big;
  const std::string get = "GET /big.js HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Port()) + "\r\n\r\n";
  std::string pipelined;
  for (int i = 0; i < 20; ++i) pipelined += get;
  std::vector<std::unique_ptr<Raw>> readers;
  for (size_t i = 0; i < devicesim::serve::ConnectionLimits{}.workers + 4; ++i) {
    readers.push_back(std::make_unique<Raw>(Port()));
    ASSERT_TRUE(readers.back()->Send(pipelined));
  }
  EXPECT_TRUE(Eventually([&] { return server_->Waiting() >= readers.size(); }));
  for (int i = 0; i < 5; ++i) {
    auto start = Clock::now();
    auto page = Get("/", Page());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_LT(MsSince(start), 1000) << "the page waited behind clients that do not read";
  }
  // Answers nobody takes are dropped after the write time.
  EXPECT_TRUE(Eventually([&] { return server_->Waiting() == 0; }));
  readers.clear();

  Raw pipeliner(Port());
  ASSERT_TRUE(pipeliner.Send(get + get + "GET /app.js HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Port()) + "\r\n\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // not reading, for a while
  for (const std::string& body : {big, big, std::string("'use strict';")}) {
    std::string answer = pipeliner.Answer(5000);
    ASSERT_EQ(Status(answer), 200) << answer.substr(0, 200);
    EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), body);
  }
}

TEST_F(ServeLoadTest, SlowAndIdleClientsNeitherHoldAWorkerNorStayForever) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(Port()) + "\r\n";
  std::vector<std::unique_ptr<Raw>> idle, slow;
  for (int i = 0; i < 50; ++i) idle.push_back(std::make_unique<Raw>(Port()));
  for (int i = 0; i < 16; ++i) slow.push_back(std::make_unique<Raw>(Port()));
  std::atomic<bool> stop{false};
  // Headers at a byte every 200 ms: never whole within the request's time.
  std::thread dribble([&] {
    const std::string header = "GET / HTTP/1.1\r\n" + host + "X-Slow: " + std::string(200, 's') + "\r\n\r\n";
    for (size_t at = 0; at < header.size() && !stop; ++at) {
      for (auto& raw : slow) raw->Send(header.substr(at, 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  int64_t slowest = 0;
  auto start = Clock::now();
  while (MsSince(start) < 2500) {
    auto asked = Clock::now();
    auto page = Get("/", Page());
    slowest = std::max(slowest, MsSince(asked));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_LT(slowest, 1000) << "the page waited behind slow and idle connections";
  for (auto& raw : slow) EXPECT_TRUE(raw->ClosedWithin(500)) << "a header still coming after its time";
  for (auto& raw : idle) EXPECT_TRUE(raw->ClosedWithin(500)) << "an idle connection after its time";
  stop = true;
  dribble.join();

  // More waiting connections than the gate keeps: the longest waiting go.
  std::vector<std::unique_ptr<Raw>> many;
  for (int i = 0; i < 300; ++i) many.push_back(std::make_unique<Raw>(Port()));
  EXPECT_TRUE(Eventually([&] { return server_->Waiting() > 0; }));
  EXPECT_LE(server_->Waiting(), devicesim::serve::ConnectionLimits{}.max_waiting);
  auto page = Get("/", Page());
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
}

TEST_F(ServeHttpTest, AKeptAliveConnectionCarriesRequestsOneAfterAnother) {
  Raw raw(Port());
  const std::string get = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Port()) + "\r\nX-Quadrakey-Token: " +
                          token_ + "\r\n\r\n";
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(raw.Send(get));
    std::string answer = raw.Answer();
    EXPECT_EQ(Status(answer), 200) << answer.substr(0, 200);
  }
  // Two at once (pipelined): both answered, in order.
  ASSERT_TRUE(raw.Send(get + get));
  std::string first = raw.Answer();
  std::string second = first.size() > 0 ? raw.Answer() : std::string();
  EXPECT_EQ(Status(first), 200);
  EXPECT_EQ(Status(second), 200);
}

// ---- The page's files ----------------------------------------------------------------------------

TEST_F(ServeHttpTest, OnlyRegularFilesInsideTheWebFolderAreServed) {
  std::filesystem::create_symlink("/etc/passwd", web_ + "/passwd.css");
  std::filesystem::create_directory(web_ + "/adir.js");
  ASSERT_EQ(mkfifo((web_ + "/fifo.js").c_str(), 0600), 0);
  for (const char* name : {"/passwd.css", "/adir.js", "/missing.js"}) {
    auto answer = Get(name, Page());
    ASSERT_TRUE(answer) << name;
    EXPECT_EQ(answer->status, 404) << name;
    EXPECT_EQ(answer->body.find("root:"), std::string::npos);
  }
  // A FIFO neither blocks a worker nor is served, however often asked.
  std::vector<std::thread> askers;
  std::atomic<int> refused{0};
  for (int i = 0; i < 14; ++i) {
    askers.emplace_back([&] {
      httplib::Client client("127.0.0.1", Port());
      client.set_read_timeout(3);
      auto answer = client.Get("/fifo.js", Page());
      if (answer && answer->status == 404) ++refused;
    });
  }
  for (std::thread& asker : askers) asker.join();
  EXPECT_EQ(refused, 14);
  auto page = Get("/", Page());
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  // A second link: the file may be anywhere, linked in by hand.
  std::ofstream(device::Folder() + "/secret.txt") << "not for the page";
  std::filesystem::create_hard_link(device::Folder() + "/secret.txt", web_ + "/linked.js");
  auto linked_in = Get("/linked.js", Page());
  ASSERT_TRUE(linked_in);
  EXPECT_EQ(linked_in->status, 404);
  EXPECT_EQ(linked_in->body.find("not for the page"), std::string::npos);
  // index.html itself is held to the same rule.
  std::filesystem::remove(web_ + "/index.html");
  std::filesystem::create_symlink("/etc/passwd", web_ + "/index.html");
  auto linked = Get("/", Page());
  ASSERT_TRUE(linked);
  EXPECT_EQ(linked->status, 500);
  EXPECT_EQ(linked->body.find("root:"), std::string::npos);
}

TEST_F(ServeDeviceTest, ServeStartsOnlyWithAnIndexHtmlThatItWouldServe) {
  const std::string folder = device::Folder();
  std::ofstream(folder + "/elsewhere.html") << "<p>elsewhere</p>";
  for (const char* kind : {"symbolic", "hard"}) {
    const std::string web = folder + "/web-" + kind;
    std::filesystem::create_directories(web);
    if (std::string(kind) == "symbolic")
      std::filesystem::create_symlink(folder + "/elsewhere.html", web + "/index.html");
    else
      std::filesystem::create_hard_link(folder + "/elsewhere.html", web + "/index.html");
    ProgramRun run = RunProgram({DEVICESIM_PATH, "--device", folder, "serve", "--port", "0", "--web", web});
    EXPECT_EQ(run.status, 1) << kind << run.out << run.err;
    EXPECT_NE(run.err.find("not a regular file with one link"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << "no address printed";
  }
}

// ---- Pressing ---------------------------------------------------------------------------------------

TEST_F(ServeHttpTest, OnlyTheTokenChangesTheDeviceAndBadRequestsSayWhy) {
  auto rebound = Get("/api/state", {{"Host", "attacker.example:" + std::to_string(Port())}});
  ASSERT_TRUE(rebound);
  EXPECT_EQ(rebound->status, 403);

  const std::string down = "{\"name\":\"40C1\",\"down\":true}";
  struct Case {
    httplib::Headers headers;
    std::string path, body;
    int status;
    const char* reason;
  } cases[] = {
      {{}, "/api/button", down, 403, "token"},
      {{{"X-Quadrakey-Token", std::string(64, 'b')}}, "/api/button", down, 403, "token"},
      {{{"X-Quadrakey-Token", token_}, {"Origin", "http://attacker.example"}}, "/api/button", down, 403, "elsewhere"},
      {Script(), "/api/button", "{\"name\":", 400, "JSON"},
      {Script(), "/api/button", "[1]", 400, "object"},
      {Script(), "/api/button", "{\"name\":\"40C1\",\"down\":1}", 400, "down"},
      {Script(), "/api/button", "{\"name\":\"40C9\",\"down\":true}", 404, "40C9"},
      {Script(), "/api/button", "{\"name\":\"40C1\",\"down\":false}", 409, "not down"},
      {Script(), "/api/button", std::string(20000, ' '), 413, "longer"},
      {Page(), "/api/heartbeat", "{\"page\":\"a/b\"}", 400, "page"},
      {Script(), "/api/ui", "{\"action\":\"explode\"}", 400, "explode"},
      {Script(), "/api/ui", "{\"action\":\"done\"}", 409, "tapdeck"},
      {Script(), "/api/nothing", "{}", 404, "no such"},
  };
  for (const Case& c : cases) {
    auto answer = Post(c.path, c.body, c.headers);
    ASSERT_TRUE(answer) << c.path;
    EXPECT_EQ(answer->status, c.status) << c.path << " " << c.body.substr(0, 40);
    Json reason = Json::parse(answer->body, nullptr, false);
    ASSERT_TRUE(reason.is_object()) << answer->body;
    EXPECT_NE(reason.value("error", "").find(c.reason), std::string::npos) << answer->body;
  }
  EXPECT_TRUE(KeysDownNow().empty());
  EXPECT_TRUE(ButtonEntries().empty()) << "nothing refused reached the device";

  // Held by a page: the request's connection may close.
  auto pressed = Post("/api/button", "{\"name\":\"40C1\",\"down\":true,\"page\":\"p\"}", Page());
  ASSERT_TRUE(pressed);
  EXPECT_EQ(pressed->status, 200) << pressed->body;
  EXPECT_TRUE(KeyIsDown(0xC1));
  // Each path answers the methods its routes have, and 405 with them to others.
  auto get = Get("/api/button", Page());
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");
  auto post = Post("/api/state", "{}", Page());
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET");
  auto head = httplib::Client("127.0.0.1", Port()).Head("/app.js", Page());
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->get_header_value("Content-Length"), "13");
}

TEST_F(ServeHttpTest, WhatAnyProgramJournalsReachesTheStreamAndAGonePageLetsGoOfItsKeys) {
  std::string stream;
  std::mutex stream_mutex;
  std::atomic<bool> hang_up{false};
  std::thread reader([&] {
    httplib::Client client("127.0.0.1", Port());
    client.Get("/api/events?page=p1", Page(), [&](const char* data, size_t size) {
      std::lock_guard<std::mutex> lock(stream_mutex);
      stream.append(data, size);
      return !hang_up.load();
    });
  });
  auto seen = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(stream_mutex);
    return stream.find(text) != std::string::npos;
  };
  ASSERT_TRUE(Eventually([&] { return seen("event: snapshot"); }));
  device::Journal("beep", "\"type\":64");  // as another program of the device would
  EXPECT_TRUE(Eventually([&] { return seen("\"event\":\"beep\",\"fields\":{\"type\":64}"); })) << stream;

  auto pressed = Post("/api/button", "{\"name\":\"40C2\",\"down\":true,\"page\":\"p1\"}", Page());
  ASSERT_TRUE(pressed);
  ASSERT_EQ(pressed->status, 200) << pressed->body;
  EXPECT_TRUE(Eventually([&] { return seen("\"name\":\"40C2\",\"vk\":194,\"down\":true"); }));
  EXPECT_TRUE(Eventually([&] { return seen("\"keysDown\":[194]"); })) << "the device state follows";
  EXPECT_TRUE(Eventually([&] { return seen("event: presses"); })) << "and the press's series";
  hang_up = true;
  reader.join();
  EXPECT_TRUE(Eventually([] { return !KeyIsDown(0xC2); })) << "the page went away holding 40C2";
  std::vector<Json> entries = ButtonEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1]["down"], false);
}

TEST_F(ServeHttpTest, APageThatSaysItGoesLetsGoAtOnce) {
  ASSERT_EQ(Post("/api/power", "{\"down\":true,\"page\":\"tab5\"}", Page())->status, 200);
  ASSERT_EQ(Post("/api/heartbeat", "{\"page\":\"tab5\"}", Page())->status, 200);
  EXPECT_TRUE(KeyIsDown(0xDF));
  ASSERT_EQ(Post("/api/release", "{\"page\":\"tab5\"}", Page())->status, 200);
  EXPECT_FALSE(KeyIsDown(0xDF));
}

// A client without a page (a script) is its connection: its keys go up
// when it closes, or when it says nothing for the silence limit.
TEST_F(ServeHttpTest, KeysPressedWithoutAPageGoUpWhenTheirConnectionGoes) {
  const auto post = [&](Raw& raw, const std::string& path, const std::string& body) {
    raw.Send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Port()) + "\r\nX-Quadrakey-Token: " +
             token_ + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\n\r\n" + body);
    return Status(raw.Answer());
  };
  auto button = std::make_unique<Raw>(Port());
  auto power = std::make_unique<Raw>(Port());
  auto quiet = std::make_unique<Raw>(Port());
  ASSERT_EQ(post(*button, "/api/button", "{\"name\":\"40C1\",\"down\":true}"), 200);
  ASSERT_EQ(post(*power, "/api/power", "{\"down\":true,\"page\":\"\"}"), 200);
  ASSERT_EQ(post(*quiet, "/api/button", "{\"name\":\"40C2\",\"down\":true}"), 200);
  auto pressed = Clock::now();
  EXPECT_TRUE(KeyIsDown(0xC1) && KeyIsDown(0xDF) && KeyIsDown(0xC2));
  // Another connection is another client.
  Raw other(Port());
  EXPECT_EQ(post(other, "/api/button", "{\"name\":\"40C1\",\"down\":false}"), 409);
  EXPECT_TRUE(KeyIsDown(0xC1));

  button.reset();
  EXPECT_TRUE(Eventually([] { return !KeyIsDown(0xC1); })) << "the connection that held 40C1 closed";
  EXPECT_TRUE(KeyIsDown(0xDF));
  ASSERT_EQ(post(*power, "/api/heartbeat", "{}"), 200);
  power.reset();
  EXPECT_TRUE(Eventually([] { return !KeyIsDown(0xDF); }));
  // Still open, but silent: up after the limit, and not before.
  for (int i = 0; i < 1000 && KeyIsDown(0xC2); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(KeyIsDown(0xC2));
  EXPECT_GE(MsSince(pressed), devicesim::serve::kSilenceMs);
  std::vector<Json> entries = ButtonEntries();
  EXPECT_EQ(entries.size(), 4u) << "two buttons down and up, each once";
}

}  // namespace
