#include "devicesim/serve/serve_message.h"

#include <boost/beast/http.hpp>

#include <cctype>
#include <limits>
#include <sstream>

namespace devicesim::serve {
namespace {

namespace http = boost::beast::http;

std::string Text(boost::beast::string_view view) { return std::string(view.data(), view.size()); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Chunked(const Request& request) { return request.HasHeader("Transfer-Encoding"); }

}  // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i])), y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::string Request::Header(const std::string& name, size_t index) const {
  auto [first, last] = headers.equal_range(name);
  for (auto at = first; at != last; ++at, --index)
    if (index == 0) return at->second;
  return {};
}

std::string Request::Param(const std::string& name) const {
  auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

void Response::SetHeader(const std::string& name, const std::string& value) {
  NoCaseLess less;
  for (auto& [key, old] : headers) {
    if (!less(key, name) && !less(name, key)) {
      old = value;
      return;
    }
  }
  headers.emplace_back(name, value);
}

std::string Response::Header(const std::string& name) const {
  NoCaseLess less;
  for (const auto& [key, value] : headers)
    if (!less(key, name) && !less(name, key)) return value;
  return {};
}

void Response::SetContent(std::string text, const std::string& type) {
  body = std::move(text);
  SetHeader("Content-Type", type);
}

bool DecodeQueryPart(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      *out += ' ';
    } else if (text[i] == '%') {
      if (i + 2 >= text.size() || HexDigit(text[i + 1]) < 0 || HexDigit(text[i + 2]) < 0) return false;
      *out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      *out += text[i];
    }
  }
  return true;
}

HeaderRead ReadRequestHeader(const std::string& text, size_t max_header, Request* request, size_t* used,
                             std::string* problem) {
  http::request_parser<http::empty_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(max_header));
  parser.eager(false);
  // The body's length is the caller's to judge. (boost::none, which should lift
  // the limit, makes every length too long in Boost 1.74.)
  parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  boost::beast::error_code error;
  *used = parser.put(boost::asio::buffer(text.data(), text.size()), error);
  if (error == http::error::need_more) return HeaderRead::kIncomplete;
  // A length beside a Transfer-Encoding, in either order, is what a request
  // smuggled past another reader looks like: refused as chunked.
  bool transfer_encoding = false;
  if (error) {
    std::string lower = text.substr(0, std::min(text.size(), max_header));
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    transfer_encoding = lower.find("\ntransfer-encoding:") != std::string::npos;
    if (error == http::error::bad_transfer_encoding || transfer_encoding) return HeaderRead::kChunked;
    *problem = error.message();
    return HeaderRead::kMalformed;
  }
  if (!parser.is_header_done()) return HeaderRead::kIncomplete;
  const auto& message = parser.get();
  request->method = Text(message.method_string());
  request->target = Text(message.target());
  request->keep_alive = message.keep_alive();
  request->headers.clear();
  for (const auto& field : message) request->headers.emplace(Text(field.name_string()), Text(field.value()));
  if (Chunked(*request)) return HeaderRead::kChunked;
  request->content_length = parser.content_length() ? *parser.content_length() : 0;
  size_t query = request->target.find('?');
  request->path = request->target.substr(0, query);
  request->params.clear();
  if (query != std::string::npos) {
    std::string rest = request->target.substr(query + 1);
    size_t at = 0;
    while (at <= rest.size()) {
      size_t end = std::min(rest.find('&', at), rest.size());
      std::string pair = rest.substr(at, end - at), name, value;
      size_t equals = pair.find('=');
      if (!pair.empty()) {
        if (!DecodeQueryPart(pair.substr(0, equals), &name) ||
            !DecodeQueryPart(equals == std::string::npos ? "" : pair.substr(equals + 1), &value)) {
          *problem = "a query part is not well encoded";
          return HeaderRead::kMalformed;
        }
        request->params.emplace(name, value);
      }
      at = end + 1;
    }
  }
  return HeaderRead::kRead;
}

std::string AnswerText(const Response& response, bool head, bool close) {
  http::response<http::string_body> message;
  message.result(static_cast<unsigned>(response.status));
  message.version(11);
  for (const auto& [name, value] : response.headers) message.set(name, value);
  message.body() = response.body;
  message.prepare_payload();
  if (close) message.set(http::field::connection, "close");
  std::ostringstream out;
  if (head)
    out << message.base();
  else
    out << message;
  return out.str();
}

std::string StreamHeadText(const Response& response) {
  http::response<http::empty_body> message;
  message.result(static_cast<unsigned>(response.status));
  message.version(11);
  for (const auto& [name, value] : response.headers) message.set(name, value);
  message.chunked(true);
  message.set(http::field::connection, "close");
  std::ostringstream out;
  out << message.base();
  return out.str();
}

std::string ChunkText(const std::string& data) {
  std::ostringstream out;
  out << std::hex << data.size() << "\r\n" << data << "\r\n";
  return out.str();
}

}  // namespace devicesim::serve
