// The device on storage that fails it: a full disk reads as a full disk
// (112), through a connection opened before the disk filled and through one
// opened after.
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/host/device.h"

using namespace plat;

namespace {

class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qkfull.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    mount_point_ = pattern;
    if (mount("tmpfs", mount_point_.c_str(), "tmpfs", 0, "size=1m") != 0)
      GTEST_SKIP() << "cannot mount a small file system here (needs root): " << std::strerror(errno);
    mounted_ = true;
    device::SetFolder(mount_point_ + "/device");
    std::string error;
    ASSERT_TRUE(device::Create(&error)) << error;
  }
  void TearDown() override {
    device::SetFolder(mount_point_ + "/gone");  // closes the connection
    if (mounted_) umount2(mount_point_.c_str(), MNT_DETACH);
    std::error_code ignored;
    std::filesystem::remove_all(mount_point_, ignored);
  }
  // Fills the file system to its last byte.
  void Fill() {
    std::ofstream filler(mount_point_ + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
    std::ofstream small(mount_point_ + "/filler2", std::ios::binary);
    while (small.put('x') && small.flush()) {
    }
  }
  static void ExpectWriteFailsAsFull(const std::u16string& name) {
    RegKey key = RegCreateKey(RegRoot::LocalMachine, u"Software\\Quadrakey\\" + name, kKeySetValue);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(GetLastError(), kErrorDiskFull);
    RegCloseKey(key);
  }

  std::string mount_point_;
  bool mounted_ = false;
};

TEST_F(FullDisk, RegistryAndFileWritesFailWithDiskFull) {
  RegKey key = RegCreateKey(RegRoot::LocalMachine, u"Software\\Quadrakey", kKeySetValue | kKeyQueryValue);
  ASSERT_NE(key, nullptr) << GetLastError();
  TextFile file = OpenTextFile(u"\\log.txt", "wt");
  ASSERT_NE(file, nullptr);
  Fill();

  // Through the connection that was open before the disk filled.
  const std::u16string big(4000, u'x');
  EXPECT_FALSE(RegSetValue(key, u"Big", kRegSz, big.data(), static_cast<uint32_t>(big.size() * 2)));
  EXPECT_EQ(GetLastError(), kErrorDiskFull);
  RegCloseKey(key);
  EXPECT_FALSE(WriteTextFile(file, std::u16string(8192, u'y')) && FlushTextFile(file));
  EXPECT_EQ(GetLastError(), kErrorDiskFull);
  CloseTextFile(file);

  // Through a connection opened now, as a program started on a full disk
  // does. Closing the old one may have given space back.
  const std::string folder = device::Folder();
  device::SetFolder(mount_point_ + "/elsewhere");
  Fill();
  device::SetFolder(folder);
  ExpectWriteFailsAsFull(u"Fresh");
  uint32_t value = 0, size = sizeof value;
  RegKey reopened = RegOpenKey(RegRoot::LocalMachine, u"Software\\Quadrakey", kKeyQueryValue);
  if (reopened == nullptr) {
    EXPECT_EQ(GetLastError(), kErrorDiskFull) << "an unreadable registry says why";
  } else {
    EXPECT_FALSE(RegQueryValue(reopened, u"Big", nullptr, &value, &size));
    EXPECT_EQ(GetLastError(), kErrorFileNotFound) << "the failed write stored nothing";
    RegCloseKey(reopened);
  }
}

}  // namespace
