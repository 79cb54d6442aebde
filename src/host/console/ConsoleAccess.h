#pragma once
// Who may read and who may act. /metrics is open to all. Reads need no token when the console
// listens on loopback only and the request names a local host (so a web page elsewhere cannot
// reach it through a name of its own that resolves to loopback); anything else needs the token,
// presented as "Authorization: Bearer <token>" or as the cookie the page's log-in form sets.
// Actions always need it.
#include <string>

#include "platform/adapters/HttpServer.h"

namespace velmora::console {

class ConsoleAccess {
 public:
  static constexpr const char* kCookieName = "velmora_console";
  // Shorter tokens could be guessed by a client that asks often enough.
  static constexpr size_t kMinTokenLength = 16;

  enum class Verdict { kAllowed, kUnauthorized, kForbidden };

  // Throws ConsoleError for a bind beyond loopback without a token, and for a short token.
  ConsoleAccess(bool loopbackBind, const std::string& token);

  Verdict ForRead(const platform::HttpServerRequest& request) const;
  Verdict ForAction(const platform::HttpServerRequest& request) const;

  bool TokenConfigured() const { return !tokenDigest_.empty(); }
  bool IsToken(const std::string& presented) const;
  // Whether the request carries the token, as a header or as the cookie.
  bool Presents(const platform::HttpServerRequest& request) const;
  // The cookie stands for the token without being it, so the token itself never lies in a
  // browser's cookie store.
  const std::string& CookieValue() const { return cookieValue_; }

 private:
  bool loopbackBind_;
  std::string tokenDigest_;
  std::string cookieValue_;
};

// Whether a Host header names this machine: "localhost", 127.x.x.x or [::1], with any port.
bool IsLocalHostHeader(const std::string& host);

}  // namespace velmora::console
