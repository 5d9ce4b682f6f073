// Text rules that both backends share: UTF-8 for files, the device's
// shortcut form and how the shell reads a command. Private to platform/.
#pragma once

#include <string>

namespace plat::common {

// Lone surrogates become U+FFFD; malformed UTF-8 bytes become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& bytes);

// The device's shortcut form: decimal digits, '#', the target command. The
// count is not trusted (hand-made shortcuts often miscount); the target is
// the rest of the first line. False when the bytes are not in that form or
// the target is blank.
bool ParseShortcutText(const std::string& bytes, std::u16string* command);

// Splits a command into its program and arguments as the shell reads it: a
// quoted first token is the program; unquoted, the shortest part ending at a
// blank that names an existing file, else everything up to the first blank.
void SplitCommand(const std::u16string& command, std::u16string* program, std::u16string* args);

}  // namespace plat::common
