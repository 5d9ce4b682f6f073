#include "tests/support/test_device.h"

#include <cstdlib>
#include <filesystem>

#include "platform/host/device.h"

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

}  // namespace testing_device
