// A device program for the fault table's contract: one registry open and
// three writes, then what became of each in \fault_child.txt ("ok" or the
// error number), so a test can see which of its calls QUADRAKEY_FAULTS failed.
#include <string>

#include "platform/platform.h"

void DeviceStartUp() {}
void DeviceShutDown() {}

namespace {

std::u16string Outcome(bool ok) {
  if (ok) return u"ok";
  const std::string digits = std::to_string(plat::GetLastError());
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

int DeviceMain(const std::u16string&) {
  plat::RegKey key = plat::RegCreateKey(plat::RegRoot::LocalMachine,
                                        u"Software\\QuadrakeyContract\\Child", plat::kKeySetValue);
  std::u16string results = u"open " + Outcome(key != nullptr);
  for (uint32_t i = 0; key != nullptr && i < 3; ++i)
    results += u"," + Outcome(plat::RegSetValue(key, u"v", plat::kRegDword, &i, sizeof i));
  plat::RegCloseKey(key);
  plat::TextFile file = plat::OpenTextFile(u"\\fault_child.txt", "wt");
  if (file == nullptr) return 2;
  const bool written = plat::WriteTextFile(file, results);
  plat::CloseTextFile(file);
  return written ? 0 : 3;
}
