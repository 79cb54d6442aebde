#include "host/console/ConsoleRoutes.h"

#include "host/console/ConsoleJson.h"
#include "host/console/MetricsText.h"
#include "host/console/WebAssets.h"
#include "platform/adapters/JsonFields.h"

namespace velmora::console {

namespace {

using Request = platform::HttpServerRequest;
using Response = platform::HttpServerResponse;
using Verdict = ConsoleAccess::Verdict;

// Nothing but the page's own files may run in it, and no other site may frame it.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

Response Json(int status, std::string body) {
  Response response;
  response.Status = status;
  response.ContentType = "application/json";
  response.Body = std::move(body);
  return response;
}

Response Failure(int status, const std::string& error) {
  return Json(status, ResultJson(false, error));
}

Response Refusal(Verdict verdict) {
  if (verdict == Verdict::kForbidden)
    return Failure(403, "actions need a StatusToken in the server's settings");
  if (verdict == Verdict::kForeignOrigin)
    return Failure(403, "actions are taken only from the console's own page");
  if (verdict == Verdict::kTooMany)
    return Failure(429, "too many wrong tokens from this address; try again within a minute");
  Response response = Failure(401, "this needs the console's token");
  response.Headers.emplace_back("WWW-Authenticate", "Bearer realm=\"velmora console\"");
  return response;
}

Response WrongMethod(const char* allowed) {
  Response response = Response::Text(405, "method not allowed\n");
  response.Headers.emplace_back("Allow", allowed);
  return response;
}

bool IsRead(const Request& request) { return request.Method == "GET" || request.Method == "HEAD"; }

bool IsJsonBody(const Request& request) {
  return request.Header("content-type").rfind("application/json", 0) == 0;
}

std::string CookieHeader(const std::string& value, bool expire) {
  std::string header = std::string(ConsoleAccess::kCookieName) + "=" + value +
                       "; Path=/; HttpOnly; SameSite=Strict";
  if (expire) header += "; Max-Age=0";
  return header;
}

// What an action's body must hold, checked before anything reaches the server.
struct ActionRequest {
  std::optional<ConsoleAction> action;
  std::string error;
};

ActionRequest ReadAction(const std::string& verb, const platform::JsonFields& fields,
                         const std::string& network) {
  auto refuse = [](std::string error) { return ActionRequest{std::nullopt, std::move(error)}; };
  ConsoleAction action;
  action.Network = network;
  if (verb == "kick" || verb == "ban") {
    action.What = verb == "kick" ? ConsoleAction::Kind::kKick : ConsoleAction::Kind::kBan;
    action.User = fields.Text("user").value_or("");
    action.Reason = fields.Text("reason").value_or("");
    if (action.User.empty()) return refuse("\"user\" is missing");
    if (action.User.size() > ConsoleRoutes::kMaxNameBytes) return refuse("\"user\" is too long");
    if (action.Reason.size() > ConsoleRoutes::kMaxTextBytes)
      return refuse("\"reason\" is too long");
  } else if (verb == "lift") {
    action.What = ConsoleAction::Kind::kLiftBan;
    auto id = fields.Integer("id");
    if (!id) return refuse("\"id\" is missing or not a whole number");
    action.BanId = *id;
  } else {
    action.What = ConsoleAction::Kind::kAnnounce;
    action.Text = fields.Text("text").value_or("");
    if (action.Text.empty()) return refuse("\"text\" is missing");
    if (action.Text.size() > ConsoleRoutes::kMaxTextBytes) return refuse("\"text\" is too long");
  }
  return {action, ""};
}

}  // namespace

ConsoleRoutes::ConsoleRoutes(const SnapshotHolder& snapshots, ActionRunner& actions,
                             ConsoleAccess access)
    : snapshots_(snapshots), actions_(actions), access_(std::move(access)) {}

Response ConsoleRoutes::Handle(const Request& request) const {
  const auto& path = request.PathSegments;
  Response response;
  if (path.empty() || (path.size() == 1 && path[0] != "api" && path[0] != "metrics")) {
    response = IsRead(request) ? Page(request) : WrongMethod("GET, HEAD");
  } else if (path.size() == 1 && path[0] == "metrics") {
    response = IsRead(request) ? Metrics() : WrongMethod("GET, HEAD");
  } else if (path[0] != "api" || path.size() < 2) {
    response = Response::Text(404, "not found\n");
  } else if (path.size() == 2 && path[1] == "access") {
    response = IsRead(request) ? Access(request) : WrongMethod("GET, HEAD");
  } else if (path.size() == 2 && (path[1] == "login" || path[1] == "logout")) {
    if (request.Method != "POST") response = WrongMethod("POST");
    else response = path[1] == "login" ? LogIn(request) : LogOut(request);
  } else if (path[1] == "networks" && path.size() == 2) {
    response = IsRead(request) ? Read(request) : WrongMethod("GET, HEAD");
  } else if (path[1] == "networks" && path.size() == 4 &&
             (path[3] == "members" || path[3] == "bans")) {
    response = IsRead(request) ? Read(request) : WrongMethod("GET, HEAD");
  } else if (path[1] == "networks" && path.size() == 4 &&
             (path[3] == "kick" || path[3] == "ban" || path[3] == "lift" ||
              path[3] == "announce")) {
    response = request.Method == "POST" ? Act(request) : WrongMethod("POST");
  } else {
    response = Failure(404, "no such resource");
  }
  response.Headers.emplace_back("Cache-Control", "no-store");
  response.Headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.Headers.emplace_back("Referrer-Policy", "no-referrer");
  return response;
}

Response ConsoleRoutes::Page(const Request& request) const {
  std::string path = request.PathSegments.empty() ? "/index.html" : "/" + request.PathSegments[0];
  const WebAsset* asset = FindWebAsset(path);
  if (asset == nullptr) return Response::Text(404, "not found\n");
  Response response;
  response.ContentType = std::string(asset->ContentType);
  response.Body = std::string(asset->Bytes);
  response.Headers.emplace_back("Content-Security-Policy", kPagePolicy);
  response.Headers.emplace_back("X-Frame-Options", "DENY");
  return response;
}

Response ConsoleRoutes::Metrics() const {
  auto snapshot = snapshots_.Current();
  if (!snapshot) return Response::Text(503, "the server has published no figures yet\n");
  Response response;
  response.ContentType = "text/plain; version=0.0.4; charset=utf-8";
  response.Body = MetricsText(*snapshot);
  return response;
}

Response ConsoleRoutes::Access(const Request& request) const {
  return Json(200, AccessJson(access_.TokenConfigured(),
                              access_.ForRead(request) == Verdict::kAllowed,
                              access_.ForAction(request) == Verdict::kAllowed));
}

Response ConsoleRoutes::LogIn(const Request& request) const {
  if (!access_.TokenConfigured()) return Refusal(Verdict::kForbidden);
  if (!IsJsonBody(request)) return Failure(415, "the body must be JSON");
  auto fields = platform::JsonFields::Parse(request.Body);
  std::string token = fields ? fields->Text("token").value_or("") : "";
  std::string session;
  Verdict verdict = access_.ForLogIn(request, token, session);
  if (verdict != Verdict::kAllowed) return Refusal(verdict);
  Response response = Json(200, ResultJson(true, "logged in"));
  response.Headers.emplace_back("Set-Cookie", CookieHeader(session, false));
  return response;
}

Response ConsoleRoutes::LogOut(const Request& request) const {
  if (!ConsoleAccess::FromOwnOrigin(request)) return Refusal(Verdict::kForeignOrigin);
  access_.LogOut(request);
  Response response = Json(200, ResultJson(true, "logged out"));
  response.Headers.emplace_back("Set-Cookie", CookieHeader("", true));
  return response;
}

Response ConsoleRoutes::Read(const Request& request) const {
  Verdict verdict = access_.ForRead(request);
  if (verdict != Verdict::kAllowed) return Refusal(verdict);
  auto snapshot = snapshots_.Current();
  if (!snapshot) return Failure(503, "the server has published nothing yet");
  const auto& path = request.PathSegments;
  if (path.size() == 2) return Json(200, NetworksJson(*snapshot));
  const NetworkView* network = snapshot->FindNetwork(path[2]);
  if (network == nullptr) return Failure(404, "no network is named \"" + path[2] + "\"");
  if (path[3] == "members") return Json(200, membersJson_.For(snapshot, *network));
  return Json(200, BansJson(*snapshot, *network));
}

Response ConsoleRoutes::Act(const Request& request) const {
  Verdict verdict = access_.ForAction(request);
  if (verdict != Verdict::kAllowed) return Refusal(verdict);
  // A page elsewhere can post a form to us, but not with this content type.
  if (!IsJsonBody(request)) return Failure(415, "the body must be JSON");
  auto fields = platform::JsonFields::Parse(request.Body);
  if (!fields) return Failure(400, "the body must be one JSON object of texts and numbers");
  auto snapshot = snapshots_.Current();
  if (!snapshot) return Failure(503, "the server has published nothing yet");
  const auto& path = request.PathSegments;
  const NetworkView* network = snapshot->FindNetwork(path[2]);
  if (network == nullptr) return Failure(404, "no network is named \"" + path[2] + "\"");
  ActionRequest read = ReadAction(path[3], *fields, network->Name);
  if (!read.action) return Failure(400, read.error);

  ActionRunner::Outcome outcome = actions_.Run(*read.action);
  switch (outcome.What) {
    case ActionRunner::Status::kBusy:
      return Failure(503, "the server is still busy with earlier actions; try again");
    case ActionRunner::Status::kLate:
      return Failure(504, "the server did not answer in time; the action may still take effect");
    case ActionRunner::Status::kRan:
      break;
  }
  const ActionResult& result = outcome.Result;
  int status = 409;
  switch (result.What) {
    case ActionResult::Outcome::kDone: status = 200; break;
    case ActionResult::Outcome::kNotFound: status = 404; break;
    case ActionResult::Outcome::kRefused: break;
  }
  ConsoleAction::Kind kind = read.action->What;
  return Json(status, ActionJson(result, kind == ConsoleAction::Kind::kKick ||
                                             kind == ConsoleAction::Kind::kBan));
}

}  // namespace velmora::console
