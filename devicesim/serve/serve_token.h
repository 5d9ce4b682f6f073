// The token that lets a browser page press and act on the device. It is kept
// in the device folder ("serve-token", readable by its owner only), so that
// a restarted server keeps it and an open page carries on; whoever can read
// the device folder could change the device anyway.
#pragma once

#include <string>

namespace devicesim::serve {

constexpr char kTokenFileName[] = "serve-token";

// A new token: 32 bytes from /dev/urandom in hex; empty when it cannot be read.
std::string NewToken();
// True for what NewToken makes: 64 lower-case hex digits.
bool IsToken(const std::string& text);

struct KeptToken {
  std::string token;
  // What a person should know: a new token was made because the old one was
  // unsafe or unreadable, or it cannot be kept and lasts for this run only.
  std::string note;
};

// The token kept in `folder`, made (and kept) when there is none or `renew`
// is set. A kept file that others may read, that is not a regular file of
// this user, or that holds no token is replaced by a new one, said in
// `note`. False with a message only when no token can be had at all.
bool KeepToken(const std::string& folder, bool renew, KeptToken* kept, std::string* error);

// A file in `folder`, readable by its owner only, that sends a browser on to
// `url`: --open hands the browser this file's path, so that the token never
// shows in a process list. False with a message when it cannot be written.
bool WriteOpener(const std::string& folder, const std::string& url, std::string* path, std::string* error);

}  // namespace devicesim::serve
