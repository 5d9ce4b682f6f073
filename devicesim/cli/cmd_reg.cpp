// devicesim reg: read and change the device's registry, and move it to and
// from registry editor files.
#include <cerrno>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "devicesim/cli/commands.h"
#include "devicesim/cli/regfile.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kHelp[] =
    "usage: devicesim reg get KEY [NAME]\n"
    "       devicesim reg set KEY NAME (--sz TEXT | --dword N | --binary HEX)\n"
    "       devicesim reg delete KEY [NAME]\n"
    "       devicesim reg export [--utf16] [KEY]\n"
    "       devicesim reg import FILE|-\n"
    "\n"
    "KEY is HKLM\\path or HKEY_LOCAL_MACHINE\\path, HKCR\\path or HKEY_CLASSES_ROOT\\path\n"
    "(quote it for the shell). NAME '@' is the key's default value.\n"
    "\n"
    "  get      with NAME, print the value's data: a text as it is, a dword in\n"
    "           decimal, binary data as hex bytes (01,02,...). Without NAME, print\n"
    "           the key's values in registry-file form and its subkeys.\n"
    "  set      write a value, creating the key when missing. --dword takes decimal\n"
    "           or 0x-prefixed hex; --binary takes hex bytes, e.g. 01,02,ff or 0102ff.\n"
    "  delete   delete the value NAME, or without NAME the key with all it holds.\n"
    "  export   write KEY and everything below it (without KEY: all of HKLM and\n"
    "           HKCR) to standard output as a registry editor file\n"
    "           (\"Windows Registry Editor Version 5.00\"), in UTF-8. With --utf16,\n"
    "           in UTF-16LE with a byte order mark and CRLF line ends, as the\n"
    "           registry editor writes it: the form that holds any name exactly.\n"
    "           (In UTF-8, a name holding an unpaired surrogate is written in its\n"
    "           3-byte generalized form, which import reads back.)\n"
    "  import   apply a registry editor file (UTF-8 with or without BOM, or UTF-16LE;\n"
    "           LF or CRLF; [-KEY] and \"name\"=- delete). The whole file is checked\n"
    "           first and applied in one transaction: a bad file changes nothing.\n"
    "           hex(N) data is accepted for the device's types REG_SZ (1), REG_BINARY\n"
    "           (3) and REG_DWORD (4); other types (hex(2), hex(7), ...) are refused.\n"
    "\n"
    "Exit status: 0 done, 1 no such key or value, bad file, or the device refused,\n"
    "2 usage error.\n";

int Run(const Args& args);

}  // namespace

const Command kRegCommand = {"reg", "read, write, export and import the device's registry", kHelp,
                             Run};

namespace {

const Command& Self() { return kRegCommand; }

std::u16string ValueName(const std::string& text) {
  return text == "@" ? std::u16string() : device::FromUtf8(text);
}

std::string ErrorText(uint32_t code) { return device::ErrorText(code); }

// False with error 2 when there is no such value, another when the key
// cannot be read.
bool FindValue(plat::RegRoot root, const std::u16string& path, const std::u16string& name,
               device::RegValue* found) {
  std::vector<device::RegValue> values;
  if (!device::ListValues(root, path, &values)) return false;
  for (const device::RegValue& value : values) {
    if (plat::CompareNoCase(value.name, name) == 0) {
      *found = value;
      return true;
    }
  }
  plat::SetLastError(plat::kErrorFileNotFound);
  return false;
}

// The failure for a key or value that could not be read: "no such" only
// when it is really missing.
int ReadFailure(const std::string& missing, const std::string& where) {
  if (plat::GetLastError() == plat::kErrorFileNotFound) return Failure(Self(), missing);
  return DeviceFailure(Self(), "cannot read " + where);
}

bool WriteOut(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) return false;
  return std::fflush(stdout) == 0;
}

bool KeyArgument(const std::string& text, plat::RegRoot* root, std::u16string* path, int* status) {
  std::string error;
  if (!ParseKeyName(text, root, path, &error)) {
    *status = UsageError(Self(), error);
    return false;
  }
  return true;
}

// KEY (positional 1) of `get` and `delete`, which must name an existing key.
bool ExistingKeyArgument(const ParsedArgs& parsed, plat::RegRoot* root, std::u16string* path,
                         int* status) {
  if (!KeyArgument(parsed.positional[1], root, path, status)) return false;
  if (device::KeyExists(*root, *path)) return true;
  *status = ReadFailure("no such key: " + FullKeyName(*root, *path), FullKeyName(*root, *path));
  return false;
}

int Get(const ParsedArgs& parsed) {
  if (parsed.positional.size() < 2 || parsed.positional.size() > 3)
    return UsageError(Self(), "get takes KEY and an optional NAME");
  plat::RegRoot root;
  std::u16string path;
  int status = 0;
  if (!ExistingKeyArgument(parsed, &root, &path, &status)) return status;
  if (parsed.positional.size() == 3) {
    device::RegValue value;
    if (!FindValue(root, path, ValueName(parsed.positional[2]), &value))
      return ReadFailure("no value '" + parsed.positional[2] + "' in " + FullKeyName(root, path),
                         FullKeyName(root, path));
    std::string out;
    if (value.type == plat::kRegSz) {
      out = device::ToUtf8(device::RegTextOf(value.data));
    } else if (value.type == plat::kRegDword && value.data.size() == 4) {
      uint32_t number = 0;
      for (int k = 3; k >= 0; --k) number = (number << 8) | static_cast<unsigned char>(value.data[k]);
      out = std::to_string(number);
    } else {
      for (size_t i = 0; i < value.data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02x", i ? "," : "", static_cast<unsigned char>(value.data[i]));
        out += byte;
      }
    }
    return WriteOut(out + "\n") ? kExitOk : Failure(Self(), "cannot write to standard output");
  }
  std::vector<device::RegValue> values;
  std::vector<std::u16string> subkeys;
  if (!device::ListValues(root, path, &values) || !device::ListSubkeys(root, path, &subkeys))
    return DeviceFailure(Self(), "cannot read " + FullKeyName(root, path));
  std::u16string stored;
  // The path as the registry spells it, whatever case the command line used.
  if (!device::StoredKeyPath(root, path, &stored)) stored = path;
  std::string out = FormatKeyLine(root, stored) + "\n";
  for (const device::RegValue& value : values) out += FormatValue(value) + "\n";
  for (const std::u16string& subkey : subkeys) out += "subkey: " + device::ToUtf8(subkey) + "\n";
  return WriteOut(out) ? kExitOk : Failure(Self(), "cannot write to standard output");
}

bool ParseHexBytes(const std::string& text, std::string* data) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2 != 0) return false;
  data->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    data->push_back(static_cast<char>(std::strtol(digits.substr(i, 2).c_str(), nullptr, 16)));
  }
  return true;
}

struct SetRun {
  plat::RegRoot root;
  std::u16string path;
  std::u16string name;
  uint32_t type;
  const std::string* data;
  std::string error;
};

bool SetValueInNewOrOldKey(void* context) {
  auto* run = static_cast<SetRun*>(context);
  plat::RegKey key = plat::RegCreateKey(run->root, run->path, plat::kKeySetValue);
  if (key == nullptr) {
    run->error = "cannot create " + FullKeyName(run->root, run->path) + " (" + ErrorText(plat::GetLastError()) + ")";
    return false;
  }
  bool ok = plat::RegSetValue(key, run->name, run->type, run->data->data(),
                              static_cast<uint32_t>(run->data->size()));
  uint32_t error = plat::GetLastError();
  plat::RegCloseKey(key);
  if (!ok) {
    run->error = "cannot set '" + device::ToUtf8(run->name.empty() ? u"@" : run->name) + "' (" + ErrorText(error) + ")";
    plat::SetLastError(error);
  }
  return ok;
}

int Set(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 3) return UsageError(Self(), "set takes KEY, NAME and a data option");
  int kinds = parsed.Count("--sz") + parsed.Count("--dword") + parsed.Count("--binary");
  if (kinds != 1) return UsageError(Self(), "set takes exactly one of --sz, --dword, --binary");
  plat::RegRoot root;
  std::u16string path;
  int status = 0;
  if (!KeyArgument(parsed.positional[1], &root, &path, &status)) return status;
  if (path.empty()) return UsageError(Self(), "values cannot be set on a root key");
  uint32_t type = 0;
  std::string data;
  if (parsed.Has("--sz")) {
    type = plat::kRegSz;
    data = device::RegTextData(device::FromUtf8(parsed.Value("--sz")));
  } else if (parsed.Has("--dword")) {
    long long number = 0;
    if (!ParseNumber(parsed.Value("--dword"), 0, 0xFFFFFFFFLL, &number))
      return UsageError(Self(), "--dword needs a number from 0 to 4294967295 (or 0x0 to 0xffffffff)");
    type = plat::kRegDword;
    for (int k = 0; k < 4; ++k) data += static_cast<char>((number >> (8 * k)) & 0xFF);
  } else {
    if (!ParseHexBytes(parsed.Value("--binary"), &data))
      return UsageError(Self(), "--binary needs hex bytes such as 01,02,ff");
    type = plat::kRegBinary;
  }
  SetRun run{root, path, ValueName(parsed.positional[2]), type, &data, {}};
  // A key made for a value that then cannot be written would stay behind.
  if (!device::Transaction(SetValueInNewOrOldKey, &run)) {
    if (run.error.empty())
      run.error = "cannot set '" + parsed.positional[2] + "' (" + ErrorText(plat::GetLastError()) + ")";
    return Failure(Self(), run.error);
  }
  return kExitOk;
}

int Delete(const ParsedArgs& parsed) {
  if (parsed.positional.size() < 2 || parsed.positional.size() > 3)
    return UsageError(Self(), "delete takes KEY and an optional NAME");
  plat::RegRoot root;
  std::u16string path;
  int status = 0;
  if (!ExistingKeyArgument(parsed, &root, &path, &status)) return status;
  if (parsed.positional.size() == 2) {
    if (path.empty()) return UsageError(Self(), "a whole root cannot be deleted");
    if (!plat::RegDeleteKey(root, path))
      return Failure(Self(), "cannot delete " + FullKeyName(root, path) + " (" + ErrorText(plat::GetLastError()) + ")");
    return kExitOk;
  }
  std::u16string name = ValueName(parsed.positional[2]);
  device::RegValue value;
  if (!FindValue(root, path, name, &value))
    return ReadFailure("no value '" + parsed.positional[2] + "' in " + FullKeyName(root, path),
                       FullKeyName(root, path));
  plat::RegKey key = plat::RegOpenKey(root, path, plat::kKeySetValue);
  bool ok = key != nullptr && plat::RegDeleteValue(key, name);
  uint32_t error = plat::GetLastError();
  if (key != nullptr) plat::RegCloseKey(key);
  if (!ok) return Failure(Self(), "cannot delete '" + parsed.positional[2] + "' (" + ErrorText(error) + ")");
  return kExitOk;
}

// The exported text as the registry editor saves it: UTF-16LE with a byte
// order mark, CRLF line ends.
std::string Utf16File(const std::string& text) {
  std::u16string units;
  for (char16_t c : device::FromUtf8(text)) {
    if (c == u'\n') units += u'\r';
    units += c;
  }
  return "\xFF\xFE" + device::ToUtf16Le(units);
}

struct ExportRun {
  plat::RegRoot root;
  std::string* out;
};

bool ExportKey(const std::u16string& path, const std::vector<device::RegValue>& values,
               void* context) {
  const auto* run = static_cast<ExportRun*>(context);
  if (!path.empty() || !values.empty()) {
    *run->out += FormatKeyLine(run->root, path) + "\n";
    for (const device::RegValue& value : values) *run->out += FormatValue(value) + "\n";
    *run->out += "\n";
  }
  return true;
}

// The key and everything below it, keys named as the registry spells them.
bool ExportTree(plat::RegRoot root, const std::u16string& path, std::string* out) {
  ExportRun run{root, out};
  return device::VisitKeyTree(root, path, ExportKey, &run);
}

int Export(const ParsedArgs& parsed) {
  if (parsed.positional.size() > 2) return UsageError(Self(), "export takes at most one KEY");
  std::string out = std::string(kRegFileHeader) + "\n\n";
  const bool utf16 = parsed.Has("--utf16");
  if (parsed.positional.size() == 2) {
    plat::RegRoot root;
    std::u16string path;
    int status = 0;
    if (!KeyArgument(parsed.positional[1], &root, &path, &status)) return status;
    if (!device::KeyExists(root, path))
      return ReadFailure("no such key: " + FullKeyName(root, path), FullKeyName(root, path));
    if (!ExportTree(root, path, &out))
      return DeviceFailure(Self(), "cannot read " + FullKeyName(root, path));
  } else if (!ExportTree(plat::RegRoot::LocalMachine, u"", &out) ||
             !ExportTree(plat::RegRoot::ClassesRoot, u"", &out)) {
    return DeviceFailure(Self(), "cannot read the registry");
  }
  if (utf16) out = Utf16File(out);
  return WriteOut(out) ? kExitOk : Failure(Self(), "cannot write to standard output");
}

// What went wrong with one change of an import, in the words of the call
// that would have made it.
std::string ImportFailure(const RegOperation& op, const device::RegChangeFailure& failure) {
  const std::string where = ShownKeyName(op.root, op.path);
  const std::string name = "'" + ShownName(op.name) + "'";
  const std::string why = " (" + ErrorText(failure.error) + ")";
  switch (op.kind) {
    case RegOperation::kDeleteKey:
      return (failure.at_key ? "cannot read " : "cannot delete ") + where + why;
    case RegOperation::kCreateKey:
      return "cannot create " + where + why;
    case RegOperation::kSetValue:
      return failure.at_key ? "cannot create " + where + why : "cannot set " + name + " in " + where + why;
    case RegOperation::kDeleteValue:
      return failure.at_key ? "cannot open " + where + why : "cannot delete " + name + " in " + where + why;
  }
  return "cannot change " + where + why;
}

// The whole file, or standard input for "-". A folder or an unreadable
// file is a failure with the reason, never a crash.
bool ReadWhole(const std::string& file, std::string* bytes, std::string* reason) {
  FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    *reason = std::strerror(errno);
    return false;
  }
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes->append(buffer, got);
  bool ok = !std::ferror(in);
  if (!ok) *reason = std::strerror(errno);
  if (in != stdin) std::fclose(in);
  return ok;
}

int Import(const ParsedArgs& parsed) {
  if (parsed.positional.size() != 2) return UsageError(Self(), "import takes one FILE (or - for standard input)");
  const std::string& file = parsed.positional[1];
  std::string bytes;
  std::string reason;
  if (!ReadWhole(file, &bytes, &reason))
    return Failure(Self(), (file == "-" ? std::string("cannot read standard input") : "cannot read " + file) +
                               ": " + reason);
  std::vector<RegOperation> operations;
  std::string error;
  if (!ParseRegFile(bytes, &operations, &error))
    return Failure(Self(), (file == "-" ? std::string("standard input") : file) + ": " + error +
                               "; nothing was imported");
  device::RegChangeFailure failure;
  if (!device::ApplyRegChanges(operations, &failure)) {
    // Past the last change nothing of the file was at fault: the registry
    // refused to begin or to commit (a full disk, a read-only device), and
    // the user needs to know which.
    const std::string error =
        failure.index < operations.size()
            ? ImportFailure(operations[failure.index], failure)
            : "the device's registry refused the change (" + ErrorText(failure.error) + ")";
    return Failure(Self(), error + "; nothing was imported");
  }
  return kExitOk;
}

int Run(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(Self(), args,
                                {{"--sz", true}, {"--dword", true}, {"--binary", true}, {"--utf16", false}},
                                &parsed);
  if (status >= 0) return status;
  if (parsed.positional.empty()) return UsageError(Self(), "missing subcommand (get, set, delete, export or import)");
  const std::string& sub = parsed.positional[0];
  if (sub != "export" && parsed.Has("--utf16")) return UsageError(Self(), "--utf16 belongs to 'reg export'");
  if (sub != "set" && parsed.options.size() != static_cast<size_t>(parsed.Count("--utf16")))
    return UsageError(Self(), "--sz, --dword and --binary belong to 'reg set'");
  int (*run)(const ParsedArgs&) = sub == "get"      ? Get
                                  : sub == "set"    ? Set
                                  : sub == "delete" ? Delete
                                  : sub == "export" ? Export
                                  : sub == "import" ? Import
                                                    : nullptr;
  if (run == nullptr) return UsageError(Self(), "unknown subcommand '" + sub + "'");
  if (!RequireDevice(Self())) return kExitFailure;
  return run(parsed);
}

}  // namespace
}  // namespace devicesim
