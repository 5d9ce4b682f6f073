// Text rules that both backends share: UTF-8 for files, the device's
// shortcut form and how the shell reads a command. Private to platform/.
#pragma once

#include <string>

namespace plat::common {

// UTF-8 for files: lone surrogates become U+FFFD; malformed UTF-8 bytes
// become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& bytes);
// Generalized UTF-8 (WTF-8), for names that must come back exactly: valid
// text gives the same bytes as UTF-8, and an unpaired surrogate keeps its own
// 3-byte form (U+D800 is ED A0 80), so every UTF-16 text round-trips. The
// decoder also reads plain UTF-8; other malformed bytes become U+FFFD.
std::string Utf16ToWtf8(const std::u16string& text);
std::u16string Wtf8ToUtf16(const std::string& bytes);

// The device's shortcut form: decimal digits, '#', the target command. The
// count is not trusted (hand-made shortcuts often miscount); the target is
// the rest of the first line. False when the bytes are not in that form or
// the target is blank.
bool ParseShortcutText(const std::string& bytes, std::u16string* command);

// Splits a command into its program and arguments as the shell reads it: a
// quoted first token is the program; unquoted, the shortest part ending at a
// blank that names an existing file, else everything up to the first blank.
void SplitCommand(const std::u16string& command, std::u16string* program, std::u16string* args);

// A text as one shown line: a control character becomes a blank, and it is
// cut at `limit` characters, never between the two halves of a character.
std::u16string OneLine(const std::u16string& text, size_t limit);

// A sign-in entry's name: 1 to 64 characters, none of them \ / : * ? " < > |
// or a control character, so that it is a file name on the device and a
// value name on a PC alike.
bool IsSignInName(const std::u16string& name);

}  // namespace plat::common
