// A program for the launcher to open: it writes "marker.txt" beside itself
// holding the text after its own path on its command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main() {
  wchar_t path[MAX_PATH + 16] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  wchar_t* slash = std::wcsrchr(path, L'\\');
  if (slash == nullptr) return 2;
  std::wcscpy(slash + 1, L"marker.txt");
  const wchar_t* line = GetCommandLineW();
  // Skip the program's own path, quoted or not, and the blanks after it.
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ') ++line;
  }
  while (*line == L' ') ++line;
  char text[4096] = {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, nullptr, nullptr);
  if (bytes <= 0) return 3;
  FILE* marker = _wfopen(path, L"wb");
  if (marker == nullptr) return 3;
  std::fwrite(text, 1, static_cast<size_t>(bytes - 1), marker);  // without the zero
  std::fclose(marker);
  return 0;
}
