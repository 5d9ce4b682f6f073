// Helpers the host-only tests share.
#pragma once

#include <string>
#include <vector>

#include "platform/host/device/device.h"

namespace host_test {

// Writes `bytes` to the device path, making its folders.
void PutFile(const std::u16string& device_path, const std::string& bytes);
std::string GetFile(const std::u16string& device_path);
// Copies the helper program into the device as an installed program.
void InstallHelper(const std::u16string& device_path);
// Waits for the pids and returns their exit codes (-1 for a signal).
std::vector<int> WaitAll(const std::vector<int>& pids);
// Journal entries of one event since `after`.
std::vector<device::JournalEntry> Events(const std::string& event, int64_t after = 0);
void SetDefault(plat::RegRoot root, const std::u16string& path, const std::u16string& text);

}  // namespace host_test
