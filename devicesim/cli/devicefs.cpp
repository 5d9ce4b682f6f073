#include "devicesim/cli/devicefs.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/host/device/device.h"

namespace devicesim {

std::u16string ParentOf(const std::u16string& device_path) {
  size_t end = device_path.size();
  while (end > 1 && (device_path[end - 1] == u'\\' || device_path[end - 1] == u'/')) --end;
  size_t slash = device_path.find_last_of(u"\\/", end - 1);
  if (slash == std::u16string::npos || slash == 0) return u"\\";
  return device_path.substr(0, slash);
}

bool MakeDeviceFolder(const std::u16string& device_path, std::string* error) {
  std::error_code code;
  std::string host = device::HostPath(device_path);
  std::filesystem::create_directories(host, code);
  if (code || !std::filesystem::is_directory(host)) {
    *error = "cannot make the folder " + device::ToUtf8(device_path) + ": " +
             (code ? code.message() : "a file of that name is in the way");
    return false;
  }
  return true;
}

bool WriteDeviceFile(const std::u16string& device_path, const std::string& content,
                     std::string* error) {
  if (!MakeDeviceFolder(ParentOf(device_path), error)) return false;
  std::string host = device::HostPath(device_path);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) {
    *error = "cannot write " + device::ToUtf8(device_path) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace devicesim
