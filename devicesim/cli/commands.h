// The subcommands of devicesim and what they share.
//
// A command is one entry of the table in commands.cpp. Its run function gets
// the arguments after the command's name (global options already taken off,
// the device folder already chosen) and returns the process's exit status.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devicesim {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // no such key, no device, unreadable file, ...
constexpr int kExitUsage = 2;    // the command line itself is wrong

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;  // one line for `devicesim --help`
  const char* help;     // the full text for `devicesim NAME --help`
  int (*run)(const Args& args);
};

// Every command, in the order `devicesim --help` lists them.
const std::vector<const Command*>& AllCommands();
const Command* FindCommand(std::string_view name);

// One object per command, each defined in its own cmd_*.cpp.
extern const Command kInitCommand;
extern const Command kDisplayCommand;
extern const Command kInstallCommand;
extern const Command kRegCommand;
extern const Command kShortcutCommand;
extern const Command kPathCommand;
extern const Command kJournalCommand;
extern const Command kStateCommand;
extern const Command kPressCommand;
extern const Command kSeriesCommand;
extern const Command kButtonsCommand;
extern const Command kRunCommand;
extern const Command kUiCommand;
extern const Command kServeCommand;
extern const Command kTrayCommand;

// ---- Command-line parsing ---------------------------------------------------
struct OptionSpec {
  const char* name;  // with its dashes: "--force"
  bool takes_value;
};

// Options (in either "--name value" or "--name=value" form) and positional
// arguments, in the order given. "--" ends the options.
struct ParsedArgs {
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> positional;
  bool help = false;

  bool Has(std::string_view name) const;
  int Count(std::string_view name) const;
  // The last value given for the option, or `fallback`.
  std::string Value(std::string_view name, const std::string& fallback = {}) const;
};

// False with a message in *error for an unknown option or a missing value.
bool ParseArgs(const Args& args, const std::vector<OptionSpec>& specs, ParsedArgs* out,
               std::string* error);

// Parses the arguments, and handles --help and parse errors: returns -1 when
// the command should go on, else the exit status to end with.
int ParseCommandArgs(const Command& command, const Args& args,
                     const std::vector<OptionSpec>& specs, ParsedArgs* out);

// "devicesim NAME: message" and a pointer to --help on stderr; returns 2.
int UsageError(const Command& command, const std::string& message);
// "devicesim NAME: message" on stderr; returns 1.
int Failure(const Command& command, const std::string& message);
// "devicesim NAME: what: error N (meaning)" with the platform's last error
// on stderr; returns 1. For a device that could not be read or written.
int DeviceFailure(const Command& command, const std::string& what);
// Fails (message, false) when the chosen folder holds no device, or one that
// cannot be read.
bool RequireDevice(const Command& command);

// A whole decimal (or 0x-prefixed hexadecimal) number in [min, max].
bool ParseNumber(const std::string& text, long long min, long long max, long long* value);

// Checks a device path given on the command line or read from the device:
// absolute, and without ".." components that would leave the device folder.
bool CheckDevicePath(const std::u16string& path, std::string* error);

}  // namespace devicesim
