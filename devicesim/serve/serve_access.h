// Who may ask devicesim serve for what: the checks every request passes
// before anything is read beyond its header, and the page's files.
//
// - Host must name this server (127.0.0.1:PORT or localhost:PORT): a page
//   elsewhere cannot reach it through a name of its own (DNS rebinding).
// - A request that the browser says comes from a page elsewhere (Origin of
//   another origin, or Sec-Fetch-Site other than same-origin or none) is
//   refused, except a top-level visit to the page itself.
// - Everything under /api/ but the challenge needs a credential: a session
//   (serve_sessions.h: how a page gets one without sending the token) or,
//   from a script, the token itself in X-Quadrakey-Token. Cookies carry
//   nothing: every server on 127.0.0.1 would receive them, and any page
//   there could set them.
// - A body has a Content-Length of at most the limit; chunked bodies are
//   refused.
#pragma once

#include <cstddef>
#include <string>

#include "devicesim/serve/serve_message.h"

namespace devicesim::serve {

constexpr char kTokenHeader[] = "X-Quadrakey-Token";

// True when `host` (a Host header) names this server: 127.0.0.1:PORT or
// localhost:PORT, in any letter case.
bool HostAllowed(const std::string& host, int port);
// True when `origin` (an Origin header) is this server's.
bool OriginAllowed(const std::string& origin, int port);

// A request made by a page of another origin, as the browser tells.
bool FromElsewhere(const Request& req, int port);
// The person's browser opening the page itself (a link or typed address),
// which may come from anywhere.
bool TopLevelVisit(const Request& req);

// True when the request carries `token` in one X-Quadrakey-Token header.
bool CarriesToken(const Request& req, const std::string& token);
// Compares without telling through its time where two texts differ.
bool EqualInTime(const std::string& a, const std::string& b);

enum class BodyCheck {
  kOk,          // no body, or a Content-Length within the limit
  kChunked,     // Transfer-Encoding: refused, whatever it says
  kBadLength,   // a Content-Length that is not one decimal number
  kTooLong,
};
BodyCheck CheckBody(const Request& req, size_t max_bytes);

enum class WebFile { kRead, kMissing, kNotAFile, kTooLarge };
// The page's file `name` (no '/' in it) from `folder`: a regular file
// inside the folder only, never through a symbolic link nor one with a
// second (hard) link, at most `max_bytes`.
WebFile ReadWebFile(const std::string& folder, const std::string& name, size_t max_bytes, std::string* content);

}  // namespace devicesim::serve
