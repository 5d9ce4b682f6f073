// What the tests of devicesim serve share: a device with two buttons, and
// the server on it in-process.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devicesim/serve/serve_events.h"
#include "devicesim/serve/serve_http.h"
#include "devicesim/serve/serve_keys.h"
#include "devicesim/serve/serve_sessions.h"
#include "devicesim/serve/serve_views.h"
#include "devicesim/serve/serve_watch.h"
#include "platform/host/device/device.h"
#include "shared/settings.h"
#include "tests/support/log_bound_device_test.h"

namespace serve_test {

using devicesim::serve::EventHub;
using devicesim::serve::HeldKeys;
using devicesim::serve::Json;

inline bool KeyIsDown(int virtual_key) {
  bool down = false;
  EXPECT_TRUE(device::IsKeyDown(virtual_key, &down)) << device::ErrorText(plat::GetLastError());
  return down;
}

inline std::vector<int> KeysDownNow() {
  std::vector<int> keys;
  EXPECT_TRUE(device::KeysDown(&keys)) << device::ErrorText(plat::GetLastError());
  return keys;
}

inline constexpr char16_t kKeys[] = u"SOFTWARE\\Microsoft\\Shell\\Keys\\";

inline void AddButton(const std::u16string& entry, const std::u16string& name, const std::u16string& command) {
  ASSERT_TRUE(WriteRegString(plat::RegRoot::LocalMachine, kKeys + entry, u"", command));
  ASSERT_TRUE(WriteRegString(plat::RegRoot::LocalMachine, kKeys + entry, u"ResetCmd", command));
  ASSERT_TRUE(WriteRegString(plat::RegRoot::LocalMachine, kKeys + entry, u"Name", name));
}

inline std::vector<Json> ButtonEntries() {
  std::vector<Json> found;
  for (const device::JournalEntry& entry : device::ReadJournal())
    if (entry.event == "button") found.push_back(devicesim::serve::EntryJson(entry)["fields"]);
  return found;
}

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

class ServeHttpTest : public ServeDeviceTest {
 protected:
  void SetUp() override {
    ServeDeviceTest::SetUp();
    web_ = device::Folder() + "/web";
    std::filesystem::create_directories(web_);
    std::ofstream(web_ + "/index.html") << "<p>the device</p>";
    std::ofstream(web_ + "/app.js") << "'use strict';";
    std::string error;
    ASSERT_TRUE(watcher_.Start(&error)) << error;
    server_ = std::make_unique<devicesim::serve::PageServer>(
        devicesim::serve::PageServerSettings{web_, token_, output_, Limits()}, &hub_, &watcher_, &keys_);
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
  virtual devicesim::serve::ConnectionLimits Limits() const { return {}; }

  int Port() const { return server_->Port(); }
  // What the page sends: the session it was given once it had checked the
  // server's proof and sent its own (serve_sessions.h).
  httplib::Headers Page() {
    if (session_.empty()) session_ = OpenSession();
    return {{devicesim::serve::kSessionHeader, session_}};
  }
  std::string OpenSession() {
    using devicesim::serve::HmacHex;
    const std::string mine = "0123456789abcdef0123456789abcdef";
    auto hello = Get("/api/hello?nonce=" + mine, {});
    EXPECT_TRUE(hello && hello->status == 200);
    if (!hello || hello->status != 200) return "none";
    Json answer = Json::parse(hello->body);
    const std::string theirs = answer.value("nonce", "");
    EXPECT_EQ(answer.value("proof", ""), HmacHex(token_, devicesim::serve::ServerProofText(Port(), mine, theirs)));
    auto opened = Post("/api/session",
                       Json{{"pageNonce", mine}, {"nonce", theirs},
                            {"proof", HmacHex(token_, devicesim::serve::PageProofText(Port(), mine, theirs))}}.dump(),
                       {});
    EXPECT_TRUE(opened && opened->status == 200) << (opened ? opened->body : "no answer");
    return opened && opened->status == 200 ? Json::parse(opened->body).value("session", "none") : "none";
  }
  httplib::Headers Script() const { return {{"X-Quadrakey-Token", token_}}; }
  httplib::Result Post(const std::string& path, const std::string& body, httplib::Headers headers) {
    httplib::Client client("127.0.0.1", Port());
    return client.Post(path, headers, body, "application/json");
  }
  httplib::Result Get(const std::string& path, httplib::Headers headers) {
    httplib::Client client("127.0.0.1", Port());
    return client.Get(path, headers);
  }

  std::string web_;
  std::string token_ = std::string(64, 'a');
  std::string session_;
  EventHub hub_{devicesim::serve::kMaxStreams};
  HeldKeys keys_;
  devicesim::serve::DeviceWatcher watcher_{&hub_, &keys_};
  std::unique_ptr<devicesim::serve::PageServer> server_;
  std::thread thread_;
};

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

}  // namespace serve_test

using namespace serve_test;
