// How a page of devicesim serve proves that it holds the device's token
// without ever sending it, and learns that the server holds it too.
//
// Any program of any local user may hold the port while the server is down,
// so the page trusts no server until it proves it knows the token:
//
//   1. The page sends a nonce of its own:  GET /api/hello?nonce=NP
//      The server answers {"nonce": NS, "proof": HMAC(token, "quadrakey
//      server\n" PORT "\n" NP "\n" NS)}. The page checks the proof, with the
//      port it opened; a server that does not know the token cannot make it.
//   2. The page answers:  POST /api/session {"nonce": NS, "page": NP,
//      "proof": HMAC(token, "quadrakey page\n" PORT "\n" NP "\n" NS)}
//      and gets a session: a random name that it then sends in
//      X-Quadrakey-Session with every request.
//
// The token itself never leaves the page. The port inside both proofs keeps
// a program on another port from relaying the exchange to the real server.
// NS is made by this server, lasts kNonceMs and is taken once. Sessions live
// in this process only: one that reaches a program squatting the port after
// a restart opens nothing, since the server it came from is gone. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace devicesim::serve {

constexpr char kSessionHeader[] = "X-Quadrakey-Session";

// HMAC-SHA-256 of `message` under `key`, in lower-case hex.
std::string HmacHex(const std::string& key, const std::string& message);

// What each side signs; the two labels keep a server's answer from ever
// serving as a page's proof.
std::string ServerProofText(int port, const std::string& page_nonce, const std::string& server_nonce);
std::string PageProofText(int port, const std::string& page_nonce, const std::string& server_nonce);

class Sessions {
 public:
  static constexpr int64_t kNonceMs = 30000;
  static constexpr size_t kMaxSessions = 64;
  static constexpr size_t kMaxNonce = 128;

  explicit Sessions(std::string token) : token_(std::move(token)) {}
  // The port the proofs name; set once the server has bound it.
  void SetPort(int port);

  struct Answer {
    std::string nonce;  // NS
    std::string proof;
  };
  // The server's side of step 1. False when `page_nonce` is not 16 to
  // kMaxNonce letters, digits, '-' or '_'.
  bool Challenge(const std::string& page_nonce, Answer* answer, int64_t now_ms);
  // Step 2: a new session when `proof` is the page's for a nonce this
  // server made within kNonceMs and has not taken before; empty otherwise.
  // Beyond kMaxSessions, the one used longest ago is forgotten.
  std::string Open(const std::string& page_nonce, const std::string& server_nonce, const std::string& proof,
                   int64_t now_ms);
  // True for a session this server opened and still keeps; marks it used.
  bool Valid(const std::string& session, int64_t now_ms);
  size_t Count() const;

 private:
  const std::string token_;
  // Made at start: a nonce of this server carries its own MAC, so that a
  // flood of step 1s keeps no state, and none of another run's passes.
  const std::string nonce_key_ = RandomHex(32);
  static std::string RandomHex(size_t bytes);

  mutable std::mutex mutex_;
  int port_ = 0;
  std::map<std::string, int64_t> taken_;     // nonces used, until they expire
  std::map<std::string, int64_t> sessions_;  // a session's MAC -> last used
};

}  // namespace devicesim::serve
