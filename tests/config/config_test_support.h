// Setting up a device for the configuration model's tests: button table
// entries, Start Menu files, and the debug log read back line by line.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/model/launch_buttons.h"
#include "platform/host/device/device.h"
#include "platform/platform.h"
#include "shared/debuglog.h"
#include "shared/settings.h"
#include "tests/support/log_bound_device_test.h"

namespace config_test {

constexpr plat::RegRoot kHklm = plat::RegRoot::LocalMachine;

inline std::u16string EntryPath(const std::u16string& entry) {
  return std::u16string(plat::kButtonTableKey) + u"\\" + entry;
}

// An entry of the button table. A value passed as nullptr is not written.
inline void AddEntry(const std::u16string& entry, const char16_t* name, const char16_t* reset,
                     const char16_t* current) {
  const std::u16string path = EntryPath(entry);
  if (reset != nullptr) {
    ASSERT_TRUE(WriteRegString(kHklm, path, u"ResetCmd", reset));
  }
  if (current != nullptr) {
    ASSERT_TRUE(WriteRegString(kHklm, path, u"", current));
  }
  if (name != nullptr) {
    ASSERT_TRUE(WriteRegString(kHklm, path, u"Name", name));
  }
  // The enumeration must see the key even with no value written.
  if (reset == nullptr && current == nullptr && name == nullptr) {
    ASSERT_TRUE(WriteRegDword(kHklm, path, u"Other", 1));
  }
}

inline std::u16string ReadValue(const std::u16string& entry, const std::u16string& value) {
  std::u16string text;
  if (!ReadRegString(kHklm, EntryPath(entry), value, text)) return u"<unreadable>";
  return text;
}

inline uint32_t ReadDword(const std::u16string& entry, const std::u16string& value,
                          uint32_t fallback = 0xDEADBEEF) {
  uint32_t number = fallback;
  ReadRegDword(kHklm, EntryPath(entry), value, number);
  return number;
}

// A file of the device, with the folders above it.
inline void MakeDeviceFile(const std::u16string& path, const std::u16string& content = u"x") {
  const std::filesystem::path host = device::HostPath(path);
  std::filesystem::create_directories(host.parent_path());
  plat::TextFile file = plat::OpenTextFile(path, "wt");
  ASSERT_NE(file, nullptr) << device::ToUtf8(path);
  plat::WriteTextFile(file, content);
  plat::CloseTextFile(file);
}

inline void MakeDeviceFolder(const std::u16string& path) {
  std::filesystem::create_directories(device::HostPath(path));
}

// A fresh device whose debug log is on and goes to a file of its own.
class LoggedDeviceTest : public LogBoundDeviceTest {
 protected:
  static constexpr char16_t kLogPath[] = u"\\test.log";

  void SetUp() override {
    LogBoundDeviceTest::SetUp();
    SetLogFile(kLogPath);
    SetLogFlush(true);
    ResetLogFile();
    EnableLog(true);
  }

  // Everything logged so far, one element per line, line ends removed.
  std::vector<std::string> LogLines() const {
    std::string bytes;
    plat::TextFile file = plat::OpenTextFile(kLogPath, "rt");
    if (file != nullptr) {
      plat::ReadTextFile(file, &bytes);
      plat::CloseTextFile(file);
    }
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
      size_t end = bytes.find('\n', start);
      if (end == std::string::npos) end = bytes.size();
      lines.push_back(bytes.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  bool Logged(const std::string& line) const {
    for (const std::string& logged : LogLines())
      if (logged == line) return true;
    return false;
  }

  // Starts the log afresh, so that a test sees only what follows.
  void ClearLog() { ResetLogFile(); }
};

}  // namespace config_test
