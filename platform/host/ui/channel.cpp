// Encoding of the window system's channel messages.
#include "platform/host/ui/channel.h"

#include <time.h>

#include <cerrno>
#include <cstdlib>

#include "platform/host/device/device.h"

namespace device::channel {
namespace {

const char* const kFormatNames[] = {"none", "text", "text-lines", "json", "json-brief"};

bool ParseInt(const std::string& text, int64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
  *value = parsed;
  return true;
}

// A header line holds no line break of its own.
std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return line;
}

// A whole decimal number that fits an int.
bool ParseId(const std::string& text, int* value) {
  if (text.empty() || text.size() > 11) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
  if (parsed < -2147483647LL - 1 || parsed > 2147483647LL) return false;
  *value = static_cast<int>(parsed);
  return true;
}

}  // namespace

void SetAction(const plat::person::Action& action, Request* request) {
  using plat::person::ActionArg;
  const plat::person::ActionSpec& spec = plat::person::SpecOf(action.kind);
  request->verb = spec.verb;
  request->args.clear();
  for (ActionArg arg : spec.args) {
    switch (arg) {
      case ActionArg::kNone: break;
      case ActionArg::kControl: request->args.push_back(std::to_string(action.control)); break;
      case ActionArg::kLine:
        request->args.push_back(action.line >= 0 ? std::to_string(action.line) : std::string());
        request->args.push_back(action.line >= 0 ? std::string() : ToUtf8(action.text));
        break;
      case ActionArg::kPosition: request->args.push_back(std::to_string(action.position)); break;
      case ActionArg::kTitle:
      case ActionArg::kPath:
      case ActionArg::kText: request->args.push_back(ToUtf8(action.text)); break;
    }
  }
}

bool GetAction(const Request& request, plat::person::Action* action, std::string* error) {
  using plat::person::ActionArg;
  const plat::person::ActionSpec* spec = plat::person::FindAction(request.verb);
  if (spec == nullptr) {
    *error = "unknown request '" + request.verb + "'";
    return false;
  }
  size_t wanted = 0;
  for (ActionArg arg : spec->args) wanted += arg == ActionArg::kNone ? 0 : arg == ActionArg::kLine ? 2 : 1;
  if (request.args.size() != wanted) {
    *error = "'" + request.verb + "' takes " + std::to_string(wanted) + " arguments";
    return false;
  }
  plat::person::Action decoded;
  decoded.kind = spec->kind;
  size_t next = 0;
  for (ActionArg arg : spec->args) {
    switch (arg) {
      case ActionArg::kNone: break;
      case ActionArg::kControl:
        if (!ParseId(request.args[next], &decoded.control)) {
          *error = "'" + request.args[next] + "' is not a control id";
          return false;
        }
        ++next;
        break;
      case ActionArg::kLine: {
        const std::string& number = request.args[next];
        if (!number.empty() && (!ParseId(number, &decoded.line) || decoded.line < 0)) {
          *error = "'" + number + "' is not a line number";
          return false;
        }
        if (number.empty()) decoded.text = FromUtf8(request.args[next + 1]);
        next += 2;
        break;
      }
      case ActionArg::kPosition:
        if (!ParseId(request.args[next], &decoded.position)) {
          *error = "'" + request.args[next] + "' is not a position";
          return false;
        }
        ++next;
        break;
      case ActionArg::kTitle:
      case ActionArg::kPath:
      case ActionArg::kText: decoded.text = FromUtf8(request.args[next++]); break;
    }
  }
  *action = std::move(decoded);
  return true;
}

std::string EncodeRequest(const Request& request) {
  std::string bytes;
  auto field = [&bytes](const std::string& text) {
    bytes += text;
    bytes += '\0';
  };
  field(kMagic);
  field(std::to_string(request.deadline_ms));
  field(kFormatNames[static_cast<int>(request.format)]);
  field(request.verb);
  for (const std::string& arg : request.args) field(arg);
  return bytes;
}

bool DecodeRequest(const std::string& bytes, Request* request) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\0', start);
    if (end == std::string::npos) return false;  // a field without its terminator: cut off
    fields.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() < 4 || fields[0] != kMagic) return false;
  Request decoded;
  if (!ParseInt(fields[1], &decoded.deadline_ms)) return false;
  bool known = false;
  for (int i = 0; i < 5; ++i) {
    if (fields[2] == kFormatNames[i]) {
      decoded.format = static_cast<Format>(i);
      known = true;
    }
  }
  if (!known || fields[3].empty()) return false;
  decoded.verb = fields[3];
  decoded.args.assign(fields.begin() + 4, fields.end());
  *request = std::move(decoded);
  return true;
}

std::string EncodeReply(const Reply& reply) {
  std::string header;
  switch (reply.status) {
    case Status::kOk: header = "ok"; break;
    case Status::kRefused: header = "refused " + OneLine(reply.message); break;
    case Status::kEnded: header = "ended " + std::to_string(reply.exit_code); break;
    case Status::kError: header = "error " + OneLine(reply.message); break;
  }
  return header + "\n" + reply.screen;
}

bool DecodeReply(const std::string& bytes, Reply* reply) {
  size_t newline = bytes.find('\n');
  if (newline == std::string::npos) return false;
  std::string header = bytes.substr(0, newline);
  size_t blank = header.find(' ');
  std::string word = header.substr(0, blank);
  std::string rest = blank == std::string::npos ? std::string() : header.substr(blank + 1);
  Reply decoded;
  decoded.screen = bytes.substr(newline + 1);
  if (word == "ok" && blank == std::string::npos) {
    decoded.status = Status::kOk;
  } else if (word == "refused") {
    decoded.status = Status::kRefused;
    decoded.message = rest;
  } else if (word == "error") {
    decoded.status = Status::kError;
    decoded.message = rest;
  } else if (word == "ended") {
    int64_t code = 0;
    if (!ParseInt(rest, &code)) return false;
    decoded.status = Status::kEnded;
    decoded.exit_code = static_cast<int>(code);
  } else {
    return false;
  }
  *reply = std::move(decoded);
  return true;
}

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string ChannelName(int64_t pid, int64_t start_time) {
  return "quadrakey-ui/" + std::to_string(pid) + "/" + std::to_string(start_time);
}

}  // namespace device::channel
