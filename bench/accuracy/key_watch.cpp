// The accuracy benchmark's eyes under Wine: a low-level keyboard hook that
// writes every key event, with the event's own time, to a file. From it the
// benchmark learns when the real keys went down and up (the times the key
// listener dates its presses with) and when a launcher's dispatch sent its
// key (an injected event), all on one clock.
//
// usage: key_watch.exe FILE SECONDS
//   Each line: EVENT_TIME SEEN_TIME VK d|u h|i (hardware or injected), in
//   GetTickCount milliseconds; first "ready TIME" once the hook is in place.
//   It ends after SECONDS, and on WM_QUIT.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HANDLE out = INVALID_HANDLE_VALUE;

void Write(const char* text, int length) {
  DWORD written = 0;
  if (length > 0) ::WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr);
}

LRESULT CALLBACK Hook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION) {
    const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lparam);
    const bool up = (event->flags & LLKHF_UP) != 0 || wparam == WM_KEYUP || wparam == WM_SYSKEYUP;
    char line[96];
    const int length = std::snprintf(line, sizeof line, "%lu %lu %lu %c %c\n", event->time, ::GetTickCount(),
                                     event->vkCode, up ? 'u' : 'd', (event->flags & LLKHF_INJECTED) ? 'i' : 'h');
    Write(line, length);
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (args == nullptr || count != 3) {
    std::fprintf(stderr, "usage: key_watch.exe FILE SECONDS\n");
    return 2;
  }
  const unsigned long seconds = std::wcstoul(args[2], nullptr, 10);
  if (seconds == 0 || seconds > 86400) {
    std::fprintf(stderr, "key_watch: SECONDS runs from 1 to 86400\n");
    return 2;
  }
  out = ::CreateFileW(args[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "key_watch: cannot write %ls (error %lu)\n", args[1], ::GetLastError());
    return 1;
  }
  HHOOK hook = ::SetWindowsHookExW(WH_KEYBOARD_LL, Hook, ::GetModuleHandleW(nullptr), 0);
  if (hook == nullptr) {
    std::fprintf(stderr, "key_watch: no keyboard hook (error %lu)\n", ::GetLastError());
    return 1;
  }
  char line[48];
  Write(line, std::snprintf(line, sizeof line, "ready %lu\n", ::GetTickCount()));
  // Bounded: a benchmark that dies leaves no watcher behind for long.
  ::SetTimer(nullptr, 0, seconds * 1000, nullptr);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) break;
    ::DispatchMessageW(&message);
  }
  ::UnhookWindowsHookEx(hook);
  ::CloseHandle(out);
  return 0;
}
