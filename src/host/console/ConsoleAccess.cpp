#include "host/console/ConsoleAccess.h"

#include "base/TextCase.h"
#include "host/console/ConsoleError.h"
#include "platform/adapters/Md5.h"
#include "platform/adapters/Sha256.h"

namespace velmora::console {

namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

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

ConsoleAccess::ConsoleAccess(bool loopbackBind, const std::string& token)
    : loopbackBind_(loopbackBind) {
  if (token.empty() && !loopbackBind)
    throw ConsoleError(
        "StatusAddress is not a loopback address, so the console needs a StatusToken; set one, "
        "or listen on 127.0.0.1");
  if (!token.empty() && token.size() < kMinTokenLength)
    throw ConsoleError("StatusToken is shorter than " + std::to_string(kMinTokenLength) +
                       " characters");
  if (token.empty()) return;
  tokenDigest_ = platform::Sha256Digest(token);
  cookieValue_ = Hex(platform::Sha256Digest("velmora console cookie\n" + token));
}

bool ConsoleAccess::IsToken(const std::string& presented) const {
  // Digests of equal length, so the comparison tells nothing of the token's length either.
  return TokenConfigured() &&
         platform::ConstantTimeEquals(platform::Sha256Digest(presented), tokenDigest_);
}

bool ConsoleAccess::Presents(const platform::HttpServerRequest& request) const {
  if (!TokenConfigured()) return false;
  std::string bearer = BearerToken(request);
  if (!bearer.empty()) return IsToken(bearer);
  return platform::ConstantTimeEquals(request.Cookie(kCookieName), cookieValue_);
}

ConsoleAccess::Verdict ConsoleAccess::ForRead(const platform::HttpServerRequest& request) const {
  // A token that is presented must be the right one, whatever the bind.
  if (!request.Header("authorization").empty())
    return Presents(request) ? Verdict::kAllowed : Verdict::kUnauthorized;
  if (Presents(request)) return Verdict::kAllowed;
  std::string host = request.Header("host");
  if (loopbackBind_ && (host.empty() || IsLocalHostHeader(host))) return Verdict::kAllowed;
  return Verdict::kUnauthorized;
}

ConsoleAccess::Verdict ConsoleAccess::ForAction(
    const platform::HttpServerRequest& request) const {
  if (!TokenConfigured()) return Verdict::kForbidden;
  return Presents(request) ? Verdict::kAllowed : Verdict::kUnauthorized;
}

}  // namespace velmora::console
