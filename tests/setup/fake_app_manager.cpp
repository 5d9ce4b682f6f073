// Stands in for the desktop's application manager: records the command line
// it was started with beside itself, then takes a second to "install".
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  char path[MAX_PATH + 32] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) return 2;
  std::strcpy(slash + 1, "recorded.txt");
  FILE* record = std::fopen(path, "wb");
  if (record == nullptr) return 3;
  std::fputs(GetCommandLineA(), record);
  std::fclose(record);
  Sleep(1000);
  return 0;
}
