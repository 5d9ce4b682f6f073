// A small device program the host tests start in other processes.
//   registry ID COUNT  write COUNT values of its own and read each back
//   commit ID          until killed: set the eight values of its own key to
//                      1, 2, ... in one transaction each, and after each
//                      commit append its number to \committedID.txt
//   hold NAME          take the named mutex, mark it, then wait to be killed
//   echo ...           write its command line to \echo.txt
//   hotkey VK          take VK as a hot key of a hidden window, mark it, then
//                      note each hot key in \hotkeys.txt until told to end
//   (nothing)          write \empty.txt
// Exit code 0 on success, else the failing step's last error (or 1).
#include <string>

#include "platform/host/device/device.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {

std::u16string Word(const std::u16string& text, size_t* pos) {
  while (*pos < text.size() && text[*pos] == u' ') ++*pos;
  size_t start = *pos;
  while (*pos < text.size() && text[*pos] != u' ') ++*pos;
  return text.substr(start, *pos - start);
}

int Number(const std::u16string& text) {
  int n = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9' || n > 100000) return -1;
    n = n * 10 + (c - u'0');
  }
  return text.empty() ? -1 : n;
}

int Failure() {
  uint32_t code = plat::GetLastError();
  return code != 0 && code < 256 ? static_cast<int>(code) : 1;
}

bool WriteFile(const std::u16string& path, const std::u16string& text) {
  plat::TextFile file = plat::OpenTextFile(path, "wt");
  if (file == nullptr) return false;
  bool ok = plat::WriteTextFile(file, text) && plat::FlushTextFile(file);
  plat::CloseTextFile(file);
  return ok;
}

int Registry(const std::u16string& id, int count) {
  std::u16string path = u"Software\\Stress\\Worker" + id;
  int base = Number(id) * 1000;
  for (int i = 0; i < count; ++i) {
    plat::RegKey key = plat::RegCreateKey(plat::RegRoot::LocalMachine, path,
                                          plat::kKeySetValue | plat::kKeyQueryValue);
    if (key == nullptr) return Failure();
    std::u16string name = u"v" + device::FromUtf8(std::to_string(i));
    uint32_t value = static_cast<uint32_t>(base + i), back = 0, size = 4;
    bool ok = plat::RegSetValue(key, name, plat::kRegDword, &value, 4) &&
              plat::RegQueryValue(key, name, nullptr, &back, &size);
    plat::RegCloseKey(key);
    if (!ok) return Failure();
    if (back != value) return 200;
    // Everyone also writes the same key, so writers really meet.
    plat::RegKey shared = plat::RegCreateKey(plat::RegRoot::LocalMachine, u"Software\\Stress\\Shared",
                                             plat::kKeySetValue);
    if (shared == nullptr) return Failure();
    std::u16string mine = u"w" + id + u"-" + device::FromUtf8(std::to_string(i));
    ok = plat::RegSetValue(shared, mine, plat::kRegDword, &value, 4);
    plat::RegCloseKey(shared);
    if (!ok) return Failure();
  }
  return 0;
}

struct Round {
  std::u16string path;
  uint32_t number;
};

bool WriteRound(void* context) {
  const Round* round = static_cast<const Round*>(context);
  plat::RegKey key = plat::RegCreateKey(plat::RegRoot::LocalMachine, round->path, plat::kKeySetValue);
  if (key == nullptr) return false;
  bool ok = true;
  for (char16_t name = u'a'; name <= u'h' && ok; ++name) {
    // "number:" and a tail of changing size, so that rows move between pages.
    std::u16string data = device::FromUtf8(std::to_string(round->number)) + u":";
    data.append(round->number % 700, u'x');
    ok = plat::RegSetValue(key, std::u16string(1, name), plat::kRegSz, data.c_str(),
                           static_cast<uint32_t>((data.size() + 1) * 2));
  }
  plat::RegCloseKey(key);
  return ok;
}

int Commit(const std::u16string& id) {
  plat::TextFile log = plat::OpenTextFile(u"\\committed" + id + u".txt", "at");
  if (log == nullptr) return Failure();
  for (uint32_t number = 1;; ++number) {
    Round round{u"Software\\Kill\\Worker" + id, number};
    if (!device::Transaction(WriteRound, &round)) return Failure();
    if (!plat::WriteTextFile(log, device::FromUtf8(std::to_string(number)) + u"\n") || !plat::FlushTextFile(log))
      return Failure();
  }
}

int Hold(const std::u16string& name) {
  plat::Mutex mutex = plat::CreateNamedMutex(name);
  if (mutex == nullptr) return Failure();
  plat::WaitResult r = plat::WaitForMutex(mutex, 10000);
  if (r != plat::WaitResult::Acquired && r != plat::WaitResult::Abandoned) return 100;
  if (!WriteFile(u"\\held.txt", name)) return Failure();
  plat::Sleep(60000);
  return 0;
}

std::u16string hot_keys_seen;

intptr_t HotKeyProc(plat::Window, plat::WindowEvent event, uintptr_t first, intptr_t second) {
  if (event == plat::WindowEvent::kHotKey) {
    hot_keys_seen += device::FromUtf8(std::to_string(first) + " " + std::to_string(second) + "\n");
    WriteFile(u"\\hotkeys.txt", hot_keys_seen);
  } else if (event == plat::WindowEvent::kAppMessage) {
    plat::PostQuit(static_cast<int>(first));
  }
  return 0;
}

int HoldHotKey(int virtual_key) {
  const plat::Window window = plat::CreateMessageWindow(u"QkHelperKeys", HotKeyProc);
  if (window == 0 || !plat::RegisterHotKey(window, 1, 0, static_cast<uint32_t>(virtual_key))) return Failure();
  if (!WriteFile(u"\\held.txt", u"hotkey")) return Failure();
  return plat::RunMessageLoop();
}

}  // namespace

// Rests on the platform alone: no process-wide objects of its own.
void DeviceStartUp() {}
void DeviceShutDown() {}

int DeviceMain(const std::u16string& command_line) {
  size_t pos = 0;
  std::u16string mode = Word(command_line, &pos);
  if (mode == u"registry") {
    std::u16string id = Word(command_line, &pos);
    std::u16string count = Word(command_line, &pos);
    if (Number(id) < 0 || Number(count) < 0) return 2;
    return Registry(id, Number(count));
  }
  if (mode == u"hold") return Hold(Word(command_line, &pos));
  if (mode == u"commit") return Commit(Word(command_line, &pos));
  if (mode == u"hotkey") return HoldHotKey(Number(Word(command_line, &pos)));
  if (mode == u"echo") return WriteFile(u"\\echo.txt", command_line) ? 0 : Failure();
  if (mode.empty()) return WriteFile(u"\\empty.txt", u"") ? 0 : Failure();
  return 3;
}
