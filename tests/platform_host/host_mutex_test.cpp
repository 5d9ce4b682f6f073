// The named mutex between processes, including a holder that is killed.
#include <signal.h>

#include <filesystem>

#include "platform/host/device/device.h"
#include "tests/platform_host/host_support.h"
#include "tests/support/test_device.h"

using namespace plat;

namespace {

class HostMutex : public DeviceTest {
 protected:
  // Starts a helper that takes the mutex; returns its pid once it holds it.
  int StartHolder(const std::u16string& name) {
    host_test::InstallHelper(u"\\Windows\\helper.exe");
    DeleteFile(u"\\held.txt");
    EXPECT_TRUE(CreateProcess(u"\\Windows\\helper.exe", u"hold " + name));
    int pid = device::StartedProcesses().back();
    for (int i = 0; i < 2000 && GetFileAttributes(u"\\held.txt") == kInvalidFileAttributes; ++i) Sleep(5);
    EXPECT_NE(GetFileAttributes(u"\\held.txt"), kInvalidFileAttributes) << "holder never took the mutex";
    return pid;
  }
};

TEST_F(HostMutex, AnotherProcessHoldsItUntilKilledThenItIsAbandoned) {
  int pid = StartHolder(u"VelbrookSoftwareLogMutex");
  Mutex mutex = CreateNamedMutex(u"VELBROOKSOFTWARELOGMUTEX");  // host names ignore case
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForMutex(mutex, 100), WaitResult::Timeout);

  kill(pid, SIGKILL);
  EXPECT_EQ(host_test::WaitAll({pid}), std::vector<int>{-1});
  EXPECT_EQ(WaitForMutex(mutex, 5000), WaitResult::Abandoned);
  ReleaseMutex(mutex);
  // A proper release leaves nothing behind.
  EXPECT_EQ(WaitForMutex(mutex, 5000), WaitResult::Acquired);
  ReleaseMutex(mutex);
  CloseMutex(mutex);
}

TEST_F(HostMutex, ReleaseByANonOwnerIsRefused) {
  Mutex mutex = CreateNamedMutex(u"NotMine");
  ASSERT_NE(mutex, nullptr);
  SetLastError(0);
  ReleaseMutex(mutex);
  EXPECT_EQ(GetLastError(), 288u);  // ERROR_NOT_OWNER
  EXPECT_EQ(WaitForMutex(mutex, 0), WaitResult::Acquired);
  ReleaseMutex(mutex);
  CloseMutex(mutex);
}

TEST_F(HostMutex, NamesBecomeSafeFileNames) {
  Mutex odd = CreateNamedMutex(u"..\\..\\Global/odd name");
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(WaitForMutex(odd, 0), WaitResult::Acquired);
  ReleaseMutex(odd);
  CloseMutex(odd);
  for (const auto& entry : std::filesystem::directory_iterator(device_name_)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "fs" || name == "locks" || name.rfind("registry.db", 0) == 0) << name;
  }
  int lock_files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(device_name_ + "/locks")) {
    EXPECT_TRUE(entry.is_regular_file());
    EXPECT_EQ(entry.path().extension(), ".lock");
    ++lock_files;
  }
  EXPECT_EQ(lock_files, 1);
  Mutex long_name = CreateNamedMutex(std::u16string(250, u'm'));
  ASSERT_NE(long_name, nullptr);
  EXPECT_EQ(WaitForMutex(long_name, 0), WaitResult::Acquired);
  ReleaseMutex(long_name);
  CloseMutex(long_name);
  EXPECT_EQ(CreateNamedMutex(u""), nullptr);
}

}  // namespace
