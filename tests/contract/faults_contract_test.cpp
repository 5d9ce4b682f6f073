// The fault table, as both backends honour it: the k-th call of each named
// operation fails with the error given and does nothing else, calls a
// backend makes inside another operation do not count, and QUADRAKEY_FAULTS
// reaches a program that the test starts.
#include <functional>
#include <string>
#include <vector>

#include "platform/faults.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "tests/shared/device_file.h"
#include "tests/support/test_device.h"

using namespace plat;
namespace faults = plat::faults;

namespace {

constexpr uint32_t kInjected = 1234;  // no operation fails with this by itself
const std::u16string kBase = u"Software\\QuadrakeyContract";

class FaultContract : public DeviceTest {
 protected:
  void TearDown() override {
    faults::Clear();
    RegDeleteKey(RegRoot::LocalMachine, kBase);
    DeviceTest::TearDown();
  }
};

// One call of an operation: true when it succeeded.
struct Case {
  faults::Op op;
  std::function<bool()> call;
};

bool CloseIfMade(RegKey key) {
  RegCloseKey(key);
  return key != nullptr;
}

TEST_F(FaultContract, TheKthCallOfEachOperationFailsWithTheGivenError) {
  RegKey key = RegCreateKey(RegRoot::LocalMachine, kBase, kKeyRead | kKeySetValue);
  ASSERT_NE(key, nullptr);
  const uint32_t one = 1;
  ASSERT_TRUE(RegSetValue(key, u"Value", kRegDword, &one, 4));
  RegCloseKey(RegCreateKey(RegRoot::LocalMachine, kBase + u"\\Sub", kKeySetValue));
  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\fault.txt", u"x"));
  TextFile open_file = OpenTextFile(u"\\open.txt", "wt");
  ASSERT_NE(open_file, nullptr);
  Mutex mutex = CreateNamedMutex(u"QuadrakeyFaultContract");
  ASSERT_NE(mutex, nullptr);
  const Window window = CreateMessageWindow(u"QkFaultContractKeys", [](Window, WindowEvent, uintptr_t, intptr_t) -> intptr_t { return 0; });
  ASSERT_NE(window, 0u);

  const std::vector<Case> cases = {
      {faults::Op::RegistryOpen, [&] { return CloseIfMade(RegOpenKey(RegRoot::LocalMachine, kBase, kKeyRead)); }},
      {faults::Op::RegistryRead, [&] {
         uint32_t value = 0, size = 4;
         return RegQueryValue(key, u"Value", nullptr, &value, &size);
       }},
      {faults::Op::RegistryWrite, [&] { return RegSetValue(key, u"Value", kRegDword, &one, 4); }},
      {faults::Op::RegistryDelete, [&] {
         // Deletes a key made for the purpose each time.
         RegCloseKey(RegCreateKey(RegRoot::LocalMachine, kBase + u"\\Doomed", kKeySetValue));
         return RegDeleteKey(RegRoot::LocalMachine, kBase + u"\\Doomed");
       }},
      {faults::Op::RegistryEnum, [&] {
         char16_t name[64];
         return RegEnumKey(key, 0, name, 64);
       }},
      {faults::Op::FileOpen, [] {
         TextFile file = OpenTextFile(u"\\fault.txt", "rt");
         CloseTextFile(file);
         return file != nullptr;
       }},
      {faults::Op::FileWrite, [&] { return WriteTextFile(open_file, u"line\n"); }},
      {faults::Op::FileList, [] {
         std::vector<FoundFile> found;
         return ListFiles(u"\\*.*", &found);
       }},
      {faults::Op::FileDelete, [] {
         shared_test::WriteDeviceFile(u"\\doomed.txt", u"x");
         return DeleteFile(u"\\doomed.txt");
       }},
      {faults::Op::FileMove, [] {
         shared_test::WriteDeviceFile(u"\\moved.txt", u"x");
         return MoveFileReplacing(u"\\moved.txt", u"\\moved.lnk");
       }},
      {faults::Op::MutexCreate, [] {
         Mutex made = CreateNamedMutex(u"QuadrakeyFaultContractMade");
         CloseMutex(made);
         return made != nullptr;
       }},
      {faults::Op::MutexWait, [&] {
         const WaitResult result = WaitForMutex(mutex, 1000);
         const bool got = result == WaitResult::Acquired || result == WaitResult::Abandoned;
         if (got) ReleaseMutex(mutex);
         return got;
       }},
      {faults::Op::HotKeyRegister, [&] {
         const bool held = RegisterHotKey(window, 1, 0, 0x7A);
         if (held) UnregisterHotKey(window, 1);
         return held;
       }},
      {faults::Op::SignInEntry, [] { return SetSignInStart(u"Quadrakey Fault Contract", u"\\x.exe"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(faults::Name(c.op));
    faults::Clear();
    faults::FailCall(c.op, 2, kInjected);
    EXPECT_TRUE(c.call());
    SetLastError(0);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(GetLastError(), kInjected);
    EXPECT_TRUE(c.call());
    EXPECT_EQ(faults::Calls(c.op), 3u);
  }
  faults::Clear();
  RemoveSignInStart(u"Quadrakey Fault Contract");
  CloseTextFile(open_file);
  CloseMutex(mutex);
  RegCloseKey(key);
}

TEST_F(FaultContract, AFailedCallChangesNothing) {
  RegKey key = RegCreateKey(RegRoot::LocalMachine, kBase, kKeyRead | kKeySetValue);
  ASSERT_NE(key, nullptr);
  const uint32_t seven = 7, eight = 8;
  ASSERT_TRUE(RegSetValue(key, u"Kept", kRegDword, &seven, 4));
  faults::FailCall(faults::Op::RegistryWrite, 1, kErrorDiskFull);
  EXPECT_FALSE(RegSetValue(key, u"Kept", kRegDword, &eight, 4));
  EXPECT_EQ(GetLastError(), kErrorDiskFull);
  faults::FailCall(faults::Op::RegistryOpen, 1, kErrorAccessDenied);
  EXPECT_EQ(RegCreateKey(RegRoot::LocalMachine, kBase + u"\\Never", kKeySetValue), nullptr);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  faults::FailCall(faults::Op::RegistryDelete, 1, kErrorAccessDenied);
  EXPECT_FALSE(RegDeleteValue(key, u"Kept"));
  uint32_t value = 0, size = 4;
  EXPECT_TRUE(RegQueryValue(key, u"Kept", nullptr, &value, &size));
  EXPECT_EQ(value, seven);
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, kBase + u"\\Never", kKeyRead), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  RegCloseKey(key);

  faults::FailCall(faults::Op::FileOpen, 1, kErrorSharingViolation);
  EXPECT_EQ(OpenTextFile(u"\\never.txt", "wt"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  EXPECT_EQ(GetFileAttributes(u"\\never.txt"), kInvalidFileAttributes);
  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\kept.txt", u"kept"));
  faults::FailCall(faults::Op::FileDelete, 1, kErrorAccessDenied);
  EXPECT_FALSE(DeleteFile(u"\\kept.txt"));
  EXPECT_EQ(shared_test::ReadDeviceFile(u"\\kept.txt"), "kept");
}

// A registry call failed with 1015 is a damaged registry, as a real one
// would be: the program learns it for the rest of its run.
TEST_F(FaultContract, ARegistryFailedAsCorruptIsDamageThatStays) {
  EXPECT_EQ(RegistryDamage(), 0u);
  faults::FailCall(faults::Op::FileOpen, 1, kErrorRegistryCorrupt);
  EXPECT_EQ(OpenTextFile(u"\\never.txt", "rt"), nullptr);
  EXPECT_EQ(RegistryDamage(), 0u) << "only a registry call meets the registry";
  faults::FailCall(faults::Op::RegistryRead, 1, kErrorAccessDenied);
  RegKey key = RegCreateKey(RegRoot::LocalMachine, kBase, kKeyRead | kKeySetValue);
  ASSERT_NE(key, nullptr);
  uint32_t value = 0, size = 4;
  EXPECT_FALSE(RegQueryValue(key, u"Missing", nullptr, &value, &size));
  EXPECT_EQ(RegistryDamage(), 0u) << "a refusal is no damage";
  faults::FailCall(faults::Op::RegistryRead, 1, kErrorRegistryCorrupt);
  EXPECT_FALSE(RegQueryValue(key, u"Missing", nullptr, &value, &size));
  EXPECT_EQ(GetLastError(), kErrorRegistryCorrupt);
  EXPECT_EQ(RegistryDamage(), kErrorRegistryCorrupt);
  const uint32_t one = 1;
  EXPECT_TRUE(RegSetValue(key, u"Value", kRegDword, &one, 4));
  EXPECT_EQ(RegistryDamage(), kErrorRegistryCorrupt) << "it stays";
  RegCloseKey(key);
  faults::Clear();
  EXPECT_EQ(RegistryDamage(), 0u);
}

TEST_F(FaultContract, FromTheKthCallOnEveryCallFails) {
  faults::FailCallsFrom(faults::Op::FileList, 2, kErrorNotEnoughMemory);
  std::vector<FoundFile> found;
  EXPECT_TRUE(ListFiles(u"\\*.*", &found));
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(ListFiles(u"\\*.*", &found));
    EXPECT_EQ(GetLastError(), kErrorNotEnoughMemory);
  }
  // Counted from when the fault is set, not from the start.
  faults::FailCall(faults::Op::MessageBox, 1, kErrorNotEnoughMemory);
  EXPECT_EQ(faults::Calls(faults::Op::FileList), 4u);
  faults::Clear();
  EXPECT_EQ(faults::Calls(faults::Op::FileList), 0u);
  EXPECT_TRUE(ListFiles(u"\\*.*", &found));
}

TEST_F(FaultContract, OperationsThatShowOrStartFailWithoutDoingSo) {
  // Never shown: the first call already fails.
  faults::FailCallsFrom(faults::Op::MessageBox, 1, kErrorNotEnoughMemory);
  const std::u16string caption = u"Quadrakey";
  EXPECT_EQ(MessageBox(u"never shown", &caption, kMbOk), 0);
  EXPECT_EQ(GetLastError(), kErrorNotEnoughMemory);
  EXPECT_EQ(faults::Calls(faults::Op::MessageBox), 1u);

  // A missing program fails with its own error, unless the table fails it first.
  EXPECT_FALSE(CreateProcess(u"\\Nowhere\\missing.exe", u""));
  const uint32_t own = GetLastError();
  EXPECT_NE(own, kInjected);
  faults::FailCall(faults::Op::ProcessStart, 1, kInjected);
  EXPECT_FALSE(CreateProcess(u"\\Nowhere\\missing.exe", u""));
  EXPECT_EQ(GetLastError(), kInjected);

  faults::FailCall(faults::Op::ShellOpen, 1, kInjected);
  EXPECT_FALSE(ShellOpen(u"\\Nowhere\\missing.txt"));
  EXPECT_EQ(GetLastError(), kInjected);

  faults::FailCall(faults::Op::DisplaySet, 1, kInjected);
  EXPECT_EQ(SetDisplayOrientation(kDmdo0), kDispChangeFailed);
  EXPECT_EQ(GetLastError(), kInjected);
}

TEST_F(FaultContract, CallsInsideAnotherOperationAreNotCounted) {
  // A shortcut in the device's form, to a program that is not there: the
  // host's shell reads it and starts its target through its own calls.
  ASSERT_TRUE(shared_test::WriteDeviceFile(u"\\gone.lnk", u"20#\\Nowhere\\missing.exe"));
  faults::Clear();
  faults::FailCallsFrom(faults::Op::FileOpen, 1, kInjected);
  faults::FailCallsFrom(faults::Op::ProcessStart, 1, kInjected);
  EXPECT_FALSE(ShellOpen(u"\\gone.lnk"));
  EXPECT_NE(GetLastError(), kInjected);
  EXPECT_EQ(faults::Calls(faults::Op::ShellOpen), 1u);
  EXPECT_EQ(faults::Calls(faults::Op::FileOpen), 0u);
  EXPECT_EQ(faults::Calls(faults::Op::ProcessStart), 0u);
}

TEST_F(FaultContract, TheEnvironmentReachesTheNamedProgram) {
  struct Run {
    std::string faults;
    std::string results;
  } runs[] = {
      {"", "open ok,ok,ok,ok"},
      {"qk_fault_child/registry-write@2:112", "open ok,ok,112,ok"},
      {"registry-write@2+:5", "open ok,ok,5,5"},
      {"QK_FAULT_CHILD.EXE/registry-write:170", "open ok,170,ok,ok"},
      {"registry-open:5", "open 5"},
      {"someone_else/registry-write:5,registry-write@0:5,registry-write@x:5,bogus,registry-write:z",
       "open ok,ok,ok,ok"},
      {"bogus,registry-write@3:1016", "open ok,ok,ok,1016"},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.faults);
    ASSERT_EQ(testing_device::RunDeviceProgram(QK_FAULT_CHILD, "", run.faults), 0);
    EXPECT_EQ(shared_test::ReadDeviceFile(u"\\fault_child.txt"), run.results);
  }
}

// "kill" ends the program as its call begins: the calls before it were
// made, that one and nothing after.
TEST_F(FaultContract, AKillEndsTheProgramAtTheCallNamed) {
  ASSERT_TRUE(DeleteFile(u"\\fault_child.txt") || GetLastError() == kErrorFileNotFound);
  EXPECT_NE(testing_device::RunDeviceProgram(QK_FAULT_CHILD, "", "qk_fault_child/registry-write@2:kill"), 0);
  EXPECT_EQ(GetFileAttributes(u"\\fault_child.txt"), kInvalidFileAttributes) << "nothing ran after the kill";
  RegKey key = RegOpenKey(RegRoot::LocalMachine, kBase + u"\\Child", kKeyQueryValue);
  ASSERT_NE(key, nullptr);
  uint32_t value = 99, size = 4;
  EXPECT_TRUE(RegQueryValue(key, u"v", nullptr, &value, &size));
  EXPECT_EQ(value, 0u) << "the first write was made, the second not";
  RegCloseKey(key);
}

}  // namespace
