// The window system's channel: how another process (devicesim ui) reaches a
// running program's screen on the emulated device.
//
// The program that makes a main window listens on a Unix socket in the
// abstract namespace (ChannelName) and registers it with the window
// (device::RegisterWindow). One request per connection: the client writes
// NUL-terminated UTF-8 fields and shuts its writing side; the program answers
// when it next waits for input (or when it ends) with one header line and
// the screen, and closes the connection.
//
// Request fields: kMagic, the deadline, the format, the verb, the verb's
// arguments: kShowVerb alone, or a person's action (platform/person.h) with
// its arguments in table order, each one field, except LINE, which is two:
// the line number (empty to select by text) and the line's text.
// Reply header: "ok", "refused REASON", "ended CODE" (-1: unknown) or
// "error REASON"; the screen follows the header's newline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/person.h"

namespace device::channel {

constexpr char kMagic[] = "qk-ui 1";
// The one request that is not a person's action: the screen, as it is.
constexpr char kShowVerb[] = "show";
// Requests carry a path or a line's text at most; anything longer is refused.
constexpr size_t kMaxRequestBytes = 64 * 1024;

enum class Format {
  kNone,       // the header only
  kText,       // for people; combo box lines left out
  kTextLines,  // for people, every line
  kJson,       // everything
  kJsonBrief,  // everything but the lines of combo boxes (count and selection stay)
};

struct Request {
  Format format = Format::kText;
  // After this MonotonicMs() the client has given up: the program must not
  // act on the request any more. 0: no limit.
  int64_t deadline_ms = 0;
  std::string verb;
  std::vector<std::string> args;
};

enum class Status { kOk, kRefused, kEnded, kError };

struct Reply {
  Status status = Status::kOk;
  std::string message;  // kRefused, kError
  int exit_code = -1;   // kEnded; -1 when not known
  std::string screen;
};

// A person's action as a request's verb and arguments, and back. False with
// the reason when the arguments do not fit the action (the wrong count, a
// number that is none).
void SetAction(const plat::person::Action& action, Request* request);
bool GetAction(const Request& request, plat::person::Action* action, std::string* error);

std::string EncodeRequest(const Request& request);
bool DecodeRequest(const std::string& bytes, Request* request);
std::string EncodeReply(const Reply& reply);
bool DecodeReply(const std::string& bytes, Reply* reply);

// CLOCK_MONOTONIC in milliseconds: one clock for every process of the machine.
int64_t MonotonicMs();
// The abstract socket name of a process's channel (without the zero byte).
std::string ChannelName(int64_t pid, int64_t start_time);

}  // namespace device::channel
