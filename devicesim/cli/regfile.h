// The registry editor's text format (".reg" files), both directions, and the
// key names the command line takes. Pure text work: nothing here touches the
// device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "platform/platform.h"

namespace devicesim {

// "HKLM\Software\X", "HKEY_LOCAL_MACHINE\Software\X", "HKCR\.txt",
// "HKEY_CLASSES_ROOT" (the root itself: empty path). Root names ignore case.
// False with a message for another root or an empty path component.
bool ParseKeyName(const std::string& text, plat::RegRoot* root, std::u16string* path,
                  std::string* error);
// "HKEY_LOCAL_MACHINE\path" (or the root name alone for an empty path).
std::string FullKeyName(plat::RegRoot root, const std::u16string& path);

// ---- Writing ------------------------------------------------------------------
extern const char kRegFileHeader[];  // "Windows Registry Editor Version 5.00"

// "[HKEY_LOCAL_MACHINE\path]"
std::string FormatKeyLine(plat::RegRoot root, const std::u16string& path);
// One value as the editor writes it, without the line end: "name"="text",
// @="text", "n"=dword:0000012c, "n"=hex:01,02 (long data continued on further
// lines ending in '\'). Data that a plain form would not give back exactly
// (a text without its zero, a dword of another size) is written as hex(N).
std::string FormatValue(const device::RegValue& value);

// A key or value name as a message shows it: control characters as escapes
// (\0, \n, \r, \t, \x1b), so that a NUL does not end the message and no
// control character reaches the terminal.
std::string ShownName(const std::u16string& name);
// FullKeyName for a message: its names as ShownName shows them.
std::string ShownKeyName(plat::RegRoot root, const std::u16string& path);

// ---- Reading --------------------------------------------------------------------
using RegOperation = device::RegChange;

// Parses a whole file: UTF-8 with or without a byte order mark, or UTF-16LE
// with one; LF or CRLF; ';' and '#' comments. False with a message naming the
// line when any part of it is malformed; *operations is then unspecified.
bool ParseRegFile(const std::string& bytes, std::vector<RegOperation>* operations,
                  std::string* error);

}  // namespace devicesim
