// One launcher process (start-up, classification, dispatch) with each of its
// platform calls failed in turn: every failure takes the path the system
// gives it, the press acts at most once and only as it would have, and the
// settings stay whole.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/dispatch.h"
#include "launcher/press_classifier.h"
#include "platform/faults.h"
#include "shared/settings.h"
#include "tests/launcher/launcher_fixture.h"
#include "tests/shared/device_file.h"

namespace {

namespace faults = plat::faults;

constexpr uint32_t kButton = 1;  // letter B
constexpr uint32_t kInjected = plat::kErrorGenFailure;
const char kPreviousLog[] = "last press\n";

void NoSleep(uint32_t) {}

struct Outcome {
  std::vector<device::JournalEntry> events;
  std::string log;
  std::vector<device::RegValue> settings;  // the counter left out
  uint32_t counter = 0;

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const device::JournalEntry& e : events)
      if (e.event == "message") texts.push_back(e.fields.substr(0, e.fields.find("\",\"caption\"")));
    return texts;
  }
  // What the press did: key downs and opens, in order.
  std::vector<std::string> Actions() const {
    std::vector<std::string> actions;
    for (const device::JournalEntry& e : events) {
      if ((e.event == "key" && e.fields.find("\"up\":false") != std::string::npos) || e.event == "open")
        actions.push_back(e.event + " " + e.fields);
    }
    return actions;
  }
  std::string Dump() const {
    std::string text = "log: " + log + "\ncounter: " + std::to_string(counter) + "\n";
    for (const device::JournalEntry& e : events) text += e.event + " " + e.fields + "\n";
    return text;
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of `part` appear in `whole` in the same order.
bool LinesAreFrom(const std::string& part, const std::string& whole) {
  const std::vector<std::string> wanted = Lines(part), have = Lines(whole);
  size_t at = 0;
  for (const std::string& line : wanted) {
    while (at < have.size() && have[at] != line) ++at;
    if (at == have.size()) return false;
    ++at;
  }
  return true;
}

class PressFaultTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    SetVirtualKey(kButton, 0xC2);
    // A held press is assigned, so the press goes through the counter.
    SetShortcut(kButton, 1, true, u"<Page Down>");
  }

  std::vector<device::RegValue> Settings(uint32_t* counter) {
    std::vector<device::RegValue> values, kept;
    EXPECT_TRUE(device::ListValues(plat::RegRoot::Product, kSettingsKey, &values));
    *counter = 0;
    for (const device::RegValue& value : values) {
      if (value.name == u"StateB") {
        if (value.data.size() == 4) *counter = static_cast<unsigned char>(value.data[0]);
        continue;
      }
      kept.push_back(value);
    }
    return kept;
  }

  // One launcher process for a single press released at once, as the
  // platform's entry runs it, with whatever faults are set.
  Outcome Press() {
    faults::Clear();
    SetState(kButton, 0);
    EXPECT_TRUE(shared_test::WriteDeviceFile(std::u16string(kAppFolder) + u"\\launch.log",
                                             device::FromUtf8(kPreviousLog)));
    uint32_t ignored = 0;
    const std::vector<device::RegValue> before = Settings(&ignored);
    const int64_t mark = device::LastJournalId();
    return RunFrom(mark, before);
  }
  Outcome PressFailing(faults::Op op, uint32_t k) {
    faults::Clear();
    SetState(kButton, 0);
    EXPECT_TRUE(shared_test::WriteDeviceFile(std::u16string(kAppFolder) + u"\\launch.log",
                                             device::FromUtf8(kPreviousLog)));
    uint32_t ignored = 0;
    const std::vector<device::RegValue> before = Settings(&ignored);
    const int64_t mark = device::LastJournalId();
    faults::FailCall(op, k, kInjected);
    return RunFrom(mark, before);
  }
  Outcome RunFrom(int64_t mark, const std::vector<device::RegValue>& before) {
    RunOneProcess();
    Outcome outcome;
    outcome.events = device::ReadJournal(mark);
    outcome.log = LaunchLog();
    outcome.settings = Settings(&outcome.counter);
    EXPECT_TRUE(outcome.settings.size() == before.size() &&
                std::equal(before.begin(), before.end(), outcome.settings.begin(),
                           [](const device::RegValue& a, const device::RegValue& b) {
                             return a.name == b.name && a.type == b.type && a.data == b.data;
                           }))
        << "the settings changed";
    return outcome;
  }
  // Start-up, the press and the end of the process, as the platform's entry
  // runs them; the faults are cleared after. The calls of each operation.
  static std::vector<uint32_t> RunOneProcess() {
    DeviceShutDown();
    DeviceStartUp();
    ClassifyPress(kButton, ClassifierHooks{DispatchPressSlot, NoSleep});
    DeviceShutDown();
    std::vector<uint32_t> counts;
    for (int i = 0; i < faults::kOpCount; ++i) counts.push_back(faults::Calls(static_cast<faults::Op>(i)));
    faults::Clear();
    DeviceStartUp();  // for the next press and the fixture's end
    return counts;
  }
  std::vector<uint32_t> CountCalls() {
    faults::Clear();
    SetState(kButton, 0);
    return RunOneProcess();
  }

  // Walks k = 1..N over every operation the press calls.
  void Walk() {
    const Outcome baseline = Press();
    ASSERT_EQ(baseline.Actions().size(), 1u) << baseline.Dump();
    ASSERT_TRUE(baseline.Messages().empty()) << baseline.Dump();
    ASSERT_EQ(baseline.counter, 0u);
    const std::vector<uint32_t> counts = CountCalls();
    int walked = 0;
    for (int i = 0; i < faults::kOpCount; ++i) {
      const faults::Op op = static_cast<faults::Op>(i);
      for (uint32_t k = 1; k <= counts[i]; ++k) {
        SCOPED_TRACE(std::string(faults::Name(op)) + " call " + std::to_string(k));
        Check(op, PressFailing(op, k), baseline);
        ++walked;
      }
    }
    EXPECT_GT(walked, 20) << "the press made fewer platform calls than expected";
  }

  void Check(faults::Op op, const Outcome& got, const Outcome& baseline) {
    const std::vector<std::string> actions = got.Actions(), messages = got.Messages();
    // Never more than the press's own action, never another one.
    ASSERT_LE(actions.size(), 1u) << got.Dump();
    if (!actions.empty() && op != faults::Op::ShellOpen) {
      EXPECT_EQ(actions, baseline.Actions()) << got.Dump();
    }
    switch (op) {
      case faults::Op::RegistryOpen:
      case faults::Op::RegistryRead:
      case faults::Op::RegistryWrite:
        // Settings failures are logged, never shown; a failed counter read
        // or write may cost the press, or leave the counter for the next.
        EXPECT_TRUE(messages.empty()) << got.Dump();
        EXPECT_LE(got.counter, 1u) << got.Dump();
        break;
      case faults::Op::ProductFolder:
        // Without its folder the report is not where it belongs; the press
        // is made all the same, and nothing is shown.
        EXPECT_TRUE(messages.empty()) << got.Dump();
        EXPECT_EQ(actions, baseline.Actions()) << got.Dump();
        EXPECT_EQ(got.log, kPreviousLog) << got.Dump();
        break;
      case faults::Op::FileOpen:
      case faults::Op::FileWrite:
        // The report loses lines silently; the press is made.
        EXPECT_TRUE(messages.empty()) << got.Dump();
        EXPECT_EQ(actions, baseline.Actions()) << got.Dump();
        EXPECT_TRUE(LinesAreFrom(got.log, baseline.log)) << got.Dump();
        break;
      case faults::Op::FileDelete:
        // The old report stays and the new one follows it.
        EXPECT_TRUE(messages.empty()) << got.Dump();
        EXPECT_EQ(actions, baseline.Actions()) << got.Dump();
        EXPECT_EQ(got.log, kPreviousLog + baseline.log) << got.Dump();
        break;
      case faults::Op::MutexCreate:
        // Said once; nothing is logged; the press is made.
        ASSERT_EQ(messages.size(), 1u) << got.Dump();
        EXPECT_NE(messages[0].find("Failed to create log mutex"), std::string::npos) << got.Dump();
        EXPECT_EQ(actions, baseline.Actions()) << got.Dump();
        EXPECT_EQ(got.log, kPreviousLog) << got.Dump();
        break;
      case faults::Op::MutexWait:
        // That one log call is skipped with the message; the press is made.
        ASSERT_EQ(messages.size(), 1u) << got.Dump();
        EXPECT_NE(messages[0].find("Timed out waiting to write to log file"), std::string::npos);
        EXPECT_EQ(actions, baseline.Actions()) << got.Dump();
        break;
      case faults::Op::ShellOpen: {
        // A beep, then the message with the error in hex; nothing opened.
        ASSERT_EQ(messages.size(), 1u) << got.Dump();
        EXPECT_NE(messages[0].find("Error opening shortcut"), std::string::npos) << got.Dump();
        EXPECT_NE(messages[0].find(": 1f"), std::string::npos) << got.Dump();
        bool beeped = false;
        for (const device::JournalEntry& e : got.events) beeped = beeped || e.event == "beep";
        EXPECT_TRUE(beeped) << got.Dump();
        ASSERT_EQ(actions.size(), 1u) << got.Dump();
        EXPECT_NE(actions[0].find("\"ok\":false"), std::string::npos) << got.Dump();
        break;
      }
      default:
        ADD_FAILURE() << "a press calls an operation the walk does not know: " << got.Dump();
    }
    EXPECT_LE(got.counter, 1u);
  }
};

TEST_F(PressFaultTest, EveryFailureOfAPressThatOpensAFile) {
  MakeDeviceFile(u"\\Windows\\viewer.exe");
  SetShortcut(kButton, 1, false, u"\\Windows\\viewer.exe");
  Walk();
}

TEST_F(PressFaultTest, EveryFailureOfAPressThatEndsInTheReport) {
  SetShortcut(kButton, 1, false, u"<Page Up>");
  Walk();
}

}  // namespace
