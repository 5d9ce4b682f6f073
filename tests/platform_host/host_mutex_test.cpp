// The named mutex between processes, including a holder that is killed.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

// The owner mark lives in the lock file, where other processes (and builds
// that write it with plain file writes) read it.
TEST_F(HostMutex, TheOwnerMarkIsInTheLockFileWhateverItsLength) {
  const std::string path = device_name_ + "/locks/markedmutex.lock";
  auto contents = [&] {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  auto write = [&](const std::string& text) {
    std::filesystem::create_directories(device_name_ + "/locks");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  };
  const std::string own = std::to_string(getpid());
  for (const std::string& left : {std::string(), std::string("77"), std::string("4242") + std::string(20, '\0')}) {
    SCOPED_TRACE("lock file left holding " + std::to_string(left.size()) + " bytes");
    write(left);
    Mutex mutex = CreateNamedMutex(u"MarkedMutex");
    ASSERT_NE(mutex, nullptr);
    // A mark of a holder that ended without letting go is seen, however short.
    EXPECT_EQ(WaitForMutex(mutex, 0), left.empty() ? WaitResult::Acquired : WaitResult::Abandoned);
    std::string held = contents();
    ASSERT_GE(held.size(), 16u);
    EXPECT_EQ(held.substr(0, own.size() + 1), own + std::string(1, '\0'));
    ReleaseMutex(mutex);
    EXPECT_EQ(contents().substr(0, 16), std::string(16, '\0'));
    // A mark written into the file by another writer is read on the next wait.
    std::fstream(path, std::ios::binary | std::ios::in | std::ios::out) << "999";
    EXPECT_EQ(WaitForMutex(mutex, 0), WaitResult::Abandoned);
    ReleaseMutex(mutex);
    EXPECT_EQ(WaitForMutex(mutex, 0), WaitResult::Acquired);
    ReleaseMutex(mutex);
    CloseMutex(mutex);
  }
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
