#include "devicesim/cli/commands.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/host/device/device.h"

namespace devicesim {

const std::vector<const Command*>& AllCommands() {
  static const std::vector<const Command*> table = {
      &kInitCommand,
      &kDisplayCommand,
      &kInstallCommand,
      &kRegCommand,
      &kShortcutCommand,
      &kPathCommand,
      &kJournalCommand,
      &kStateCommand,
      &kPressCommand,
      &kSeriesCommand,
      &kButtonsCommand,
      &kRunCommand,
      &kUiCommand,
      &kTrayCommand,
      &kServeCommand,
  };
  return table;
}

const Command* FindCommand(std::string_view name) {
  for (const Command* command : AllCommands()) {
    if (name == command->name) return command;
  }
  return nullptr;
}

bool ParsedArgs::Has(std::string_view name) const { return Count(name) > 0; }

int ParsedArgs::Count(std::string_view name) const {
  int count = 0;
  for (const auto& option : options) count += option.first == name ? 1 : 0;
  return count;
}

std::string ParsedArgs::Value(std::string_view name, const std::string& fallback) const {
  std::string value = fallback;
  for (const auto& option : options) {
    if (option.first == name) value = option.second;
  }
  return value;
}

bool ParseArgs(const Args& args, const std::vector<OptionSpec>& specs, ParsedArgs* out,
               std::string* error) {
  *out = ParsedArgs{};
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "-" alone is a positional argument (standard input), and so is a
    // negative number: no option begins with a digit.
    if (options_ended || arg.size() < 2 || arg[0] != '-' || (arg[1] >= '0' && arg[1] <= '9')) {
      out->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      out->help = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool inline_value = false;
    size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      inline_value = true;
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (name == candidate.name) spec = &candidate;
    }
    if (spec == nullptr) {
      *error = "unknown option " + name;
      return false;
    }
    if (spec->takes_value && !inline_value) {
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (!spec->takes_value && inline_value) {
      *error = "option " + name + " takes no value";
      return false;
    }
    out->options.emplace_back(name, value);
  }
  return true;
}

int ParseCommandArgs(const Command& command, const Args& args,
                     const std::vector<OptionSpec>& specs, ParsedArgs* out) {
  std::string error;
  bool parsed = ParseArgs(args, specs, out, &error);
  // --help wins over any other mistake on the line.
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      std::fputs(command.help, stdout);
      return kExitOk;
    }
  }
  if (!parsed) return UsageError(command, error);
  return -1;
}

int UsageError(const Command& command, const std::string& message) {
  std::fprintf(stderr, "devicesim %s: %s\nTry 'devicesim %s --help'.\n", command.name,
               message.c_str(), command.name);
  return kExitUsage;
}

int Failure(const Command& command, const std::string& message) {
  std::fprintf(stderr, "devicesim %s: %s\n", command.name, message.c_str());
  return kExitFailure;
}

bool RequireDevice(const Command& command) {
  if (!device::Exists()) {
    Failure(command, "no device in " + device::Folder() + " (make one with 'devicesim init')");
    return false;
  }
  if (!device::Open()) {
    DeviceFailure(command, "cannot read the device in " + device::Folder());
    return false;
  }
  return true;
}

int DeviceFailure(const Command& command, const std::string& what) {
  return Failure(command, what + ": " + device::ErrorText(plat::GetLastError()));
}

bool ParseNumber(const std::string& text, long long min, long long max, long long* value) {
  if (text.empty()) return false;
  int base = 10;
  const char* start = text.c_str();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start += 2;
  }
  // strtoll would accept leading blanks and signs that a user did not mean.
  if (!(std::isxdigit(static_cast<unsigned char>(*start)) || *start == '-')) return false;
  if (base == 16 && *start == '-') return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(start, &end, base);
  if (errno != 0 || end == start || *end != '\0') return false;
  if (parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

bool CheckDevicePath(const std::u16string& path, std::string* error) {
  if (path.empty() || (path[0] != u'\\' && path[0] != u'/')) {
    *error = "a device path starts with '\\' (for example \\Windows\\x.lnk)";
    return false;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(u"\\/", start);
    if (end == std::u16string::npos) end = path.size();
    if (path.compare(start, end - start, u"..") == 0) {
      *error = "a device path may not contain '..'";
      return false;
    }
    if (path.find(u'\0') != std::u16string::npos) {
      *error = "a device path may not contain a zero character";
      return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace devicesim
