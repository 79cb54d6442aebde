#pragma once
// Who may read and who may act. /metrics is open to all. Reads need no token when the console
// listens on loopback only and the request names a local host (so a web page elsewhere cannot
// reach it through a name of its own that resolves to loopback); anything else needs the token,
// presented as "Authorization: Bearer <token>", or a session that the page's log-in opened.
// Actions always need it, and come only from the console's own page. An address that keeps
// presenting wrong tokens is shut out for the rest of its minute (WrongTokens).
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/console/ConsoleSessions.h"
#include "host/console/WrongTokens.h"
#include "platform/adapters/HttpServer.h"

namespace velmora::console {

class ConsoleAccess {
 public:
  static constexpr const char* kCookieName = "velmora_console";
  // Shorter tokens could be guessed by a client that asks often enough.
  static constexpr size_t kMinTokenLength = 16;

  // kForbidden: no token is configured. kForeignOrigin: a POST from another site's page.
  // kTooMany: the address is shut out after too many wrong tokens.
  enum class Verdict { kAllowed, kUnauthorized, kForbidden, kForeignOrigin, kTooMany };

  // Throws ConsoleError for a bind beyond loopback without a token, and for a short token.
  ConsoleAccess(bool loopbackBind, const std::string& token);

  Verdict ForRead(const platform::HttpServerRequest& request) const;
  Verdict ForAction(const platform::HttpServerRequest& request) const;
  // A log-in presenting `token`: kAllowed opens a session, whose id `session` receives.
  Verdict ForLogIn(const platform::HttpServerRequest& request, const std::string& token,
                   std::string& session) const;
  // Closes the session the request's cookie names.
  void LogOut(const platform::HttpServerRequest& request) const;
  // Whether a POST comes from the console's own page, or from no page at all (a script): a
  // browser names the page's origin, and another site's page must not act with our cookie.
  static bool FromOwnOrigin(const platform::HttpServerRequest& request);

  bool TokenConfigured() const;
  bool IsToken(const std::string& presented) const;
  // A token read again (a reload): when it differs, every session ends, since each was opened
  // with the old one. Throws ConsoleError, keeping the old token, on the constructor's grounds.
  void ChangeToken(const std::string& token);
  // The log's lines for the wrong tokens of minutes now over.
  std::vector<std::string> WrongTokenLines() const;

 private:
  // `token`'s verdict for `address`: refused unchecked while the address is shut out, counted
  // when wrong.
  Verdict CheckToken(const std::string& address, const std::string& token,
                     std::chrono::steady_clock::time_point now) const;
  // The bearer token's verdict (CheckToken); kUnauthorized also when there is none.
  Verdict CheckBearer(const platform::HttpServerRequest& request) const;
  bool HasSession(const platform::HttpServerRequest& request) const;

  struct Token {
    mutable std::mutex mutex;
    std::string digest;  // "" when none is configured
  };
  static void Check(bool loopbackBind, const std::string& token);

  bool loopbackBind_;
  // Held apart so that the access can move into the routes; they keep their own locks.
  std::unique_ptr<Token> token_ = std::make_unique<Token>();
  std::unique_ptr<ConsoleSessions> sessions_ = std::make_unique<ConsoleSessions>();
  std::unique_ptr<WrongTokens> wrongTokens_ = std::make_unique<WrongTokens>();
};

// Whether a Host header names this machine: "localhost", 127.x.x.x or [::1], with any port.
bool IsLocalHostHeader(const std::string& host);

}  // namespace velmora::console
