#include "tests/platform_host/host_support.h"

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace host_test {

void PutFile(const std::u16string& device_path, const std::string& bytes) {
  std::filesystem::path host = device::HostPath(device_path);
  std::filesystem::create_directories(host.parent_path());
  std::ofstream(host, std::ios::binary) << bytes;
}

std::string GetFile(const std::u16string& device_path) {
  std::ifstream in(device::HostPath(device_path), std::ios::binary);
  if (!in) return "<missing>";
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void InstallHelper(const std::u16string& device_path) {
  std::filesystem::path host = device::HostPath(device_path);
  std::filesystem::create_directories(host.parent_path());
  std::filesystem::copy_file(QK_HOST_HELPER, host, std::filesystem::copy_options::overwrite_existing);
}

std::vector<int> WaitAll(const std::vector<int>& pids) {
  std::vector<int> codes;
  for (int pid : pids) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
      codes.push_back(-2);
      continue;
    }
    codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return codes;
}

std::vector<device::JournalEntry> Events(const std::string& event, int64_t after) {
  std::vector<device::JournalEntry> chosen;
  for (const auto& e : device::ReadJournal(after))
    if (e.event == event) chosen.push_back(e);
  return chosen;
}

void SetDefault(plat::RegRoot root, const std::u16string& path, const std::u16string& text) {
  plat::RegKey key = plat::RegCreateKey(root, path, plat::kKeySetValue);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(plat::RegSetValue(key, u"", plat::kRegSz, text.c_str(),
                                static_cast<uint32_t>((text.size() + 1) * 2)));
  plat::RegCloseKey(key);
}

}  // namespace host_test
