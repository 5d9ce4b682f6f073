// Text utilities and paths in the application folder. The special actions
// have their own header, shared/special_actions.h.
#pragma once

#include <cstdint>
#include <string>

// The folder of the programs: where the platform knows it itself (on a PC,
// the running program's own), else as the product's "AppFolder" value
// names it (the device). False, with the last error, when neither says;
// a missing value fails with kErrorFileNotFound.
bool ReadAppFolder(std::u16string& folder);
// The path of `file_name` in that folder; the file name alone when there is
// none. The result lives in one module-owned string that the next call of
// any of the three builders overwrites.
const std::u16string& GetAppFolderPath(const std::u16string& file_name);
// The path of the log `file_name`: in the platform's folder for logs (on a
// PC, the user's local application data), else in the application folder.
const std::u16string& GetLogFilePath(const std::u16string& file_name);
// The application-folder path of "TapdeckA.lnk" with the letter 'A' + button.
const std::u16string& GetTakeoverShortcutPath(uint32_t button);

// Name without its extension, and the extension without its dot.
void SplitPath(const std::u16string& path, std::u16string& name, std::u16string& extension);
void MakeLower(std::u16string& text);
// Each byte becomes one code unit by sign extension (0x80 -> 0xFF80).
void WidenText(std::u16string& out, const char* narrow);
bool FileExists(const std::u16string& path);

// A number as the device writes it: decimal, '-' when negative.
std::u16string DecimalText(int64_t value);

// A person's text as one line of at most `limit` characters: what would
// break the line or draw nothing becomes a blank, blanks around it go, and
// a cut text ends in "…" without splitting a character in two.
std::u16string OneLineText(const std::u16string& text, size_t limit);

// The runtime's wide-text-to-long conversion: white space, a sign, decimal
// digits up to the first other character; no digits give 0; out-of-range
// values clamp to the 32-bit limits.
int32_t TextToLong(const std::u16string& text);

// Ends the program as the system does when memory runs out: the message
// "out of memory", then exit code 1. Installed as the allocation failure
// handler by DeviceStartUp, before the program's entry point runs.
[[noreturn]] void OutOfMemory();
// Prepares the message and installs OutOfMemory as the handler; may run again.
void InstallOutOfMemoryHandler();
