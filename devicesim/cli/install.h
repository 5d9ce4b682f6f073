// Copying the built device programs into the device's application folder.
#pragma once

#include <string>
#include <vector>

namespace devicesim {

// The device's application folder (HKLM\Software\Quadrakey "AppFolder");
// false when it is not set.
bool ReadAppFolder(std::u16string* folder);

// The folder that holds the running devicesim executable.
std::string OwnFolder();

struct InstallResult {
  std::vector<std::string> installed;  // "TapdeckX -> \Program Files\Quadrakey\TapdeckX.exe"
  std::vector<std::string> not_built;  // program names missing from the build folder
};

// Copies TapdeckX, TapdeckH, Turnscreen and tapdeck from `build_folder` as the .exe
// files of the "AppFolder". False with a message when the application folder
// is unknown or a copy fails; finding no programs is not a failure here.
bool InstallPrograms(const std::string& build_folder, InstallResult* result, std::string* error);

}  // namespace devicesim
