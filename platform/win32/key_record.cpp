// Dated presses on Windows. The program that watches keys (the key listener)
// installs a low-level keyboard hook, which the system calls for every key
// event with the event's own time, before anything else sees the key and
// however late the program gets to its messages. Each down and up of a
// watched key goes into a small shared record, a named section in the
// session's own namespace that only this user's programs can open, and to
// the watcher's window. A launcher started for a press is handed the press
// in its environment and reads what followed it from the record.
//
// The hook runs on a thread of its own that does nothing else. The keyboard
// waits for a hook's answer (Wine waits up to 2 s, then goes on without it,
// and the key never reaches the record), and the watcher's own thread is
// busy while it starts a launcher, which under Wine lasts until the new
// process has set itself up.
//
// The record has one writer, the hook, and readers that never wait for it:
// a sequence number that is odd while an event is written tells a reader to
// copy again. It lives only as long as a program holds it open, so a
// watcher that ends, killed or not, leaves nothing a later press could read.
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/common/fault_gate.h"
#include "platform/common/key_history.h"
#include "platform/common/shell_text.h"
#include "platform/ui.h"
#include "platform/win32/hook_thread.h"
#include "platform/win32/win32_api.h"

using win32::Fail;

namespace {

#ifdef _WIN32_WCE
const wchar_t kSectionName[] = L"QuadrakeyKeyEvents";
#else
const wchar_t kSectionName[] = L"Local\\QuadrakeyKeyEvents";
#endif
const wchar_t kPressVariable[] = L"QUADRAKEY_PRESS";
constexpr uint32_t kMagic = 0x31726B71;  // "qkr1"
constexpr uint32_t kSlots = 256;         // ample for every series in flight
// An auto-repeat comes well within this after the key's last event; a key
// down after a longer silence is a new press whose key up was never seen.
constexpr DWORD kRepeatSilenceMs = 1500;

struct Slot {
  DWORD time;  // the event's time, as GetTickCount counts
  uint16_t vk;
  uint16_t up;
};

struct Record {
  volatile LONG sequence;  // odd while an event is being written
  uint32_t magic;
  uint32_t keeper;  // the watcher's process id
  uint32_t count;   // events written since the watcher began; the newest is slot (count - 1) % kSlots
  Slot slots[kSlots];
};

// ---- The watcher's side ------------------------------------------------------

struct Keeper {
  HANDLE section = nullptr;
  Record* record = nullptr;
  win32::HookThread hook;
  // Shared with the hook's thread, under keeper_lock.
  HWND window = nullptr;
  bool watched[256] = {};
  bool down[256] = {};
  DWORD last[256] = {};
};
Keeper keeper;
SRWLOCK keeper_lock = SRWLOCK_INIT;

void Append(uint16_t vk, bool up, DWORD time) {
  Record* r = keeper.record;
  ::InterlockedIncrement(&r->sequence);
  r->slots[r->count % kSlots] = {time, vk, static_cast<uint16_t>(up ? 1 : 0)};
  r->count += 1;
  ::InterlockedIncrement(&r->sequence);
}

LRESULT CALLBACK KeyHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && keeper.record != nullptr) {
    const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam);
    const DWORD vk = event->vkCode & 0xFF;
    const bool up = (event->flags & LLKHF_UP) != 0 || wparam == WM_KEYUP || wparam == WM_SYSKEYUP;
    ::AcquireSRWLockExclusive(&keeper_lock);
    if (keeper.watched[vk]) {
      const bool repeat = !up && keeper.down[vk] && event->time - keeper.last[vk] < kRepeatSilenceMs;
      const bool moved = up ? keeper.down[vk] : !repeat;
      keeper.last[vk] = event->time;
      if (moved) {
        keeper.down[vk] = !up;
        Append(static_cast<uint16_t>(vk), up, event->time);
        ::PostMessageW(keeper.window, win32::kWmKeyEvent, vk | (up ? plat::kKeyEventUp : 0u),
                       static_cast<LPARAM>(event->time));
      }
    }
    ::ReleaseSRWLockExclusive(&keeper_lock);
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

void StopKeeping() {
  win32::StopHookThread(&keeper.hook);
  if (keeper.record != nullptr) ::UnmapViewOfFile(keeper.record);
  if (keeper.section != nullptr) ::CloseHandle(keeper.section);
  keeper = Keeper{};
}

bool StartKeeping(HWND window) {
  if (keeper.record == nullptr) {
    keeper.section = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Record),
                                          kSectionName);
    if (keeper.section == nullptr) return false;
    keeper.record = static_cast<Record*>(::MapViewOfFile(keeper.section, FILE_MAP_WRITE, 0, 0, sizeof(Record)));
    if (keeper.record == nullptr) {
      const DWORD error = ::GetLastError();
      StopKeeping();
      return Fail(error);
    }
    // A section a launcher still held from an earlier watcher is begun anew.
    Record* r = keeper.record;
    ::InterlockedIncrement(&r->sequence);
    if ((r->sequence & 1) == 0) ::InterlockedIncrement(&r->sequence);
    r->magic = kMagic;
    r->keeper = ::GetCurrentProcessId();
    r->count = 0;
    ::InterlockedIncrement(&r->sequence);
  }
  const DWORD error = win32::StartHookThread(KeyHook, &keeper.hook);
  if (error != ERROR_SUCCESS) {
    StopKeeping();
    return Fail(error);
  }
  ::AcquireSRWLockExclusive(&keeper_lock);
  keeper.window = window;
  ::ReleaseSRWLockExclusive(&keeper_lock);
  return true;
}

// ---- The launcher's side -------------------------------------------------------

struct Handed {
  bool present = false;
  int vk = 0;
  DWORD time = 0;
};
Handed handed;
const Record* reader = nullptr;  // this launcher's view of the record, kept for its life

// A consistent copy of the record; false when there is none to read.
bool CopyRecord(Record* copy) {
  if (reader == nullptr) {
    HANDLE section = ::OpenFileMappingW(FILE_MAP_READ, FALSE, kSectionName);
    if (section == nullptr) return false;
    reader = static_cast<const Record*>(::MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(Record)));
    ::CloseHandle(section);  // the view keeps it
    if (reader == nullptr) return false;
  }
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const LONG before = reader->sequence;
    ::MemoryBarrier();
    if ((before & 1) == 0) {
      std::memcpy(copy, const_cast<const Record*>(reader), sizeof *copy);
      ::MemoryBarrier();
      if (reader->sequence == before) return copy->magic == kMagic;
    }
    ::Sleep(0);
  }
  return false;
}

uint64_t ToTicks(DWORD time, uint64_t now) { return win32::TicksOfEventTime(time, now); }

}  // namespace

namespace win32 {

uint64_t TicksOfEventTime(DWORD time, uint64_t now) {
  const DWORD ago = static_cast<DWORD>(now) - time;
  return ago > 0x7FFFFFFF || ago >= now ? now : now - ago;  // from the future: now
}

void TakeHandedPress() {
  wchar_t text[32] = {};
  const DWORD length = ::GetEnvironmentVariableW(kPressVariable, text, 32);
  if (length == 0 || length >= 32) return;
  // The press is this process's alone: programs it starts get none.
  ::SetEnvironmentVariableW(kPressVariable, nullptr);
  wchar_t* end = nullptr;
  const unsigned long vk = std::wcstoul(text, &end, 10);
  if (end == text || *end != L':' || vk < 1 || vk > 0xFE) return;
  const wchar_t* time_text = end + 1;
  const unsigned long time = std::wcstoul(time_text, &end, 10);
  if (end == time_text || *end != L'\0') return;
  handed = {true, static_cast<int>(vk), static_cast<DWORD>(time)};
}

}  // namespace win32

namespace plat {

bool WatchKeys(Window window, const std::vector<uint32_t>& keys) {
  common::FaultGate gate(faults::Op::KeyWatch);
  if (gate.failed()) return false;
  HWND hwnd = reinterpret_cast<HWND>(window);
  DWORD owner = 0;
  if (window == 0 || ::GetWindowThreadProcessId(hwnd, &owner) == 0) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  if (owner != ::GetCurrentProcessId()) return Fail(ERROR_WINDOW_OF_OTHER_THREAD);
  for (uint32_t key : keys)
    if (key < 1 || key > 0xFE) return Fail(ERROR_INVALID_PARAMETER);
  if (keys.empty()) {
    StopKeeping();
    return true;
  }
  if (!StartKeeping(hwnd)) return false;
  bool watched[256] = {};
  for (uint32_t key : keys) watched[key] = true;
  // A key no longer watched forgets its state: watched again, it starts up.
  ::AcquireSRWLockExclusive(&keeper_lock);
  for (int vk = 0; vk < 256; ++vk) {
    if (!watched[vk]) keeper.down[vk] = false;
    keeper.watched[vk] = watched[vk];
  }
  ::ReleaseSRWLockExclusive(&keeper_lock);
  return true;
}

bool StartPressLauncher(const std::u16string& program, const std::u16string& command_line, int virtual_key,
                        intptr_t down_stamp) {
  const std::u16string value = common::Utf8ToUtf16(std::to_string(virtual_key) + ":" +
                                                   std::to_string(static_cast<DWORD>(down_stamp)));
  // Only the listener's own thread starts programs (its hook's thread starts
  // none): the variable is there for this start only.
  ::SetEnvironmentVariableW(kPressVariable, win32::W(value));
  const bool started = CreateProcess(program, command_line);
  const DWORD error = ::GetLastError();
  ::SetEnvironmentVariableW(kPressVariable, nullptr);
  ::SetLastError(error);
  return started;
}

bool GetOwnPress(OwnPress* press) {
  if (!handed.present) return false;
  const DWORD saved = ::GetLastError();
  const uint64_t now = TickCount();
  OwnPress found;
  found.virtual_key = handed.vk;
  found.dates.down = ToTicks(handed.time, now);
  static Record copy;  // 2 KB: not on a launcher's small stack
  if (CopyRecord(&copy)) {
    const uint32_t kept = copy.count < kSlots ? copy.count : kSlots;
    static ::common::KeyMove moves[kSlots];
    size_t count = 0;
    size_t own = kSlots;
    for (uint32_t i = copy.count - kept; i != copy.count; ++i) {
      const Slot& slot = copy.slots[i % kSlots];
      if (slot.vk != handed.vk) continue;
      if (slot.up == 0 && slot.time == handed.time) own = count;
      moves[count++] = {ToTicks(slot.time, now), slot.up != 0};
    }
    if (own < count) ::common::DateOwnPress(moves, count, own, &found);
  }
  ::SetLastError(saved);
  *press = found;
  return true;
}

}  // namespace plat
