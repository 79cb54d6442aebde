#include "host/console/ConsoleAccess.h"

#include "base/TextCase.h"
#include "host/console/ConsoleError.h"
#include "platform/adapters/Md5.h"
#include "platform/adapters/Sha256.h"

namespace velmora::console {

namespace {

using Clock = std::chrono::steady_clock;

std::string BearerToken(const platform::HttpServerRequest& request) {
  std::string header = request.Header("authorization");
  if (header.size() <= 7 || !EqualsIgnoreCase(header.substr(0, 7), "bearer ")) return "";
  size_t start = header.find_first_not_of(' ', 7);
  size_t end = header.find_last_not_of(' ');
  return start == std::string::npos ? "" : header.substr(start, end - start + 1);
}

}  // namespace

bool IsLocalHostHeader(const std::string& host) {
  std::string name = FoldedCopy(host);
  if (!name.empty() && name.front() == '[') {
    size_t close = name.find(']');
    return close != std::string::npos && name.substr(0, close + 1) == "[::1]" &&
           (close + 1 == name.size() || name[close + 1] == ':');
  }
  name = name.substr(0, name.find(':'));
  if (name == "localhost") return true;
  if (name.rfind("127.", 0) != 0) return false;
  int dots = 0;
  for (char c : name) {
    if (c == '.') ++dots;
    else if (c < '0' || c > '9') return false;
  }
  return dots == 3;
}

void ConsoleAccess::Check(bool loopbackBind, const std::string& token) {
  if (token.empty() && !loopbackBind)
    throw ConsoleError(
        "StatusAddress is not a loopback address, so the console needs a StatusToken; set one, "
        "or listen on 127.0.0.1");
  if (!token.empty() && token.size() < kMinTokenLength)
    throw ConsoleError("StatusToken is shorter than " + std::to_string(kMinTokenLength) +
                       " characters");
}

ConsoleAccess::ConsoleAccess(bool loopbackBind, const std::string& token)
    : loopbackBind_(loopbackBind) {
  Check(loopbackBind, token);
  if (!token.empty()) token_->digest = platform::Sha256Digest(token);
}

void ConsoleAccess::ChangeToken(const std::string& token) {
  Check(loopbackBind_, token);
  std::string digest = token.empty() ? "" : platform::Sha256Digest(token);
  {
    std::lock_guard lock(token_->mutex);
    if (digest == token_->digest) return;
    token_->digest = std::move(digest);
  }
  sessions_->CloseAll();
}

bool ConsoleAccess::TokenConfigured() const {
  std::lock_guard lock(token_->mutex);
  return !token_->digest.empty();
}

bool ConsoleAccess::IsToken(const std::string& presented) const {
  std::string digest;
  {
    std::lock_guard lock(token_->mutex);
    digest = token_->digest;
  }
  // Digests of equal length, so the comparison tells nothing of the token's length either.
  return !digest.empty() &&
         platform::ConstantTimeEquals(platform::Sha256Digest(presented), digest);
}

ConsoleAccess::Verdict ConsoleAccess::CheckToken(const std::string& address,
                                                 const std::string& token,
                                                 Clock::time_point now) const {
  if (wrongTokens_->ShutOut(address, now)) return Verdict::kTooMany;
  if (IsToken(token)) return Verdict::kAllowed;
  wrongTokens_->Count(address, now);
  return Verdict::kUnauthorized;
}

ConsoleAccess::Verdict ConsoleAccess::CheckBearer(
    const platform::HttpServerRequest& request) const {
  return CheckToken(request.RemoteAddress, BearerToken(request), Clock::now());
}

bool ConsoleAccess::HasSession(const platform::HttpServerRequest& request) const {
  return TokenConfigured() && sessions_->Valid(request.Cookie(kCookieName), Clock::now());
}

ConsoleAccess::Verdict ConsoleAccess::ForRead(const platform::HttpServerRequest& request) const {
  // A token that is presented must be the right one, whatever the bind.
  if (!request.Header("authorization").empty()) return CheckBearer(request);
  if (HasSession(request)) return Verdict::kAllowed;
  std::string host = request.Header("host");
  if (loopbackBind_ && (host.empty() || IsLocalHostHeader(host))) return Verdict::kAllowed;
  return Verdict::kUnauthorized;
}

ConsoleAccess::Verdict ConsoleAccess::ForAction(
    const platform::HttpServerRequest& request) const {
  if (!TokenConfigured()) return Verdict::kForbidden;
  if (!FromOwnOrigin(request)) return Verdict::kForeignOrigin;
  if (!request.Header("authorization").empty()) return CheckBearer(request);
  // A shut-out address is refused its session's actions too.
  if (wrongTokens_->ShutOut(request.RemoteAddress, Clock::now())) return Verdict::kTooMany;
  return HasSession(request) ? Verdict::kAllowed : Verdict::kUnauthorized;
}

ConsoleAccess::Verdict ConsoleAccess::ForLogIn(const platform::HttpServerRequest& request,
                                               const std::string& token,
                                               std::string& session) const {
  if (!TokenConfigured()) return Verdict::kForbidden;
  if (!FromOwnOrigin(request)) return Verdict::kForeignOrigin;
  auto now = Clock::now();
  Verdict verdict = CheckToken(request.RemoteAddress, token, now);
  if (verdict == Verdict::kAllowed) session = sessions_->Open(now);
  return verdict;
}

void ConsoleAccess::LogOut(const platform::HttpServerRequest& request) const {
  std::string id = request.Cookie(kCookieName);
  if (!id.empty()) sessions_->Close(id);
}

bool ConsoleAccess::FromOwnOrigin(const platform::HttpServerRequest& request) {
  std::string site = FoldedCopy(request.Header("sec-fetch-site"));
  if (!site.empty() && site != "same-origin" && site != "none") return false;
  std::string origin = request.Header("origin");
  if (origin.empty()) return true;
  // The page's origin names the host it was asked for: over plain HTTP, or over HTTPS through a
  // TLS proxy that passes the Host header on. "null" (a sandboxed or local page) is nobody's own.
  std::string host = request.Header("host");
  if (host.empty()) return false;
  for (const char* scheme : {"http://", "https://"})
    if (EqualsIgnoreCase(origin, scheme + host)) return true;
  return false;
}

std::vector<std::string> ConsoleAccess::WrongTokenLines() const {
  return wrongTokens_->EndedMinutes(Clock::now());
}

}  // namespace velmora::console
