// The series of presses the page draws, from journals as the shell and the
// launchers write them, and launch.log's closing report.
#include <gtest/gtest.h>

#include <string>

#include "devicesim/serve/serve_presses.h"
#include "shared/special_actions.h"

namespace {

using devicesim::serve::ClosingReport;
using devicesim::serve::Json;
using devicesim::serve::PressTimeline;

constexpr int64_t kServer = 100;  // the pid that presses

// A journal written as the emulated device writes it, with times relative
// to the first key down.
class Journal {
 public:
  explicit Journal(PressTimeline* timeline) : timeline_(timeline) {}
  void Add(int64_t t, int64_t pid, const std::string& event, const Json& fields) {
    std::string members = fields.dump();
    device::JournalEntry entry{++id_, 1'000'000 + t, pid, event, members.substr(1, members.size() - 2)};
    timeline_->Follow(entry, fields);
  }
  void Down(int64_t t, const char* name = "40C2") { Add(t, kServer, "button", Json{{"name", name}, {"vk", 194}, {"down", true}}); }
  void Up(int64_t t, const char* name = "40C2") { Add(t, kServer, "button", Json{{"name", name}, {"vk", 194}, {"down", false}}); }
  // The shell starting TapdeckX for button index 1, as the takeover shortcut does.
  void Launcher(int64_t t, int64_t pid) {
    Add(t, kServer, "start", Json{{"program", "\\Program Files\\Quadrakey\\TapdeckX.exe"}, {"args", "1"}, {"child", pid}});
    Add(t, kServer, "open", Json{{"file", "\\Program Files\\Quadrakey\\TapdeckB.lnk"}, {"ok", true}, {"error", 0}});
  }
  void End(int64_t t, int64_t pid, std::optional<ClosingReport> report = std::nullopt) {
    if (report) report->written_ms += 1'000'000;
    timeline_->Ended(pid, 1'000'000 + t, report);
  }

 private:
  PressTimeline* timeline_;
  int64_t id_ = 0;
};

ClosingReport Report(int64_t written, int32_t count, bool hold, const std::string& shortcut) {
  ClosingReport report;
  report.button = 1;
  report.press_count = count;
  report.hold = hold;
  report.shortcut = shortcut;
  report.success = true;
  report.written_ms = written;
  return report;
}

Json Buttons(const Json& assignments, int hold = 400, int dbl = 400) {
  return Json{{"buttons", Json::array({Json{{"index", 1}, {"entry", "40C2"}, {"name", "Button 2"}, {"assignments", assignments}}})},
              {"holdInterval", hold},
              {"dblClickInterval", dbl}};
}

const Json kAllFour{{"single", "\\Windows\\Start Menu\\Notes.lnk"},
                    {"hold", "<Page Up>"},
                    {"double", "\\Windows\\Start Menu\\Calendar.lnk"},
                    {"doubleHold", "<Today>"}};

// A button with intervals of its own is drawn and read by them; another
// by the global ones.
TEST(ServePresses, AButtonsOwnIntervalsAreTheOnesItsSeriesShows) {
  PressTimeline timeline;
  Json buttons = Buttons(kAllFour, 500, 600);
  Json own = buttons["buttons"][0];
  own["holdInterval"] = 250;
  own["dblClickInterval"] = 300;
  Json other{{"index", 2}, {"entry", "40C3"}, {"name", "Button 3"}, {"assignments", kAllFour}};
  buttons["buttons"] = Json::array({own, other});
  timeline.SetButtons(buttons);
  Journal j(&timeline);
  j.Down(0);
  j.Up(50);
  j.Down(1000, "40C3");
  j.Up(1050, "40C3");
  const Json series = timeline.SeriesJson();
  ASSERT_EQ(series.size(), 2u) << series.dump();
  EXPECT_EQ(series[0]["entry"], "40C2");
  EXPECT_EQ(series[0]["holdInterval"], 250);
  EXPECT_EQ(series[0]["dblClickInterval"], 300);
  EXPECT_EQ(series[1]["entry"], "40C3");
  EXPECT_EQ(series[1]["holdInterval"], 500);
  EXPECT_EQ(series[1]["dblClickInterval"], 600);
}

TEST(ServePresses, EachKindOfPressIsOneSeriesWithItsSlotActionAndDelay) {
  PressTimeline timeline;
  timeline.SetButtons(Buttons(kAllFour));
  Journal j(&timeline);

  // A single press: released at once, dispatched after the larger interval.
  j.Down(0);
  j.Launcher(2, 201);
  j.Up(80);
  j.Add(403, 201, "start", Json{{"program", "\\Windows\\notes.exe"}, {"args", ""}});
  j.Add(404, 201, "open", Json{{"file", "\\Windows\\Start Menu\\Notes.lnk"}, {"ok", true}, {"error", 0}});
  j.End(410, 201);
  // A hold: the key still down after the hold interval.
  j.Down(1000);
  j.Launcher(1002, 202);
  j.Add(1402, 202, "key", Json{{"vk", 33}, {"up", false}, {"flags", 4}});
  j.Add(1402, 202, "key", Json{{"vk", 33}, {"up", true}, {"flags", 6}});
  j.Up(1700);
  j.End(1405, 202, Report(1403, 1, true, "<Page Up>"));
  // A double press: the second process dispatches at the end of its wait.
  j.Down(2000);
  j.Launcher(2002, 203);
  j.Up(2060);
  j.Down(2150);
  j.Launcher(2152, 204);
  j.Up(2210);
  j.End(2403, 203);  // woke, found the counter changed: gave way
  j.Add(2553, 204, "start", Json{{"program", "\\Windows\\calendar.exe"}, {"args", ""}});
  j.Add(2554, 204, "open", Json{{"file", "\\Windows\\Start Menu\\Calendar.lnk"}, {"ok", true}, {"error", 0}});
  j.End(2560, 204);
  // A double press and hold.
  j.Down(3000);
  j.Launcher(3002, 205);
  j.Up(3060);
  j.Down(3150);
  j.Launcher(3152, 206);
  j.End(3403, 205);
  j.Add(3552, 206, "foreground", Json{{"window", 65552}});
  j.End(3556, 206, Report(3553, 2, true, "<Today>"));
  j.Up(3800);
  // A triple press: the third process acts at once.
  j.Down(4000);
  j.Launcher(4002, 207);
  j.Up(4050);
  j.Down(4120);
  j.Launcher(4122, 208);
  j.Up(4170);
  j.Down(4240);
  j.Launcher(4242, 209);
  j.Add(4243, 209, "foreground", Json{{"window", 65552}});
  j.Up(4290);
  // Two launchers end together: the latest started is asked first.
  j.End(4250, 209, Report(4244, 2, true, "<Today>"));
  j.End(4403, 207);
  j.End(4523, 208);

  Json series = timeline.SeriesJson();
  ASSERT_EQ(series.size(), 5u) << series.dump(1);
  struct Expected {
    const char* slot;
    const char* action;
    int64_t delay;
    size_t presses;
    const char* summary;
    const char* source;
  } expected[] = {
      {"single", "Notes.lnk", 403, 1, "single press → Notes.lnk, 403 ms after the press", "journal"},
      {"hold", "<Page Up>", 402, 1, "press and hold → <Page Up>, 402 ms after the press", "report"},
      {"double", "Calendar.lnk", 403, 2, "double press → Calendar.lnk, 403 ms after the second press", "journal"},
      {"doubleHold", "<Today>", 402, 2, "double press and hold → <Today>, 402 ms after the second press", "report"},
      {"doubleHold", "<Today>", 3, 3, "double press and hold → <Today>, 3 ms after the third press", "report"},
  };
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const Json& s = series[i];
    EXPECT_EQ(s["state"], "decided");
    EXPECT_EQ(s["presses"].size(), expected[i].presses);
    EXPECT_EQ(s["decision"]["slot"], expected[i].slot);
    EXPECT_EQ(s["decision"]["action"], expected[i].action);
    EXPECT_EQ(s["decision"]["delay"], expected[i].delay);
    EXPECT_EQ(s["decision"]["source"], expected[i].source);
    EXPECT_EQ(s["summary"], expected[i].summary);
    EXPECT_EQ(s["holdInterval"], 400);
  }
  EXPECT_EQ(series[2]["presses"][0]["outcome"], "gave way");
  EXPECT_EQ(series[2]["presses"][1]["outcome"], "acted");
  EXPECT_EQ(series[3]["decision"]["effect"], "the Today screen came to the front");
  EXPECT_EQ(series[1]["decision"]["effect"], "key 0x21 down and up");
  EXPECT_EQ(series[4]["presses"][2]["outcome"], "acted");
  EXPECT_EQ(series[4]["presses"][1]["outcome"], "gave way");
  EXPECT_TRUE(timeline.Running().empty());
}

TEST(ServePresses, ASeriesThatDispatchedNothingSaysWhy) {
  PressTimeline timeline;
  timeline.SetButtons(Buttons(Json{{"single", "<Today>"}, {"hold", "<Page Up>"}}));
  Journal j(&timeline);
  // A double press whose double press is unassigned: the report says so.
  j.Down(0);
  j.Launcher(2, 301);
  j.Up(50);
  j.Down(120);
  j.Launcher(122, 302);
  j.Up(170);
  j.End(126, 302, Report(124, 2, false, ""));
  EXPECT_EQ(timeline.Running(), std::vector<int64_t>{301}) << "the first still sleeps";
  j.End(403, 301);
  // A launcher that ended without a word (its counter changed under it).
  j.Down(1000);
  j.Launcher(1002, 303);
  Json waiting = timeline.SeriesJson().back();
  EXPECT_EQ(waiting["state"], "waiting");
  EXPECT_EQ(waiting["presses"][0]["outcome"], "waiting");
  j.Up(1050);
  j.End(1403, 303);
  // A stale report of this button, from before that launcher started, is not its.
  Json series = timeline.SeriesJson();
  ASSERT_EQ(series.size(), 2u) << series.dump(1);
  EXPECT_EQ(series[0]["decision"]["slot"], "double");
  EXPECT_EQ(series[0]["decision"]["kind"], "unassigned");
  EXPECT_EQ(series[0]["summary"], "double press → nothing (unassigned), 4 ms after the second press");
  EXPECT_EQ(series[1]["state"], "nothing");
  EXPECT_EQ(series[1]["decision"], nullptr);
  EXPECT_EQ(series[1]["presses"][0]["outcome"], "ended");

  // A press after the series ended starts the next one.
  j.Down(2000);
  j.Launcher(2002, 304);
  EXPECT_EQ(timeline.SeriesJson().size(), 3u);
}

TEST(ServePresses, AButtonNotTakenOverRunsItsCommandPressByPress) {
  PressTimeline timeline;
  timeline.SetButtons(Buttons(Json::object()));
  Journal j(&timeline);
  j.Down(0, "40C1");
  j.Add(2, kServer, "start", Json{{"program", "\\Windows\\calendar.exe"}, {"args", ""}});
  j.Up(60, "40C1");
  j.Down(100, "40C1");
  j.Add(101, kServer, "start", Json{{"program", "\\Windows\\calendar.exe"}, {"args", ""}});
  Json series = timeline.SeriesJson();
  ASSERT_EQ(series.size(), 2u);
  EXPECT_EQ(series[0]["state"], "shell");
  EXPECT_EQ(series[0]["takenOver"], false);
  EXPECT_EQ(series[0]["summary"], "not taken over: the shell started calendar.exe, 2 ms after the press");
  EXPECT_EQ(series[1]["presses"][0]["down"], 1'000'100);
}

TEST(ServePresses, AKeyOutsideTheTableIsNotCalledAButtonNotTakenOver) {
  PressTimeline timeline;
  timeline.SetButtons(Buttons(Json::object()));
  Journal j(&timeline);
  j.Down(0, "40C1");
  j.Up(60, "40C1");
  j.Down(1000, "Side Key");
  j.Up(1060, "Side Key");
  Json series = timeline.SeriesJson();
  ASSERT_EQ(series.size(), 2u);
  EXPECT_EQ(series[0]["summary"], "not taken over: the shell started nothing");
  EXPECT_EQ(series[1]["state"], "shell");
  EXPECT_EQ(series[1]["summary"], "outside the button table: the key goes to the program in front, or to one that holds it");
}

std::string Ascii(const char16_t* text) {
  std::string ascii;
  for (; *text != 0; ++text) ascii += static_cast<char>(*text);
  return ascii;
}

TEST(ServePresses, WhatTheLauncherDidIsToldInWords) {
  struct Case {
    const char* event;
    Json fields;
    const char* action;
    const char* effect;
  } cases[] = {
      {"key", Json{{"vk", 223}, {"up", false}, {"flags", 4}}, "<Power Off>", "key 0xDF down, and no key up"},
      {"sip", Json{{"request", 0}, {"shown", true}}, "<Input Panel>", "the input panel came up"},
      {"start", Json{{"program", "\\Program Files\\Quadrakey\\Turnscreen.exe"}, {"args", "3"}, {"child", 999}},
       "<Rotate Screen>", "started Turnscreen 3"},
      // The launcher's own texts, as it shows them.
      {"message", Json{{"text", Ascii(kMissingAssignmentText)}}, "Gone.lnk",
       "not found: the launcher showed the missing-file message"},
      {"message", Json{{"text", Ascii(kTooLongAssignmentText)}}, "Long.lnk", "too long a path: the launcher said so"},
      {"message", Json{{"text", "Cannot find the shortcut: another program's words"}}, "<Today>",
       "as the assignment says"},
      {"open", Json{{"file", "\\Windows\\x.doc"}, {"ok", false}, {"error", 1155}}, "x.doc",
       "could not open \\Windows\\x.doc (error 1155)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    PressTimeline timeline;
    timeline.SetButtons(Buttons(Json{{"single", c.action}}));
    Journal j(&timeline);
    j.Down(0);
    j.Launcher(1, 401);
    j.Add(3, 401, c.event, c.fields);
    if (std::string(c.event) == "start") j.Add(40, 999, "display", Json{{"orientation", 90}, {"ok", true}});
    j.End(50, 401, Report(4, 1, false, std::string(c.action) == "Gone.lnk" ? "\\Windows\\Gone.lnk" : c.action));
    Json series = timeline.SeriesJson();
    ASSERT_EQ(series.size(), 1u);
    EXPECT_EQ(series[0]["decision"]["action"], c.action);
    std::string effect = series[0]["decision"]["effect"];
    EXPECT_EQ(effect.rfind(c.effect, 0), 0u) << effect;
  }
}

TEST(ServePresses, ClosingReportsAreReadWholeOrNotAtAll) {
  ClosingReport report;
  const std::string whole =
      "Launch button 3, press 2, hold 1\n  shortcut: <Today>\n  app: <Today>\n  (no exe)\n  (no cmdline)\nSuccess";
  ASSERT_TRUE(devicesim::serve::ParseClosingReport(whole, &report));
  EXPECT_EQ(report.button, 3u);
  EXPECT_EQ(report.press_count, 2);
  EXPECT_TRUE(report.hold);
  EXPECT_EQ(report.shortcut, "<Today>");
  EXPECT_TRUE(report.success);
  ASSERT_TRUE(devicesim::serve::ParseClosingReport(
      "Launch button 0, press 1, hold 0\n  shortcut: \n  app: \n  (no exe)\n  (no cmdline)\nError: 0", &report));
  EXPECT_EQ(report.shortcut, "");
  EXPECT_FALSE(report.success);
  for (const std::string& partial : {whole.substr(0, whole.size() - 7), std::string(), std::string("Launched x\n"),
                                     whole + "\nmore", "Launch button 3, press 5, hold 1" + whole.substr(32)})
    EXPECT_FALSE(devicesim::serve::ParseClosingReport(partial, &report)) << partial;
}

}  // namespace
