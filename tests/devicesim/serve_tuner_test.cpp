// The page's tuner: a hardware button's presses, as the journal dates them,
// recorded as the tuner asks for them; the page's own presses of that
// button act nowhere meanwhile; Accept stores what it proposes.
#include <gtest/gtest.h>

#include <string>

#include "devicesim/serve/serve_tuner.h"
#include "shared/button_model.h"
#include "tests/devicesim/serve_fixture.h"

namespace {

using devicesim::serve::TunerPanel;

// Journal entries of the button's key, as the shell writes them.
class Keys {
 public:
  explicit Keys(TunerPanel* panel) : panel_(panel) {}
  void Move(int vk, bool down) {
    const Json fields{{"name", "40C2"}, {"vk", vk}, {"down", down}};
    const std::string members = fields.dump();
    panel_->Follow({++id_, at_, 100, "button", members.substr(1, members.size() - 2)}, fields);
  }
  void Press(int64_t length, int vk = 0xC2) {
    Move(vk, true);
    at_ += length;
    Move(vk, false);
  }
  void Gap(int64_t ms) { at_ += ms; }
  void Attempt(std::initializer_list<int64_t> lengths) {
    bool first = true;
    for (int64_t length : lengths) {
      if (!first) Gap(140);
      first = false;
      Press(length);
    }
    Gap(1500);
  }

 private:
  TunerPanel* panel_;
  int64_t id_ = 0;
  int64_t at_ = 1'700'000'000'000;
};

TEST_F(ServeDeviceTest, TheTunerRecordsTheButtonsPressesAndStoresItsProposal) {
  TunerPanel panel;
  std::string error;
  EXPECT_FALSE(panel.Start(devicesim::serve::ButtonsJson(), "40C9", &error));
  EXPECT_NE(error.find("40C9"), std::string::npos) << error;
  EXPECT_EQ(panel.TakenKey(), 0);
  ASSERT_TRUE(panel.Start(devicesim::serve::ButtonsJson(), "40c2", &error)) << error;
  EXPECT_EQ(panel.TakenKey(), 0xC2);
  Json view = panel.View();
  EXPECT_EQ(view["recording"], true);
  EXPECT_EQ(view["entry"], "40C2");
  EXPECT_EQ(view["name"], "Button 2");
  EXPECT_EQ(view["prompt"], "Now: press once (1 of 5)");
  EXPECT_EQ(view["current"], (Json{{"hold", 400}, {"double", 400}}));
  EXPECT_FALSE(panel.Accept(false, &error)) << "nothing proposed yet";

  Keys keys(&panel);
  keys.Press(100, 0xC1);  // another button: not recorded
  EXPECT_TRUE(panel.TakeChanged());
  EXPECT_EQ(panel.View()["prompt"], "Now: press once (1 of 5)");
  for (int i = 0; i < 5; ++i) keys.Attempt({100});
  for (int i = 0; i < 5; ++i) keys.Attempt({800});
  for (int i = 0; i < 5; ++i) keys.Attempt({100, 100});
  EXPECT_TRUE(panel.TakeChanged());
  EXPECT_FALSE(panel.TakeChanged()) << "told once";
  EXPECT_EQ(panel.View()["prompt"], "Now: press twice and hold (1 of 5)");
  for (int i = 0; i < 5; ++i) keys.Attempt({100, 800});
  view = panel.View();
  ASSERT_EQ(view["canAccept"], true) << view.dump();
  EXPECT_EQ(view["rows"][2]["label"], "Double Press");
  EXPECT_EQ(view["rows"][2]["proposed"], "5 of 5");
  const Json proposal = view["proposal"];

  ASSERT_TRUE(panel.Accept(false, &error)) << error;
  EXPECT_EQ(panel.TakenKey(), 0) << "the key is the button table's again";
  view = panel.View();
  EXPECT_EQ(view["recording"], false);
  EXPECT_EQ(view["stored"], (Json{{"entry", "40C2"}, {"name", "Button 2"}, {"hold", proposal["hold"]},
                                  {"double", proposal["double"]}, {"forEveryButton", false}}));
  EXPECT_EQ(ReadButtonSetting(kHoldIntervalSetting, 1), proposal["hold"].get<uint32_t>());
  EXPECT_EQ(devicesim::serve::ButtonsJson()["buttons"][1]["dblClickInterval"], proposal["double"]);

  // Stopped, the presses are no longer the tuner's.
  ASSERT_TRUE(panel.Start(devicesim::serve::ButtonsJson(), "40C2", &error));
  EXPECT_EQ(panel.View()["current"]["hold"], proposal["hold"]) << "the button's own timing is in force now";
  panel.Stop();
  keys.Attempt({100});
  EXPECT_EQ(panel.View()["recording"], false);
  EXPECT_FALSE(panel.StartOver(&error));
}

TEST_F(ServeHttpTest, ThePagesTunerTakesItsButtonsPressesUntilItStops) {
  const auto tuner = [&](const std::string& body) { return Post("/api/tuner", body, Script()); };
  const auto button = [&](bool down) {
    return Post("/api/button", std::string("{\"name\":\"40C2\",\"down\":") + (down ? "true" : "false") + "}",
                Script());
  };
  EXPECT_EQ(Get("/api/tuner", Script())->status, 405);
  EXPECT_EQ(Post("/api/tuner", "{\"action\":\"stop\"}", {})->status, 403) << "no token";
  EXPECT_EQ(tuner("{\"action\":\"tune\"}")->status, 400);
  EXPECT_EQ(tuner("{\"action\":\"start\"}")->status, 400) << "which button";
  EXPECT_EQ(tuner("{\"action\":\"start\",\"button\":\"40C9\"}")->status, 409);
  EXPECT_EQ(tuner("{\"action\":\"accept\"}")->status, 409) << "nothing to accept";

  auto started = tuner("{\"action\":\"start\",\"button\":\"40C2\"}");
  ASSERT_EQ(started->status, 200) << started->body;
  EXPECT_EQ(Json::parse(started->body)["prompt"], "Now: press once (1 of 5)");
  // The page's press moves the key; the shell runs nothing (here it would
  // fail to, and say so).
  auto down = button(true);
  ASSERT_EQ(down->status, 200) << down->body;
  EXPECT_EQ(Json::parse(down->body).count("problem"), 0u) << down->body;
  ASSERT_EQ(button(false)->status, 200);
  EXPECT_TRUE(Eventually([&] { return hub_.Snapshot()["tuner"].value("prompt", "") == "Now: press once (2 of 5)"; }))
      << hub_.Snapshot()["tuner"].dump();

  ASSERT_EQ(tuner("{\"action\":\"stop\"}")->status, 200);
  EXPECT_TRUE(Eventually([&] { return hub_.Snapshot()["tuner"].value("recording", true) == false; }));
  down = button(true);
  EXPECT_NE(Json::parse(down->body).value("problem", "").find("could not run"), std::string::npos) << down->body;
  button(false);
}

}  // namespace
