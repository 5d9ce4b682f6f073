// Reading back what the programs wrote to the device's file system.
#pragma once

#include <string>

#include "platform/platform.h"

namespace shared_test {

// The whole file as stored; "<missing>" when it cannot be opened, so that a
// missing file never compares equal to an expected text.
inline std::string ReadDeviceFile(const std::u16string& path) {
  plat::TextFile file = plat::OpenTextFile(path, "rt");
  if (file == nullptr) return "<missing>";
  std::string bytes;
  if (!plat::ReadTextFile(file, &bytes)) bytes = "<unreadable>";
  plat::CloseTextFile(file);
  return bytes;
}

// Replaces the file with `text`, as another program would write it.
inline bool WriteDeviceFile(const std::u16string& path, const std::u16string& text) {
  plat::TextFile file = plat::OpenTextFile(path, "wt");
  if (file == nullptr) return false;
  const bool written = plat::WriteTextFile(file, text);
  plat::CloseTextFile(file);
  return written;
}

}  // namespace shared_test
