// An HTTP request and its answer as devicesim serve's checks and routes see
// them, read from a request's header and written out with Boost.Beast's
// parser and serializer. A body is read by the server, after the checks on
// the header alone (serve_http.h).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace devicesim::serve {

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct Request {
  std::string method;  // as sent: "GET", "POST"...
  std::string target;  // as sent: "/api/lines?id=3"
  std::string path;    // the target up to '?'
  std::multimap<std::string, std::string, NoCaseLess> headers;  // in the order sent, per name
  std::map<std::string, std::string> params;                     // the query, decoded; the first of a name
  std::string body;
  bool keep_alive = true;        // as the version and Connection ask
  uint64_t content_length = 0;  // 0 without one

  size_t HeaderCount(const std::string& name) const { return headers.count(name); }
  bool HasHeader(const std::string& name) const { return headers.count(name) != 0; }
  // The `index`th header of that name; empty when there is none.
  std::string Header(const std::string& name, size_t index = 0) const;
  bool HasParam(const std::string& name) const { return params.count(name) != 0; }
  std::string Param(const std::string& name) const;
};

struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // An event stream instead of a body: called again and again with a
  // writer, until it or the writer fails; `stream_ended` runs once after.
  using Writer = std::function<bool(const std::string&)>;
  std::function<bool(const Writer&)> stream;
  std::function<void()> stream_ended;

  // Replaces a header of that name.
  void SetHeader(const std::string& name, const std::string& value);
  std::string Header(const std::string& name) const;
  void SetContent(std::string text, const std::string& type);
};

enum class HeaderRead {
  kRead,
  kIncomplete,  // no empty line yet
  kChunked,     // Transfer-Encoding: refused, whatever else it says
  kMalformed,   // *problem says how
};
// Reads the request header at the start of `text` (the rest may be its body
// or the next request): *used is its length.
HeaderRead ReadRequestHeader(const std::string& text, size_t max_header, Request* request, size_t* used,
                             std::string* problem);

// The answer as sent: status line, headers with Content-Length (kept for a
// HEAD, whose body is left out), the body. `close` adds Connection: close.
std::string AnswerText(const Response& response, bool head, bool close);
// The status line and headers of an event stream, sent in chunks.
std::string StreamHeadText(const Response& response);
// One chunk of a chunked body; the last is empty.
std::string ChunkText(const std::string& data);

// %XX and '+' decoded; false for a '%' not followed by two hex digits.
bool DecodeQueryPart(const std::string& text, std::string* out);

}  // namespace devicesim::serve
