#include "devicesim/serve/serve_sessions.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "devicesim/serve/serve_access.h"

namespace devicesim::serve {
namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 15];
  }
  return text;
}

bool NonceChars(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

}  // namespace

std::string HmacHex(const std::string& key, const std::string& message) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
           message.size(), digest, &size) == nullptr)
    throw std::runtime_error("HMAC-SHA-256 is not available");
  return Hex(digest, size);
}

std::string ServerProofText(int port, const std::string& page_nonce, const std::string& server_nonce) {
  return "quadrakey server\n" + std::to_string(port) + "\n" + page_nonce + "\n" + server_nonce;
}

std::string PageProofText(int port, const std::string& page_nonce, const std::string& server_nonce) {
  return "quadrakey page\n" + std::to_string(port) + "\n" + page_nonce + "\n" + server_nonce;
}

std::string Sessions::RandomHex(size_t bytes) {
  unsigned char random[64];
  bytes = std::min(bytes, sizeof random);
  if (RAND_bytes(random, static_cast<int>(bytes)) != 1) throw std::runtime_error("no random bytes for a session");
  return Hex(random, bytes);
}

void Sessions::SetPort(int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  port_ = port;
}

bool Sessions::Challenge(const std::string& page_nonce, Answer* answer, int64_t now_ms) {
  if (page_nonce.size() < 16 || page_nonce.size() > kMaxNonce || !NonceChars(page_nonce)) return false;
  std::string made = std::to_string(now_ms) + "-" + RandomHex(16);
  answer->nonce = made + "-" + HmacHex(nonce_key_, made + "\n" + page_nonce);
  std::lock_guard<std::mutex> lock(mutex_);
  answer->proof = HmacHex(token_, ServerProofText(port_, page_nonce, answer->nonce));
  return true;
}

std::string Sessions::Open(const std::string& page_nonce, const std::string& server_nonce, const std::string& proof,
                           int64_t now_ms) {
  // NS = MADE-RANDOM-MAC, MADE its time: made here, for this page nonce, lately.
  size_t mac_at = server_nonce.rfind('-');
  size_t random_at = mac_at == std::string::npos || mac_at == 0 ? std::string::npos : server_nonce.rfind('-', mac_at - 1);
  if (random_at == std::string::npos || page_nonce.size() > kMaxNonce || server_nonce.size() > 256) return {};
  std::string made = server_nonce.substr(0, mac_at);
  if (!EqualInTime(server_nonce.substr(mac_at + 1), HmacHex(nonce_key_, made + "\n" + page_nonce))) return {};
  const std::string time = server_nonce.substr(0, random_at);
  if (time.empty() || time.size() > 18 || !std::all_of(time.begin(), time.end(), ::isdigit)) return {};
  int64_t at = std::stoll(time);
  if (now_ms < at || now_ms - at > kNonceMs) return {};

  std::lock_guard<std::mutex> lock(mutex_);
  if (!EqualInTime(proof, HmacHex(token_, PageProofText(port_, page_nonce, server_nonce)))) return {};
  for (auto old = taken_.begin(); old != taken_.end();)
    old = now_ms - old->second > kNonceMs ? taken_.erase(old) : std::next(old);
  if (!taken_.emplace(server_nonce, at).second) return {};  // a proof seen before: replayed
  if (sessions_.size() >= kMaxSessions) {
    auto oldest = std::min_element(sessions_.begin(), sessions_.end(),
                                   [](const auto& a, const auto& b) { return a.second < b.second; });
    sessions_.erase(oldest);
  }
  std::string session = RandomHex(32);
  sessions_[HmacHex(nonce_key_, session)] = now_ms;
  return session;
}

bool Sessions::Valid(const std::string& session, int64_t now_ms) {
  // Looked up by its MAC: how long a lookup takes tells nothing of the names kept.
  std::string key = HmacHex(nonce_key_, session);
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sessions_.find(key);
  if (found == sessions_.end()) return false;
  found->second = std::max(found->second, now_ms);
  return true;
}

size_t Sessions::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

}  // namespace devicesim::serve
