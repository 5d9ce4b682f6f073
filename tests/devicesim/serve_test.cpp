// devicesim serve's parts on a device of their own: which requests it
// answers, the event stream, the keys a page holds, what the page is told.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <thread>

#include "devicesim/serve/serve_events.h"
#include "platform/faults.h"
#include "devicesim/serve/serve_http.h"
#include "devicesim/serve/serve_keys.h"
#include "devicesim/serve/serve_ledger.h"
#include "devicesim/serve/serve_sessions.h"
#include "devicesim/serve/serve_token.h"
#include "devicesim/serve/serve_views.h"
#include "devicesim/serve/serve_watch.h"
#include "platform/host/device/device.h"
#include "shared/settings.h"
#include "tests/devicesim/serve_fixture.h"

namespace {

using devicesim::serve::LedgerKey;
using devicesim::serve::LeftBehind;

// ---- Which requests may reach the device ---------------------------------------------

TEST(ServeRequests, OnlyThisServersNamesPassTheHostAndOriginChecks) {
  using devicesim::serve::HostAllowed;
  using devicesim::serve::OriginAllowed;
  EXPECT_TRUE(HostAllowed("127.0.0.1:8240", 8240));
  EXPECT_TRUE(HostAllowed("LocalHost:8240", 8240));
  EXPECT_FALSE(HostAllowed("127.0.0.1:8241", 8240));
  EXPECT_FALSE(HostAllowed("127.0.0.1", 8240));
  EXPECT_FALSE(HostAllowed("attacker.example:8240", 8240));  // a rebound name
  EXPECT_FALSE(HostAllowed("127.0.0.1.attacker.example:8240", 8240));
  EXPECT_FALSE(HostAllowed("localhost:8240 ", 8240));
  EXPECT_FALSE(HostAllowed("", 8240));
  EXPECT_TRUE(OriginAllowed("http://localhost:8240", 8240));
  EXPECT_FALSE(OriginAllowed("https://127.0.0.1:8240", 8240));
  EXPECT_FALSE(OriginAllowed("http://attacker.example", 8240));
  EXPECT_FALSE(OriginAllowed("null", 8240));
  std::string a = devicesim::serve::NewToken(), b = devicesim::serve::NewToken();
  EXPECT_TRUE(devicesim::serve::IsToken(a)) << a;
  EXPECT_NE(a, b);
}

devicesim::serve::Request RequestWith(std::string method, std::string path, httplib::Headers headers) {
  devicesim::serve::Request req;
  req.method = std::move(method);
  req.path = std::move(path);
  for (auto& [name, value] : headers) req.headers.emplace(name, value);
  return req;
}

TEST(ServeRequests, OnlyThePageItselfMayComeFromElsewhere) {
  using devicesim::serve::FromElsewhere;
  using devicesim::serve::TopLevelVisit;
  struct Case {
    httplib::Headers headers;
    bool elsewhere;
  } cases[] = {
      {{}, false},  // a script: the token decides
      {{{"Sec-Fetch-Site", "same-origin"}, {"Origin", "http://127.0.0.1:8240"}}, false},
      {{{"Sec-Fetch-Site", "none"}}, false},  // typed, or a bookmark
      {{{"Sec-Fetch-Site", "cross-site"}}, true},
      {{{"Sec-Fetch-Site", "same-site"}}, true},  // another port of this machine
      {{{"Origin", "http://127.0.0.1:9999"}}, true},
      {{{"Origin", "null"}}, true},
      {{{"Sec-Fetch-Site", "same-origin"}, {"Sec-Fetch-Site", "cross-site"}}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromElsewhere(RequestWith("GET", "/api/events", c.headers), 8240), c.elsewhere)
        << (c.headers.empty() ? "no headers" : c.headers.begin()->second);
  }
  httplib::Headers link{{"Sec-Fetch-Site", "cross-site"}, {"Sec-Fetch-Mode", "navigate"}, {"Sec-Fetch-Dest", "document"}};
  EXPECT_TRUE(TopLevelVisit(RequestWith("GET", "/", link)));
  EXPECT_FALSE(TopLevelVisit(RequestWith("GET", "/api/state", link)));
  EXPECT_FALSE(TopLevelVisit(RequestWith("POST", "/", link)));
  httplib::Headers framed{{"Sec-Fetch-Mode", "navigate"}, {"Sec-Fetch-Dest", "iframe"}};
  EXPECT_FALSE(TopLevelVisit(RequestWith("GET", "/", framed)));
  EXPECT_FALSE(TopLevelVisit(RequestWith("GET", "/", {{"Sec-Fetch-Mode", "no-cors"}})));
}

TEST(ServeRequests, TheTokenComesInItsHeaderAloneAndBodiesAreMeasuredByTheirHeader) {
  using devicesim::serve::BodyCheck;
  using devicesim::serve::CarriesToken;
  using devicesim::serve::CheckBody;
  const std::string token(64, 'a');
  EXPECT_TRUE(CarriesToken(RequestWith("GET", "/", {{"X-Quadrakey-Token", token}}), token));
  EXPECT_FALSE(CarriesToken(RequestWith("GET", "/", {{"Cookie", "qk_token_8240=" + token}}), token));
  EXPECT_FALSE(CarriesToken(RequestWith("GET", "/", {{"X-Quadrakey-Token", token + "b"}}), token));
  EXPECT_FALSE(CarriesToken(RequestWith("GET", "/", {{"X-Quadrakey-Token", token}, {"X-Quadrakey-Token", token}}),
                            token));
  EXPECT_FALSE(CarriesToken(RequestWith("GET", "/", {{"X-Quadrakey-Token", ""}}), ""));

  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {}), 16), BodyCheck::kOk);
  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {{"Content-Length", "16"}}), 16), BodyCheck::kOk);
  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {{"Content-Length", "17"}}), 16), BodyCheck::kTooLong);
  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {{"Content-Length", "104857600"}}), 16), BodyCheck::kTooLong);
  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {{"Content-Length", "99999999999999999999999"}}), 16), BodyCheck::kTooLong);
  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {{"Content-Length", "-1"}}), 16), BodyCheck::kBadLength);
  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {{"Content-Length", "1"}, {"Content-Length", "1"}}), 16),
            BodyCheck::kBadLength);
  // Chunked with a small length beside it: the length is not believed.
  EXPECT_EQ(CheckBody(RequestWith("POST", "/", {{"Transfer-Encoding", "chunked"}, {"Content-Length", "10"}}), 16),
            BodyCheck::kChunked);
}

// ---- Messages ---------------------------------------------------------------------------------

TEST(ServeMessages, AHeaderIsReadWithItsQueryAndWhatFollowsItIsLeft) {
  using devicesim::serve::HeaderRead;
  using devicesim::serve::ReadRequestHeader;
  devicesim::serve::Request req;
  size_t used = 0;
  std::string problem;
  const std::string header = "GET /api/lines?id=%31013&x=a+b&id=2&flag HTTP/1.1\r\nHost: h\r\ncOnTeNt-LeNgTh: 3\r\n\r\n";
  ASSERT_EQ(ReadRequestHeader(header + "abcGET / HTTP/1.1\r\n", 8192, &req, &used, &problem), HeaderRead::kRead) << problem;
  EXPECT_EQ(used, header.size());
  EXPECT_EQ(req.path, "/api/lines");
  EXPECT_EQ(req.Param("id"), "1013") << "the first of a name";
  EXPECT_EQ(req.Param("x"), "a b");
  EXPECT_TRUE(req.HasParam("flag"));
  EXPECT_EQ(req.Header("content-length"), "3");
  EXPECT_EQ(req.content_length, 3u);
  EXPECT_TRUE(req.keep_alive);
  EXPECT_EQ(ReadRequestHeader("GET / HTTP/1.0\r\n\r\n", 8192, &req, &used, &problem), HeaderRead::kRead);
  EXPECT_FALSE(req.keep_alive) << "HTTP/1.0 closes unless it asks";

  EXPECT_EQ(ReadRequestHeader("GET / HTTP/1.1\r\nHost: h\r\n", 8192, &req, &used, &problem), HeaderRead::kIncomplete);
  for (const char* chunked : {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 10\r\n\r\n",
                              "POST / HTTP/1.1\r\nContent-Length: 10\r\nTransfer-Encoding: chunked\r\n\r\n",
                              "POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n"})
    EXPECT_EQ(ReadRequestHeader(chunked, 8192, &req, &used, &problem), HeaderRead::kChunked) << chunked;
  for (const char* malformed : {"GET /?a=%4 HTTP/1.1\r\n\r\n", "POST / HTTP/1.1\r\nContent-Length: 1, 2\r\n\r\n",
                                "GET / HTTP/1.1\r\nNo colon\r\n\r\n", "GARBAGE\r\n\r\n"})
    EXPECT_EQ(ReadRequestHeader(malformed, 8192, &req, &used, &problem), HeaderRead::kMalformed) << malformed;
  const std::string long_header = "GET / HTTP/1.1\r\nX: " + std::string(9000, 'x') + "\r\n\r\n";
  EXPECT_EQ(ReadRequestHeader(long_header, 8192, &req, &used, &problem), HeaderRead::kMalformed);
}

TEST(ServeMessages, AnAnswerHasItsLengthAndAHeadAnswerNoBody) {
  devicesim::serve::Response res;
  res.status = 404;
  res.SetContent("{}", "application/json");
  res.SetHeader("content-type", "text/plain");
  EXPECT_EQ(res.headers.size(), 1u) << "a header set again is replaced";
  std::string full = devicesim::serve::AnswerText(res, false, false);
  EXPECT_EQ(full.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << full;
  EXPECT_NE(full.find("Content-Length: 2\r\n"), std::string::npos) << full;
  EXPECT_EQ(full.substr(full.size() - 6), "\r\n\r\n{}");
  EXPECT_EQ(full.find("Connection"), std::string::npos);
  std::string head = devicesim::serve::AnswerText(res, true, true);
  EXPECT_NE(head.find("Content-Length: 2\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Connection: close\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n") << "no body";
  EXPECT_EQ(devicesim::serve::ChunkText("hello, stream"), "d\r\nhello, stream\r\n");
  EXPECT_EQ(devicesim::serve::ChunkText(""), "0\r\n\r\n");
  EXPECT_NE(devicesim::serve::StreamHeadText(res).find("Transfer-Encoding: chunked"), std::string::npos);
}

// ---- Sessions ---------------------------------------------------------------------------------

TEST(ServeSessions, HmacIsTheStandardOneThatThePageComputesToo) {
  // RFC 4231, test case 2: what the browser's WebCrypto gives for the same.
  EXPECT_EQ(devicesim::serve::HmacHex("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(ServeSessions, OnlyAProofOfTheTokenForThisPortAndAFreshNonceOfThisServerOpensASession) {
  using devicesim::serve::HmacHex;
  using devicesim::serve::PageProofText;
  using devicesim::serve::Sessions;
  const std::string token(64, 'a'), mine = "0123456789abcdef";
  const int64_t now = 1'700'000'000'000;
  Sessions server(token), restarted(token);
  server.SetPort(8240);
  restarted.SetPort(8240);
  Sessions::Answer answer;
  EXPECT_FALSE(server.Challenge("short", &answer, now));
  EXPECT_FALSE(server.Challenge("0123456789abcdef/", &answer, now));
  ASSERT_TRUE(server.Challenge(mine, &answer, now));
  EXPECT_EQ(answer.proof, HmacHex(token, devicesim::serve::ServerProofText(8240, mine, answer.nonce)));
  Sessions other(std::string(64, 'b'));
  other.SetPort(8240);
  Sessions::Answer guess;
  ASSERT_TRUE(other.Challenge(mine, &guess, now));
  EXPECT_NE(guess.proof, HmacHex(token, devicesim::serve::ServerProofText(8240, mine, guess.nonce)))
      << "a server without the token cannot prove it";

  const auto proof = [&](const std::string& key, int port, const std::string& nonce) {
    return HmacHex(key, PageProofText(port, mine, nonce));
  };
  EXPECT_EQ(server.Open(mine, answer.nonce, proof(std::string(64, 'b'), 8240, answer.nonce), now), "");
  EXPECT_EQ(server.Open(mine, answer.nonce, proof(token, 8241, answer.nonce), now), "") << "relayed from another port";
  EXPECT_EQ(server.Open("fedcba9876543210", answer.nonce,
                        HmacHex(token, PageProofText(8240, "fedcba9876543210", answer.nonce)), now), "")
      << "the nonce was made for another page nonce";
  EXPECT_EQ(restarted.Open(mine, answer.nonce, proof(token, 8240, answer.nonce), now), "")
      << "a nonce of the server before a restart";
  EXPECT_EQ(server.Open(mine, answer.nonce, proof(token, 8240, answer.nonce), now + Sessions::kNonceMs + 1), "")
      << "an old nonce";
  std::string forged = "9" + answer.nonce;  // another time, the same MAC
  EXPECT_EQ(server.Open(mine, forged, proof(token, 8240, forged), now), "");

  std::string session = server.Open(mine, answer.nonce, proof(token, 8240, answer.nonce), now + 10);
  ASSERT_EQ(session.size(), 64u);
  EXPECT_TRUE(server.Valid(session, now + 20));
  EXPECT_FALSE(restarted.Valid(session, now + 20)) << "a session dies with its server";
  EXPECT_FALSE(server.Valid(session + "0", now + 20));
  EXPECT_EQ(server.Open(mine, answer.nonce, proof(token, 8240, answer.nonce), now + 30), "") << "replayed";

  // At most kMaxSessions: the one used longest ago goes first.
  std::vector<std::string> opened;
  for (size_t i = 0; i < Sessions::kMaxSessions; ++i) {
    ASSERT_TRUE(server.Challenge(mine, &answer, now + 100 + static_cast<int64_t>(i)));
    opened.push_back(server.Open(mine, answer.nonce, proof(token, 8240, answer.nonce), now + 100 + static_cast<int64_t>(i)));
    ASSERT_FALSE(opened.back().empty());
    EXPECT_TRUE(server.Valid(session, now + 100 + static_cast<int64_t>(i)));
  }
  EXPECT_EQ(server.Count(), Sessions::kMaxSessions);
  EXPECT_TRUE(server.Valid(session, now + 1000)) << "used all along";
  EXPECT_FALSE(server.Valid(opened.front(), now + 1000));
  EXPECT_TRUE(server.Valid(opened.back(), now + 1000));
}

// ---- The event stream -----------------------------------------------------------------------

std::string Next(EventHub& hub, uint64_t stream, uint64_t* cursor, bool* started) {
  return hub.NextForStream(stream, cursor, started, std::chrono::milliseconds(20));
}

TEST(ServeEvents, AStreamGetsTheSnapshotThenOnlyWhatChanged) {
  EventHub hub(2);
  hub.SetDevice(Json{{"sip", false}});
  hub.AddJournal({Json{{"id", 1}}});
  uint64_t cursor = 0;
  bool started = false;
  uint64_t stream = hub.OpenStream("p");
  std::string first = Next(hub, stream, &cursor, &started);
  EXPECT_NE(first.find("event: snapshot\ndata: {\"device\":{\"sip\":false}"), std::string::npos) << first;
  EXPECT_NE(first.find("\"journal\":[{\"id\":1}]"), std::string::npos) << first;
  EXPECT_EQ(Next(hub, stream, &cursor, &started), ": keep-alive\n\n");
  hub.SetDevice(Json{{"sip", false}});  // unchanged: nothing to tell
  EXPECT_EQ(Next(hub, stream, &cursor, &started), ": keep-alive\n\n");
  hub.SetDevice(Json{{"sip", true}});
  hub.AddJournal({Json{{"id", 2}}, Json{{"id", 3}}});
  hub.SetPresses(Json::array({Json{{"id", 2}}}));
  EXPECT_EQ(Next(hub, stream, &cursor, &started),
            "event: device\ndata: {\"sip\":true}\n\nevent: journal\ndata: [{\"id\":2},{\"id\":3}]\n\n"
            "event: presses\ndata: [{\"id\":2}]\n\n");
  hub.Stop();
  EXPECT_EQ(Next(hub, stream, &cursor, &started), "");
}

TEST(ServeEvents, AnOlderScreenOfTheSameProgramIsDropped) {
  EventHub hub(1);
  uint64_t cursor = 0;
  bool started = false;
  uint64_t stream = hub.OpenStream("p");
  Next(hub, stream, &cursor, &started);
  hub.SetScreen(40, 7, Json{{"serial", 7}});
  hub.SetScreen(40, 6, Json{{"serial", 6}});  // an answer that took longer
  hub.SetScreen(41, 1, Json{{"serial", 1}});  // another program: its own count
  hub.SetScreen(0, 0, nullptr);
  EXPECT_EQ(Next(hub, stream, &cursor, &started),
            "event: screen\ndata: {\"serial\":7}\n\nevent: screen\ndata: {\"serial\":1}\n\n"
            "event: screen\ndata: null\n\n");
}

TEST(ServeEvents, AStreamThatFellBehindStartsOver) {
  EventHub hub(1);
  uint64_t stream = hub.OpenStream("p");
  uint64_t cursor = 0;
  bool started = false;
  Next(hub, stream, &cursor, &started);
  for (int i = 0; i < 600; ++i) hub.AddJournal({Json{{"id", i}}});
  std::string text = Next(hub, stream, &cursor, &started);
  EXPECT_EQ(text.find("event: journal"), std::string::npos);
  EXPECT_NE(text.find("event: snapshot"), std::string::npos);
  EXPECT_EQ(hub.Snapshot()["journal"].size(), EventHub::kJournalTail);
}

TEST(ServeEvents, APageHasOneStreamAndPagesAreLimited) {
  EventHub hub(2);
  uint64_t a = hub.OpenStream("a"), b = hub.OpenStream("b");
  EXPECT_NE(a, 0u);
  EXPECT_NE(b, 0u);
  EXPECT_EQ(hub.OpenStream("c"), 0u) << "a third page";
  // Page a reconnects before its old stream was noticed gone: the new one wins.
  uint64_t again = hub.OpenStream("a");
  ASSERT_NE(again, 0u);
  uint64_t cursor = 0;
  bool started = false;
  EXPECT_EQ(Next(hub, a, &cursor, &started), "") << "the old stream ends";
  EXPECT_FALSE(hub.CloseStream(a)) << "page a still has a stream";
  EXPECT_TRUE(hub.CloseStream(again));
  EXPECT_NE(hub.OpenStream("c"), 0u);
  hub.Stop();
  EXPECT_EQ(hub.OpenStream("d"), 0u);
}

// ---- Keys held for pages, on a device ----------------------------------------------------------

TEST_F(ServeDeviceTest, AKeyGoesDownOnceAndUpOnlyForThePageThatHoldsIt) {
  HeldKeys keys;
  std::string message;
  EXPECT_EQ(keys.ButtonDown("a", "40c1", output_, &message), HeldKeys::Result::kOk);
  EXPECT_NE(message.find("could not run"), std::string::npos) << message;  // no such program here
  EXPECT_TRUE(KeyIsDown(0xC1));
  EXPECT_EQ(keys.ButtonDown("a", "40C1", output_, &message), HeldKeys::Result::kAlreadyDown);
  EXPECT_EQ(keys.ButtonUp("b", "40C1", &message), HeldKeys::Result::kNotDown);
  EXPECT_EQ(keys.ButtonUp("a", "40C2", &message), HeldKeys::Result::kNotDown);
  EXPECT_EQ(keys.ButtonDown("a", "40C9", output_, &message), HeldKeys::Result::kNoButton);
  EXPECT_NE(message.find("40C9"), std::string::npos);
  EXPECT_EQ(ButtonEntries().size(), 1u) << "refused requests journal nothing";
  EXPECT_EQ(keys.ButtonUp("a", "40C1", &message), HeldKeys::Result::kOk);
  EXPECT_FALSE(KeyIsDown(0xC1));
  std::vector<Json> entries = ButtonEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(devicesim::serve::Dump(entries[0]), "{\"name\":\"40C1\",\"vk\":193,\"down\":true}");
  EXPECT_EQ(devicesim::serve::Dump(entries[1]), "{\"name\":\"40C1\",\"vk\":193,\"down\":false}");
}

TEST_F(ServeDeviceTest, AKeyOutsideTheTableGoesDownAndUpByItsCodeOrName) {
  HeldKeys keys;
  std::string message;
  ASSERT_TRUE(device::SetDeviceKeys({{0xC7, u"Side Key"}}));
  EXPECT_EQ(keys.ButtonDown("a", "side-key", output_, &message), HeldKeys::Result::kOk) << message;
  EXPECT_TRUE(KeyIsDown(0xC7));
  EXPECT_EQ(keys.ButtonDown("a", "0xC7", output_, &message), HeldKeys::Result::kAlreadyDown);
  EXPECT_EQ(keys.ButtonUp("a", "Side Key", &message), HeldKeys::Result::kOk) << message;
  EXPECT_FALSE(KeyIsDown(0xC7));
}

TEST_F(ServeDeviceTest, APageThatGoesAwayLetsGoOfItsKeysOnly) {
  HeldKeys keys;
  std::string message;
  ASSERT_EQ(keys.ButtonDown("a", "40C1", output_, &message), HeldKeys::Result::kOk);
  ASSERT_EQ(keys.ButtonDown("b", "40C2", output_, &message), HeldKeys::Result::kOk);
  ASSERT_EQ(keys.PowerDown("a", &message), HeldKeys::Result::kOk);
  keys.ReleasePage("a");
  EXPECT_FALSE(KeyIsDown(0xC1));
  EXPECT_FALSE(KeyIsDown(0xDF));
  EXPECT_TRUE(KeyIsDown(0xC2));
  EXPECT_EQ(keys.Count(), 1u);
  keys.ReleaseAll();
  EXPECT_TRUE(KeysDownNow().empty());
  EXPECT_EQ(keys.Count(), 0u);
}

TEST_F(ServeDeviceTest, AClientNotHeardFromLetsGoOfItsKeysPageOrNot) {
  using std::chrono::milliseconds;
  HeldKeys keys;
  std::string message;
  auto now = HeldKeys::Clock::now();
  ASSERT_EQ(keys.PowerDown("quiet", &message), HeldKeys::Result::kOk);
  ASSERT_EQ(keys.ButtonDown("alive", "40C1", output_, &message), HeldKeys::Result::kOk);
  ASSERT_EQ(keys.ButtonDown("connection:7", "40C2", output_, &message), HeldKeys::Result::kOk);  // a script's
  keys.Heard("alive", now + milliseconds(2500));
  keys.Heard("connection:7", now + milliseconds(3500));
  EXPECT_EQ(keys.ReleaseSilent(milliseconds(3000), now + milliseconds(2000)), 0u) << "not yet";
  EXPECT_EQ(keys.ReleaseSilent(milliseconds(3000), now + milliseconds(4000)), 1u);
  EXPECT_FALSE(KeyIsDown(0xDF)) << "the quiet page's power key";
  EXPECT_TRUE(KeyIsDown(0xC1));
  EXPECT_TRUE(KeyIsDown(0xC2));
  EXPECT_EQ(keys.ReleaseSilent(milliseconds(3000), now + milliseconds(7000)), 2u);
  EXPECT_TRUE(KeysDownNow().empty());
}

// ---- What a server that is gone left down ----------------------------------------------------

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ServeDeviceTest, EveryKeyIsInTheLedgerBeforeItGoesDownAndTheNextServerLetsGoOfIt) {
  using devicesim::serve::FindLeftBehind;
  using devicesim::serve::KeyLedger;
  const std::string folder = device::Folder();
  std::string message, error;
  std::string path = folder + "/serve-keys." + std::to_string(getpid());
  {
    KeyLedger ledger;
    ASSERT_TRUE(ledger.Open(folder, &error)) << error;
    HeldKeys keys;
    keys.SetLedger(&ledger);
    ASSERT_EQ(keys.ButtonDown("a", "40C1", output_, &message), HeldKeys::Result::kOk);
    ASSERT_EQ(keys.PowerDown("", &message), HeldKeys::Result::kOk);
    std::vector<LedgerKey> listed;
    ASSERT_TRUE(devicesim::serve::ParseLedger(ReadText(path), &listed)) << ReadText(path);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].button.entry, u"40C1");
    EXPECT_EQ(listed[0].button.virtual_key, 0xC1);
    EXPECT_TRUE(listed[1].power);
    EXPECT_TRUE(FindLeftBehind(folder).empty()) << "a running server's ledger is its own";
    ASSERT_EQ(keys.ButtonUp("a", "40C1", &message), HeldKeys::Result::kOk);
    ASSERT_TRUE(devicesim::serve::ParseLedger(ReadText(path), &listed));
    EXPECT_EQ(listed.size(), 1u);
    keys.SetLedger(nullptr);
    // Gone as if killed: the key stays down, the ledger stays, its lock goes.
  }
  EXPECT_TRUE(KeyIsDown(0xDF));
  ASSERT_TRUE(std::filesystem::exists(path));

  // Another gone server's, by hand: Button 2 as it went down, and Button 1
  // listed with a press of its own that has been followed by another since.
  HeldKeys other;
  ASSERT_EQ(other.ButtonDown("b", "40C2", output_, &message), HeldKeys::Result::kOk);
  ASSERT_EQ(other.ButtonDown("b", "40C1", output_, &message), HeldKeys::Result::kOk);
  int64_t c2_at = 0;
  ASSERT_TRUE(device::KeyDownAt(0xC2, &c2_at));
  LedgerKey c2{false, {u"40C2", 0xC2, u"\\Windows\\contacts.exe", u""}, c2_at - 5, c2_at};
  LedgerKey c1{false, {u"40C1", 0xC1, u"", u""}, 1, 2};
  std::ofstream(folder + "/serve-keys.999998") << devicesim::serve::LedgerText({c2, c1});
  // A ledger cut short or written by hand tells nothing.
  std::ofstream(folder + "/serve-keys.999999") << "{\"keys\": [{\"vk\": 300";
  auto left = FindLeftBehind(folder);
  ASSERT_EQ(left.size(), 3u);
  std::sort(left.begin(), left.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  LeftBehind& killed = left[0].path == path ? left[0] : left[2];
  LeftBehind& by_hand = left[1];
  LeftBehind& garbled = left[0].path == path ? left[2] : left[0];
  EXPECT_EQ(killed.problem, "");
  EXPECT_EQ(by_hand.problem, "");
  EXPECT_NE(garbled.problem.find("not a ledger"), std::string::npos) << garbled.problem;
  EXPECT_TRUE(FindLeftBehind(folder).empty()) << "taken by this caller until forgotten";

  HeldKeys next;
  size_t before = device::ReadJournal().size();
  std::vector<std::string> released = next.ReleaseLeftBehind(killed.keys);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0], "0xDF (the power key)");
  EXPECT_FALSE(KeyIsDown(0xDF));
  std::vector<device::JournalEntry> journal = device::ReadJournal();
  ASSERT_EQ(journal.size(), before + 1) << "the key up is journalled";
  EXPECT_EQ(journal.back().event, "key");
  EXPECT_NE(journal.back().fields.find("\"up\":true"), std::string::npos) << journal.back().fields;
  EXPECT_TRUE(next.ReleaseLeftBehind(killed.keys).empty()) << "a key already up is passed over";
  released = next.ReleaseLeftBehind(by_hand.keys);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0], "0xC2 (40C2)");
  EXPECT_FALSE(KeyIsDown(0xC2));
  EXPECT_TRUE(KeyIsDown(0xC1)) << "pressed again since: not the gone server's";
  EXPECT_EQ(ButtonEntries().back()["down"], false);
  for (LeftBehind& ledger : left) devicesim::serve::Forget(&ledger);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
  EXPECT_TRUE(FindLeftBehind(folder).empty());
}

// ---- What the page is told ----------------------------------------------------------------------

device::JournalEntry Entry(int64_t id, int64_t pid, const std::string& event, const std::string& fields) {
  return {id, 1000 + id, pid, event, fields};
}

void Follow(devicesim::serve::PressFollower* follower, const device::JournalEntry& entry) {
  follower->Follow(entry, devicesim::serve::EntryJson(entry)["fields"]);
}

TEST(ServeViews, TheProgramLastStartedByAPressIsFollowedThroughTheLauncher) {
  devicesim::serve::PressFollower follower;
  int64_t self = getpid();
  Follow(&follower, Entry(1, self, "start", "\"program\":\"\\\\Windows\\\\notes.exe\",\"args\":\"\""));
  EXPECT_TRUE(follower.LastStarted().is_null()) << "no button was down";
  Follow(&follower, Entry(2, self, "button", "\"name\":\"40C1\",\"vk\":193,\"down\":true"));
  Follow(&follower, Entry(3, self, "start", "\"program\":\"\\\\A\\\\TapdeckX.exe\",\"args\":\"0\",\"child\":77"));
  EXPECT_TRUE(follower.LastStarted().is_null()) << "the launcher is not what a press starts";
  EXPECT_EQ(follower.ProgramOf(77), "TapdeckX.exe");
  EXPECT_EQ(follower.ProgramOf(self), "devicesim serve");
  EXPECT_EQ(follower.ProgramOf(78), "");
  Follow(&follower, Entry(4, self, "button", "\"name\":\"40C1\",\"vk\":193,\"down\":false"));
  Follow(&follower, Entry(5, 77, "start", "\"program\":\"\\\\Windows\\\\calc.exe\",\"args\":\"-x\""));
  EXPECT_EQ(follower.LastStarted()["program"], "\\Windows\\calc.exe");
  EXPECT_EQ(follower.LastStarted()["args"], "-x");
  // A program the page starts while a key is down is not the press's.
  Follow(&follower, Entry(6, self, "button", "\"name\":\"40C1\",\"vk\":193,\"down\":true"));
  follower.ExcludeOwnStarts(6, 7);
  Follow(&follower, Entry(7, self, "start", "\"program\":\"\\\\A\\\\tapdeck.exe\",\"args\":\"\""));
  EXPECT_EQ(follower.LastStarted()["program"], "\\Windows\\calc.exe");
  // The power key turns the display off and on; a button wakes it.
  EXPECT_TRUE(follower.DisplayOn());
  Follow(&follower, Entry(8, self, "key", "\"vk\":223,\"up\":false,\"flags\":0"));
  Follow(&follower, Entry(9, self, "key", "\"vk\":223,\"up\":true,\"flags\":2"));
  EXPECT_FALSE(follower.DisplayOn());
  Follow(&follower, Entry(10, self, "button", "\"name\":\"40C2\",\"vk\":194,\"down\":true"));
  EXPECT_TRUE(follower.DisplayOn());
}

TEST(ServeViews, JournalFieldsKeepTheirOrderAndOddOnesAreKeptAsText) {
  Json entry = devicesim::serve::EntryJson(Entry(3, 9, "open", "\"file\":\"\\\\x.lnk\",\"ok\":true,\"error\":0"));
  EXPECT_EQ(devicesim::serve::Dump(entry),
            "{\"id\":3,\"t\":1003,\"pid\":9,\"event\":\"open\",\"fields\":{\"file\":\"\\\\x.lnk\",\"ok\":true,\"error\":0}}");
  Json odd = devicesim::serve::EntryJson(Entry(4, 9, "open", "not json"));
  EXPECT_EQ(odd["fields"]["text"], "not json");
  // A lone surrogate from the registry is replaced, not thrown at.
  EXPECT_EQ(devicesim::serve::Dump(Json("a\xed\xa0\x80")).substr(0, 5), "\"a\xef\xbf\xbd");
}

TEST_F(ServeDeviceTest, ButtonsComeInTheConfigurationProgramsOrderWithTheirAssignments) {
  AddButton(u"40C0", u"Another", u"\\Windows\\x.exe");  // sorts first by name
  ASSERT_TRUE(WriteRegString(plat::RegRoot::LocalMachine, u"Software\\Quadrakey", u"ButtonB2h", u"<Today>"));
  ASSERT_TRUE(WriteRegDword(plat::RegRoot::LocalMachine, u"Software\\Quadrakey", u"EnabledB", 0));
  ASSERT_TRUE(WriteRegDword(plat::RegRoot::LocalMachine, u"Software\\Quadrakey", u"HoldInterval", 600));
  ASSERT_TRUE(WriteRegDword(plat::RegRoot::LocalMachine, u"Software\\Quadrakey", u"DblClickIntervalC", 250));
  Json view = devicesim::serve::ButtonsJson();
  ASSERT_EQ(view["buttons"].size(), 3u);
  EXPECT_EQ(view["buttons"][0]["entry"], "40C0");
  EXPECT_EQ(view["buttons"][1]["entry"], "40C1");
  EXPECT_EQ(view["buttons"][1]["letter"], "B");
  EXPECT_EQ(view["buttons"][1]["vk"], 0xC1);
  EXPECT_EQ(view["buttons"][1]["assignments"]["doubleHold"], "<Today>");
  EXPECT_EQ(view["buttons"][1]["enabled"], false);
  EXPECT_EQ(view["buttons"][2]["enabled"], true);
  EXPECT_EQ(view["holdInterval"], 600);
  EXPECT_EQ(view["dblClickInterval"], 400);
  // Each button's own intervals, else the global ones: C has a window of its own.
  EXPECT_EQ(view["buttons"][1]["holdInterval"], 600);
  EXPECT_EQ(view["buttons"][1]["dblClickInterval"], 400);
  EXPECT_EQ(view["buttons"][2]["holdInterval"], 600);
  EXPECT_EQ(view["buttons"][2]["dblClickInterval"], 250);
  EXPECT_EQ(view["readError"], 0);
  // A table read with a gap numbers its buttons otherwise, and says so.
  plat::faults::FailCall(plat::faults::Op::RegistryEnum, 2, plat::kErrorRegistryIoFailed);
  view = devicesim::serve::ButtonsJson();
  plat::faults::Clear();
  EXPECT_EQ(view["readError"], plat::kErrorRegistryIoFailed);
}

}  // namespace
