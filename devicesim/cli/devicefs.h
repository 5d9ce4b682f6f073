// Files in the device's file system, reached through their host paths.
#pragma once

#include <string>

namespace devicesim {

// Makes the folder and its missing parents. False with a message.
bool MakeDeviceFolder(const std::u16string& device_path, std::string* error);
// Makes the file's folder when missing, then writes the file whole.
bool WriteDeviceFile(const std::u16string& device_path, const std::string& content,
                     std::string* error);
// The folder part of a device path ("\a\b.lnk" -> "\a"; "\x" -> "\").
std::u16string ParentOf(const std::u16string& device_path);

}  // namespace devicesim
