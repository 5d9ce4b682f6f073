#include "tests/support/test_device.h"

#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/host/device/device.h"

extern char** environ;

namespace testing_device {
namespace {
std::string current;
}

std::string MakeFreshDevice() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qkdev.XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) {
    ADD_FAILURE() << "cannot make a temporary device folder";
    return {};
  }
  current = made;
  device::SetFolder(current);
  std::string error;
  if (!device::Create(&error)) ADD_FAILURE() << "cannot make a device: " << error;
  return current;
}

void RemoveDevice() {
  if (current.empty()) return;
  std::error_code ignored;
  if (std::getenv("QK_KEEP_TEST_DEVICES") == nullptr) std::filesystem::remove_all(current, ignored);
  current.clear();
}

int RunDeviceProgram(const std::string& program, const std::string& arguments,
                     const std::string& faults) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  if (!arguments.empty()) argv.push_back(const_cast<char*>(arguments.c_str()));
  argv.push_back(nullptr);
  std::string setting = "QUADRAKEY_FAULTS=" + faults;
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "QUADRAKEY_FAULTS=", 17) != 0) envp.push_back(*e);
  envp.push_back(setting.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  int status = 0;
  for (int waited = 0; waited < 60000; waited += 5) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

}  // namespace testing_device
