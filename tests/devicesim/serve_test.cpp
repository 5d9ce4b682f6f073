// devicesim serve's parts on a device of their own: which requests it
// answers, the event stream, the keys a page holds, what the page is told.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <thread>

#include "devicesim/serve/serve_events.h"
#include "devicesim/serve/serve_http.h"
#include "devicesim/serve/serve_keys.h"
#include "devicesim/serve/serve_views.h"
#include "devicesim/serve/serve_watch.h"
#include "platform/host/device/device.h"
#include "shared/settings.h"
#include "tests/support/log_bound_device_test.h"

namespace {

bool KeyIsDown(int virtual_key) {
  bool down = false;
  EXPECT_TRUE(device::IsKeyDown(virtual_key, &down)) << device::ErrorText(plat::GetLastError());
  return down;
}

std::vector<int> KeysDownNow() {
  std::vector<int> keys;
  EXPECT_TRUE(device::KeysDown(&keys)) << device::ErrorText(plat::GetLastError());
  return keys;
}

using devicesim::serve::EventHub;
using devicesim::serve::HeldKeys;
using devicesim::serve::Json;

const char16_t kKeys[] = u"SOFTWARE\\Microsoft\\Shell\\Keys\\";

void AddButton(const std::u16string& entry, const std::u16string& name, const std::u16string& command) {
  ASSERT_TRUE(WriteRegString(plat::RegRoot::LocalMachine, kKeys + entry, u"", command));
  ASSERT_TRUE(WriteRegString(plat::RegRoot::LocalMachine, kKeys + entry, u"ResetCmd", command));
  ASSERT_TRUE(WriteRegString(plat::RegRoot::LocalMachine, kKeys + entry, u"Name", name));
}

std::vector<Json> ButtonEntries() {
  std::vector<Json> found;
  for (const device::JournalEntry& entry : device::ReadJournal())
    if (entry.event == "button") found.push_back(devicesim::serve::EntryJson(entry)["fields"]);
  return found;
}

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
  EXPECT_EQ(a.size(), 64u);
  EXPECT_NE(a, b);
}

// ---- The event stream -----------------------------------------------------------------------

std::string Next(EventHub& hub, uint64_t* cursor, bool* started) {
  return hub.NextForStream(cursor, started, std::chrono::milliseconds(20));
}

TEST(ServeEvents, AStreamGetsTheSnapshotThenOnlyWhatChanged) {
  EventHub hub(2);
  hub.SetDevice(Json{{"sip", false}});
  hub.AddJournal({Json{{"id", 1}}});
  uint64_t cursor = 0;
  bool started = false;
  std::string first = Next(hub, &cursor, &started);
  EXPECT_NE(first.find("event: snapshot\ndata: {\"device\":{\"sip\":false}"), std::string::npos) << first;
  EXPECT_NE(first.find("\"journal\":[{\"id\":1}]"), std::string::npos) << first;
  EXPECT_EQ(Next(hub, &cursor, &started), ": keep-alive\n\n");
  hub.SetDevice(Json{{"sip", false}});  // unchanged: nothing to tell
  EXPECT_EQ(Next(hub, &cursor, &started), ": keep-alive\n\n");
  hub.SetDevice(Json{{"sip", true}});
  hub.AddJournal({Json{{"id", 2}}, Json{{"id", 3}}});
  EXPECT_EQ(Next(hub, &cursor, &started),
            "event: device\ndata: {\"sip\":true}\n\nevent: journal\ndata: [{\"id\":2},{\"id\":3}]\n\n");
  hub.Stop();
  EXPECT_EQ(Next(hub, &cursor, &started), "");
}

TEST(ServeEvents, AnOlderScreenOfTheSameProgramIsDropped) {
  EventHub hub(1);
  uint64_t cursor = 0;
  bool started = false;
  Next(hub, &cursor, &started);
  hub.SetScreen(40, 7, Json{{"serial", 7}});
  hub.SetScreen(40, 6, Json{{"serial", 6}});  // an answer that took longer
  hub.SetScreen(41, 1, Json{{"serial", 1}});  // another program: its own count
  hub.SetScreen(0, 0, nullptr);
  EXPECT_EQ(Next(hub, &cursor, &started),
            "event: screen\ndata: {\"serial\":7}\n\nevent: screen\ndata: {\"serial\":1}\n\n"
            "event: screen\ndata: null\n\n");
}

TEST(ServeEvents, AStreamThatFellBehindStartsOverAndStreamsAreLimited) {
  EventHub hub(1);
  EXPECT_TRUE(hub.OpenStream());
  EXPECT_FALSE(hub.OpenStream());
  uint64_t cursor = 0;
  bool started = false;
  Next(hub, &cursor, &started);
  for (int i = 0; i < 600; ++i) hub.AddJournal({Json{{"id", i}}});
  std::string text = Next(hub, &cursor, &started);
  EXPECT_EQ(text.find("event: journal"), std::string::npos);
  EXPECT_NE(text.find("event: snapshot"), std::string::npos);
  EXPECT_EQ(hub.Snapshot()["journal"].size(), EventHub::kJournalTail);
  hub.CloseStream();
  EXPECT_TRUE(hub.OpenStream());
}

// ---- Keys held for pages, on a device ----------------------------------------------------------

class ServeDeviceTest : public LogBoundDeviceTest {
 protected:
  void SetUp() override {
    LogBoundDeviceTest::SetUp();
    AddButton(u"40C1", u"Button 1", u"\\Windows\\calendar.exe");
    AddButton(u"40C2", u"Button 2", u"\\Windows\\contacts.exe");
    output_ = device::Folder() + "/buttons.txt";
  }
  std::string output_;
};

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
}

// ---- The HTTP side ----------------------------------------------------------------------------------

class ServeHttpTest : public ServeDeviceTest {
 protected:
  void SetUp() override {
    ServeDeviceTest::SetUp();
    web_ = device::Folder() + "/web";
    std::filesystem::create_directories(web_);
    std::ofstream(web_ + "/index.html") << "<meta content=\"@QK_TOKEN@\">";
    std::string error;
    ASSERT_TRUE(watcher_.Start(&error)) << error;
    server_ = std::make_unique<devicesim::serve::PageServer>(
        devicesim::serve::PageServerSettings{web_, token_, output_}, &hub_, &watcher_, &keys_);
    ASSERT_TRUE(server_->Bind(0, &error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    server_->Stop();
    thread_.join();
    watcher_.Stop();
    keys_.ReleaseAll();
    ServeDeviceTest::TearDown();
  }
  httplib::Result Post(const std::string& path, const std::string& body, httplib::Headers headers) {
    httplib::Client client("127.0.0.1", server_->Port());
    return client.Post(path, headers, body, "application/json");
  }
  httplib::Headers Allowed() { return {{"X-Quadrakey-Token", token_}}; }

  std::string web_;
  std::string token_ = std::string(64, 'a');
  EventHub hub_{devicesim::serve::kMaxStreams};
  devicesim::serve::DeviceWatcher watcher_{&hub_};
  HeldKeys keys_;
  std::unique_ptr<devicesim::serve::PageServer> server_;
  std::thread thread_;
};

TEST_F(ServeHttpTest, OnlyThePageWithTheTokenChangesTheDeviceAndBadRequestsSayWhy) {
  httplib::Client client("127.0.0.1", server_->Port());
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body, "<meta content=\"" + token_ + "\">");
  EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY");
  auto rebound = client.Get("/api/state", {{"Host", "attacker.example:" + std::to_string(server_->Port())}});
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
      {Allowed(), "/api/button", "{\"name\":", 400, "JSON"},
      {Allowed(), "/api/button", "[1]", 400, "object"},
      {Allowed(), "/api/button", "{\"name\":\"40C1\",\"down\":1}", 400, "down"},
      {Allowed(), "/api/button", "{\"name\":\"40C9\",\"down\":true}", 404, "40C9"},
      {Allowed(), "/api/button", "{\"name\":\"40C1\",\"down\":false}", 409, "not down"},
      {Allowed(), "/api/button", std::string(20000, ' '), 413, "longer"},
      {Allowed(), "/api/ui", "{\"action\":\"explode\"}", 400, "explode"},
      {Allowed(), "/api/ui", "{\"action\":\"done\"}", 409, "tapdeck"},
      {Allowed(), "/api/nothing", "{}", 404, "no such"},
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

  auto pressed = Post("/api/button", down, Allowed());
  ASSERT_TRUE(pressed);
  EXPECT_EQ(pressed->status, 200) << pressed->body;
  EXPECT_TRUE(KeyIsDown(0xC1));
  auto get = client.Get("/api/button");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 405);
}

// Waits up to five seconds for `condition`; the watcher and the stream work
// on their own threads.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TEST_F(ServeHttpTest, WhatAnyProgramJournalsReachesTheStreamAndAGonePageLetsGoOfItsKeys) {
  std::string stream;
  std::mutex stream_mutex;
  std::atomic<bool> hang_up{false};
  std::thread reader([&] {
    httplib::Client client("127.0.0.1", server_->Port());
    client.Get("/api/events?page=p1", [&](const char* data, size_t size) {
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

  auto pressed = Post("/api/button", "{\"name\":\"40C2\",\"down\":true,\"page\":\"p1\"}", Allowed());
  ASSERT_TRUE(pressed);
  ASSERT_EQ(pressed->status, 200) << pressed->body;
  EXPECT_TRUE(Eventually([&] { return seen("\"name\":\"40C2\",\"vk\":194,\"down\":true"); }));
  EXPECT_TRUE(Eventually([&] { return seen("\"keysDown\":[194]"); })) << "the device state follows";
  hang_up = true;
  reader.join();
  EXPECT_TRUE(Eventually([] { return !KeyIsDown(0xC2); })) << "the page went away holding 40C2";
  std::vector<Json> entries = ButtonEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1]["down"], false);
}

}  // namespace
