// devicesim ui: see and act on the screen of the program that runs with a
// window on the device, as a person would.
#include <cstdio>

#include "devicesim/cli/commands.h"
#include "devicesim/shell/ui_client.h"
#include "platform/host/device/device.h"

namespace devicesim {
namespace {

const char kHelp[] =
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
    "                      item code), and a message box or file-open dialog over it\n"
    "  select ID LINE      select a line of list box or combo box ID; LINE is a\n"
    "                      line number, or the line's whole text in any letter case\n"
    "  click ID            click check box or button ID\n"
    "  slide ID POSITION   move trackbar ID to POSITION (it stops at its ends)\n"
    "  tab TITLE           bring the page set's page TITLE to the front\n"
    "  done                the Done button of the page set or the dialog in front\n"
    "  cancel              leave the page set or dialog in front without Done (with\n"
    "                      nothing open: close the program's main window)\n"
    "  answer              press OK on the message box in front\n"
    "  file PATH           choose the device file PATH in the file-open dialog\n"
    "  file --cancel       cancel the file-open dialog\n"
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

int Run(const Args& args);

}  // namespace

const Command kUiCommand = {"ui", "see and act on the running program's screen", kHelp, Run};

namespace {

bool IsNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool IsInteger(const std::string& text) {
  return !text.empty() && IsNumber(text[0] == '-' ? text.substr(1) : text);
}

// The request for the action named on the command line; -1 when it is
// well formed, else the usage error's status.
int BuildRequest(const ParsedArgs& parsed, device::channel::Request* request) {
  const std::vector<std::string>& words = parsed.positional;
  if (words.empty()) return UsageError(kUiCommand, "which action? (show, select, click, slide, tab, done, cancel, answer, file)");
  const std::string& verb = words[0];
  std::vector<std::string> rest(words.begin() + 1, words.end());
  auto count = [&](size_t wanted, const char* usage) {
    if (rest.size() == wanted) return -1;
    return UsageError(kUiCommand, std::string("usage: devicesim ui ") + usage);
  };
  auto id = [&](const std::string& text) {
    if (IsInteger(text)) return -1;
    return UsageError(kUiCommand, "'" + text + "' is not a control id (a number such as 1013)");
  };
  int status = -1;
  request->verb = verb;
  if (verb == "show" || verb == "done" || verb == "cancel" || verb == "answer") {
    status = count(0, verb.c_str());
  } else if (verb == "select") {
    if ((status = count(2, "select ID LINE")) >= 0 || (status = id(rest[0])) >= 0) return status;
    bool by_number = IsNumber(rest[1]) && !parsed.Has("--text");
    request->args = {rest[0], by_number ? rest[1] : "", by_number ? "" : rest[1]};
  } else if (verb == "click") {
    if ((status = count(1, "click ID")) >= 0 || (status = id(rest[0])) >= 0) return status;
    request->args = rest;
  } else if (verb == "slide") {
    if ((status = count(2, "slide ID POSITION")) >= 0 || (status = id(rest[0])) >= 0) return status;
    if (!IsInteger(rest[1])) return UsageError(kUiCommand, "'" + rest[1] + "' is not a position (a whole number)");
    request->args = rest;
  } else if (verb == "tab") {
    if ((status = count(1, "tab TITLE")) >= 0) return status;
    request->args = rest;
  } else if (verb == "file") {
    if (parsed.Has("--cancel")) {
      if ((status = count(0, "file --cancel")) >= 0) return status;
      request->verb = "cancel-file";
    } else {
      if ((status = count(1, "file PATH")) >= 0) return status;
      request->args = rest;
    }
  } else {
    return UsageError(kUiCommand, "unknown action '" + verb + "'");
  }
  if (status >= 0) return status;
  if (parsed.Has("--cancel") && verb != "file") return UsageError(kUiCommand, "--cancel goes with 'file'");
  if (parsed.Has("--text") && verb != "select") return UsageError(kUiCommand, "--text goes with 'select'");
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
                                 {"--text", false}, {"--quiet", false}, {"--cancel", false},
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
  bool quiet = parsed.Has("--quiet") && request.verb != "show";
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
  bool acting = request.verb != "show";
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
