// devicesim ui: see and act on the screen of the program that runs with a
// window on the device, as a person would.
#include <climits>
#include <cstdio>
#include <string>

#include "devicesim/cli/commands.h"
#include "devicesim/shell/ui_client.h"
#include "platform/host/device/device.h"
#include "platform/host/ui/channel.h"
#include "platform/person.h"

namespace devicesim {
namespace {

const char kIntroduction[] =
    "usage: devicesim ui ACTION [ARGS...] [--json] [--lines|--no-lines] [--quiet]\n"
    "                   [--timeout MS] [--pid PID]\n"
    "\n"
    "Sees and acts on the screen of the program that runs with a window on the\n"
    "device (tapdeck), as a person would. An action sends what the person's action\n"
    "sends (a selection gives the page its selection-changed command, a click\n"
    "toggles a check box and then notifies), waits until the program waits for\n"
    "input again (also when the action opened a dialog or a message box, which\n"
    "then shows on the screen) and prints the screen. Hidden and disabled\n"
    "controls, pages behind the one in front and missing lines refuse the action.\n"
    "\n"
    "Actions:\n"
    "  show                print the screen: the page set's tabs (the one in front\n"
    "                      in brackets), each control of the page or dialog in front\n"
    "                      (id, kind, text, hidden/disabled, check state, trackbar\n"
    "                      range and position, lines and the selected one with its\n"
    "                      item code), and a message box or file-open dialog over it\n";

const char kOptions[] =
    "\n"
    "Numbers may be negative (select 1012 -1 looks for a line of that text; slide\n"
    "1033 -5 drags the thumb to its left end).\n"
    "\n"
    "Options:\n"
    "  --json         the screen as one JSON object: every window in front of the\n"
    "                 other, every control with its template position and size in\n"
    "                 dialog units, every line with its item code\n"
    "  --lines        also list the lines of combo boxes (left out by default: a\n"
    "                 catalogue holds thousands)\n"
    "  --no-lines     leave the lines of combo boxes out of --json\n"
    "  --text         select: LINE is a line's text even when it is a number\n"
    "  --quiet        print nothing when the action succeeds\n"
    "  --timeout MS   how long to wait for the program (default 10000)\n"
    "  --pid PID      the program with this process id, when several show windows\n"
    "\n"
    "Exit status: 0 done (also when the action ended the program, which is said);\n"
    "1 no program shows a window, the action was refused, or the program did not\n"
    "wait for input again in time; 2 usage error.\n";

// "select ID LINE": the verb and the words its arguments are given by.
std::string Usage(const plat::person::ActionSpec& spec) {
  std::string usage = spec.verb;
  for (plat::person::ActionArg arg : spec.args)
    if (arg != plat::person::ActionArg::kNone) usage += std::string(" ") + plat::person::ArgWord(arg);
  return usage;
}

// The action table's rows, each as "  USAGE  HELP", the help wrapped at 80.
std::string ActionsHelp() {
  constexpr size_t kIndent = 22, kWidth = 80;
  std::string out;
  for (const plat::person::ActionSpec& spec : plat::person::kActionSpecs) {
    std::string line = "  " + Usage(spec);
    line += line.size() < kIndent ? std::string(kIndent - line.size(), ' ') : "\n" + std::string(kIndent, ' ');
    size_t column = line.size() - line.rfind('\n') - 1;
    const std::string help = spec.help;
    size_t start = 0;
    while (start < help.size()) {
      size_t end = help.find(' ', start);
      if (end == std::string::npos) end = help.size();
      const std::string word = help.substr(start, end - start);
      if (column > kIndent && column + 1 + word.size() > kWidth) {
        line += "\n" + std::string(kIndent, ' ');
        column = kIndent;
      } else if (column > kIndent) {
        line += ' ';
        ++column;
      }
      line += word;
      column += word.size();
      start = end + 1;
    }
    out += line + "\n";
  }
  return out;
}

const char* Help() {
  static const std::string help = std::string(kIntroduction) + ActionsHelp() + kOptions;
  return help.c_str();
}

int Run(const Args& args);

}  // namespace

const Command kUiCommand = {"ui", "see and act on the running program's screen", Help(), Run};

namespace {

// A whole decimal number that fits an int, with an optional '-'.
bool ParseInt(const std::string& text, int* value) {
  long long number = 0;
  const bool decimal = !text.empty() && text.find_first_not_of("-0123456789") == std::string::npos;
  if (!decimal || !ParseNumber(text, INT_MIN, INT_MAX, &number)) return false;
  *value = static_cast<int>(number);
  return true;
}

// The request for the action named on the command line; -1 when it is
// well formed, else the usage error's status.
int BuildRequest(const ParsedArgs& parsed, device::channel::Request* request) {
  using plat::person::ActionArg;
  const std::vector<std::string>& words = parsed.positional;
  if (words.empty()) return UsageError(kUiCommand, "which action? (show, " + plat::person::AllVerbs() + ")");
  const std::string& verb = words[0];
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  if (verb == device::channel::kShowVerb) {
    if (!rest.empty()) return UsageError(kUiCommand, "usage: devicesim ui show");
    request->verb = verb;
  } else {
    const plat::person::ActionSpec* spec = plat::person::FindAction(verb);
    if (spec == nullptr) return UsageError(kUiCommand, "unknown action '" + verb + "'");
    size_t wanted = 0;
    for (ActionArg arg : spec->args) wanted += arg != ActionArg::kNone ? 1 : 0;
    if (rest.size() != wanted) return UsageError(kUiCommand, "usage: devicesim ui " + Usage(*spec));
    plat::person::Action action;
    action.kind = spec->kind;
    for (size_t i = 0; i < wanted; ++i) {
      const std::string& word = rest[i];
      switch (spec->args[i]) {
        case ActionArg::kNone: break;
        case ActionArg::kControl:
          if (!ParseInt(word, &action.control))
            return UsageError(kUiCommand, "'" + word + "' is not a control id (a number such as 1013)");
          break;
        case ActionArg::kLine:
          // A line number counts from 0; anything else is a line's text.
          if (parsed.Has("--text") || !ParseInt(word, &action.line) || action.line < 0) {
            action.line = -1;
            action.text = device::FromUtf8(word);
          }
          break;
        case ActionArg::kPosition:
          if (!ParseInt(word, &action.position))
            return UsageError(kUiCommand, "'" + word + "' is not a position (a whole number)");
          break;
        case ActionArg::kTitle:
        case ActionArg::kPath:
        case ActionArg::kText: action.text = device::FromUtf8(word); break;
      }
    }
    device::channel::SetAction(action, request);
  }
  bool lines = false;
  if (const plat::person::ActionSpec* spec = plat::person::FindAction(verb))
    for (ActionArg arg : spec->args) lines = lines || arg == ActionArg::kLine;
  if (parsed.Has("--text") && !lines) return UsageError(kUiCommand, "--text goes with an action that takes a LINE");
  return -1;
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int Run(const Args& args) {
  ParsedArgs parsed;
  int status = ParseCommandArgs(kUiCommand, args,
                                {{"--json", false}, {"--lines", false}, {"--no-lines", false},
                                 {"--text", false}, {"--quiet", false},
                                 {"--timeout", true}, {"--pid", true}},
                                &parsed);
  if (status >= 0) return status;
  device::channel::Request request;
  if ((status = BuildRequest(parsed, &request)) >= 0) return status;
  if (parsed.Has("--lines") && parsed.Has("--no-lines"))
    return UsageError(kUiCommand, "--lines and --no-lines exclude each other");
  long long timeout = ui::kDefaultTimeoutMs, pid = 0;
  if (parsed.Has("--timeout") && !ParseNumber(parsed.Value("--timeout"), 1, 3600000, &timeout))
    return UsageError(kUiCommand, "--timeout takes milliseconds from 1 to 3600000");
  if (parsed.Has("--pid") && !ParseNumber(parsed.Value("--pid"), 1, 1LL << 31, &pid))
    return UsageError(kUiCommand, "--pid takes a process id");
  const bool acting = request.verb != device::channel::kShowVerb;
  bool quiet = parsed.Has("--quiet") && acting;
  using device::channel::Format;
  if (quiet) {
    request.format = Format::kNone;
  } else if (parsed.Has("--json")) {
    request.format = parsed.Has("--no-lines") ? Format::kJsonBrief : Format::kJson;
  } else {
    request.format = parsed.Has("--lines") ? Format::kTextLines : Format::kText;
  }
  if (!RequireDevice(kUiCommand)) return kExitFailure;

  device::WindowRecord program;
  std::string error;
  if (!ui::FindProgram(pid, &program, &error)) return Failure(kUiCommand, error);
  std::string name = ui::ProgramName(program);  // while /proc still knows it
  ui::Outcome outcome = ui::Send(program, request, timeout);
  switch (outcome.kind) {
    case ui::Outcome::kReplied: break;
    case ui::Outcome::kTimedOut:
      return Failure(kUiCommand, outcome.message + (acting ? " (it was busy; the action may still happen)" : ""));
    case ui::Outcome::kLost:
    case ui::Outcome::kFailed: return Failure(kUiCommand, outcome.message);
  }
  const device::channel::Reply& reply = outcome.reply;
  switch (reply.status) {
    case device::channel::Status::kOk:
      Print(reply.screen);
      return kExitOk;
    case device::channel::Status::kRefused:
    case device::channel::Status::kError: return Failure(kUiCommand, reply.message);
    case device::channel::Status::kEnded: {
      std::string ended = name + " ended" +
                          (reply.exit_code >= 0 ? " with exit code " + std::to_string(reply.exit_code) : "");
      if (!acting) return Failure(kUiCommand, ended + " before it showed its screen");
      if (!quiet) Print(ended + "\n");
      return kExitOk;
    }
  }
  return kExitFailure;
}

}  // namespace
}  // namespace devicesim
