// No fault leaves lasting damage: tapdeck runs once with call K of one
// platform operation failed, then once clean, each time as a person who
// picks Button 2's single press and ends with Done. The device must then
// hold what two clean runs leave: the same button table, key codes,
// settings and takeover shortcuts.
//
// CTest walks a sample of the calls of every operation; QK_FULL_SWEEP=1
// walks every call (scripts/fault-sweep.sh runs it and prints the counts).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "config/resource.h"
#include "config/tapdeck.h"
#include "platform/faults.h"
#include "platform/host/device/device.h"
#include "platform/host/ui/window_system.h"
#include "platform/person.h"
#include "platform/platform.h"
#include "shared/settings.h"
#include "tests/support/test_device.h"

namespace {

namespace faults = plat::faults;
using plat::person::ActionKind;
using plat::person::MakeAction;
using plat::person::ScreenKind;

constexpr plat::RegRoot kHklm = plat::RegRoot::LocalMachine;
constexpr char16_t kAppFolder[] = u"\\Program Files\\Quadrakey";
constexpr uint32_t kInjected = plat::kErrorGenFailure;

bool WriteEntry(const std::u16string& entry, const char16_t* name, const char16_t* reset,
                const char16_t* command) {
  const std::u16string key = std::u16string(plat::kButtonTableKey) + u"\\" + entry;
  return WriteRegString(kHklm, key, u"ResetCmd", reset) && WriteRegString(kHklm, key, u"Name", name) &&
         (command == nullptr || WriteRegString(kHklm, key, u"", command));
}

// Two buttons, the Record button and a hold entry; Button 2's key is not
// known yet, so start-up probes it.
void SetUpDevice() {
  std::filesystem::create_directories(device::HostPath(kAppFolder));
  std::filesystem::create_directories(device::HostPath(u"\\Windows\\Start Menu"));
  ASSERT_TRUE(WriteRegString(kHklm, kSettingsKey, u"AppFolder", kAppFolder));
  ASSERT_TRUE(WriteRegDword(kHklm, kSettingsKey, u"VirtualKeyA", 0xC1));
  ASSERT_TRUE(WriteEntry(u"40C1", u"Button 1", u"\\Windows\\Start Menu\\Calendar.lnk", nullptr));
  ASSERT_TRUE(WriteEntry(u"40C2", u"Button 2", u"\\Windows\\Start Menu\\Contacts.lnk",
                         u"\"\\Windows\\Start Menu\\Contacts.lnk\""));
  ASSERT_TRUE(WriteEntry(u"40C5", u"Record", u"\"\\Windows\\AppButtons\\Record.lnk\"", nullptr));
  ASSERT_TRUE(WriteEntry(u"80C1", u"Button 1 (Hold)", u"\\Windows\\Start Menu\\Calculator.lnk", nullptr));
  ASSERT_TRUE(plat::CreateShortcut(u"\\Windows\\Start Menu\\Calendar.lnk", u"\\Windows\\calendar.exe"));
}

// The person: Button 2, "<Today>" for its single press, Done. Whatever
// else comes up (a message, a dialog) is answered or left.
struct Person {
  size_t next = 0;
  int escapes = 0;

  static void OnIdle(void* context) { static_cast<Person*>(context)->Idle(); }

  void Idle() {
    const plat::person::Screen screen = plat::person::CurrentScreen();
    std::u16string error;
    if (screen.kind == ScreenKind::kMessageBox) {
      plat::person::Act(MakeAction(ActionKind::kAnswer), &error);
      return;
    }
    const plat::person::Action steps[] = {
        MakeAction(ActionKind::kSelect, IDC_BUTTON_LIST, 1),
        MakeAction(ActionKind::kSelect, IDC_SINGLE_PRESS, -1, u"<Today>"),
        MakeAction(ActionKind::kDone),
    };
    while (screen.kind == ScreenKind::kPageSet && next < std::size(steps)) {
      if (plat::person::Act(steps[next++], &error)) return;
    }
    // Steps that could not be taken, or a screen of another kind: leave it.
    if (++escapes > 20 || screen.kind == ScreenKind::kNothing) return;
    const ActionKind leave = screen.kind == ScreenKind::kFileDialog ? ActionKind::kCancelFile : ActionKind::kCancel;
    plat::person::Act(MakeAction(leave), &error);
  }
};

int RunOnce() {
  device::ResetWindowSystem();
  Person person;
  plat::person::SetIdleHook(&Person::OnIdle, &person);
  const int code = RunTapdeck();
  plat::person::SetIdleHook(nullptr, nullptr);
  device::ResetWindowSystem();
  return code;
}

struct Snapshot {
  std::string text;
};

bool AddKey(const std::u16string& path, const std::vector<device::RegValue>& values, void* context) {
  std::string& out = *static_cast<std::string*>(context);
  out += "[" + device::ToUtf8(path) + "]\n";
  for (const device::RegValue& value : values) {
    out += device::ToUtf8(value.name) + " (" + std::to_string(value.type) + ") =";
    if (value.type == plat::kRegSz) {
      std::u16string text;
      for (size_t i = 0; i + 1 < value.data.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(value.data[i]) |
                                      static_cast<unsigned char>(value.data[i + 1]) << 8);
      out += " " + device::ToUtf8(text);
    } else {
      for (unsigned char c : value.data) out += " " + std::to_string(c);
    }
    out += "\n";
  }
  return true;
}

// The button table, the settings and the application folder's files but
// the logs, which differ from run to run by design.
std::string State() {
  std::string out;
  device::VisitKeyTree(kHklm, plat::kButtonTableKey, &AddKey, &out);
  device::VisitKeyTree(kHklm, kSettingsKey, &AddKey, &out);
  std::map<std::string, std::string> files;
  for (const auto& file : std::filesystem::directory_iterator(device::HostPath(kAppFolder))) {
    const std::string name = file.path().filename().string();
    if (name.size() > 4 && name.substr(name.size() - 4) == ".log") continue;
    std::ifstream in(file.path(), std::ios::binary);
    files[name] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  for (const auto& [name, content] : files) out += "file " + name + ": " + content + "\n";
  return out;
}

std::string LogOfLastRun() {
  std::ifstream in(device::HostPath(std::u16string(kAppFolder) + u"\\tapdeck.log"), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class FaultSweep : public ::testing::Test {
 protected:
  void TearDown() override { Fresh(false); }

  // A fresh device with the program's process-wide objects made on it.
  void Fresh(bool again = true) {
    if (made_) {
      DeviceShutDown();
      testing_device::RemoveDevice();
      made_ = false;
    }
    faults::Clear();
    if (!again) return;
    testing_device::MakeFreshDevice();
    DeviceStartUp();
    made_ = true;
    SetUpDevice();
  }

  bool made_ = false;
};

TEST_F(FaultSweep, NoSingleFaultLeavesLastingDamage) {
  const bool full = std::getenv("QK_FULL_SWEEP") != nullptr;
  // Two clean runs: what any run after a fault must come back to.
  Fresh();
  ASSERT_EQ(RunOnce(), 0);
  uint32_t calls[faults::kOpCount];
  for (int op = 0; op < faults::kOpCount; ++op) calls[op] = faults::Calls(static_cast<faults::Op>(op));
  const std::string after_one = State();
  ASSERT_EQ(RunOnce(), 0);
  const std::string expected = State();
  ASSERT_NE(expected.find("\"\\Program Files\\Quadrakey\\TapdeckB.lnk\""), std::string::npos) << expected;
  ASSERT_NE(expected.find("VirtualKeyB (4) = 194 0 0 0"), std::string::npos) << expected;

  int runs = 0, damaged = 0, changed = 0, unnamed = 0;
  for (int op_index = 0; op_index < faults::kOpCount; ++op_index) {
    const auto op = static_cast<faults::Op>(op_index);
    const uint32_t count = calls[op_index];
    // The sample: about a dozen calls spread over the run, and the last one.
    const uint32_t stride = full || count <= 12 ? 1 : count / 12;
    for (uint32_t k = 1; k <= count; k += stride) {
      SCOPED_TRACE(std::string(faults::Name(op)) + "@" + std::to_string(k));
      Fresh();
      faults::FailCall(op, k, kInjected);
      const int code = RunOnce();
      faults::Clear();
      ++runs;
      // A run the fault changed must say so in its log, unless the fault
      // took the log itself (its file, its lock).
      if (State() != after_one) {
        ++changed;
        const std::string log = LogOfLastRun();
        const bool named = code != 0 || log.find("rror") != std::string::npos ||
                           log.find("cannot") != std::string::npos || log.find("not probed") != std::string::npos ||
                           log.find("could not") != std::string::npos || log.find("keeps its command") != std::string::npos;
        const bool log_hit = op == faults::Op::FileOpen || op == faults::Op::FileWrite ||
                             op == faults::Op::MutexCreate || op == faults::Op::MutexWait;
        if (!named && !log_hit) {
          ++unnamed;
          ADD_FAILURE() << "changed, and the log does not say why:\n" << log;
        }
      }
      EXPECT_EQ(RunOnce(), 0);
      const std::string state = State();
      if (state != expected) {
        ++damaged;
        EXPECT_EQ(state, expected) << "exit code of the faulty run: " << code;
      }
      if (k + stride > count && k != count && stride > 1) k = count - stride;  // end on the last call
    }
  }
  std::printf("fault sweep: %d runs, %d changed by their fault, %d changed without a word, %d damaged after a clean run\n",
              runs, changed, unnamed, damaged);
}

}  // namespace
