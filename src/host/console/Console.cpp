#include "host/console/Console.h"

#include "base/Log.h"

#include "host/console/ConsoleError.h"
#include "host/console/ConsoleRoutes.h"
#include "host/console/StatusAddress.h"
#include "platform/adapters/HttpServer.h"

namespace velmora::console {

Console::Console(const SnapshotHolder& snapshots, ActionRunner& actions)
    : snapshots_(snapshots), actions_(actions) {}

Console::~Console() { Stop(); }

void Console::Start(const std::string& statusAddress, const std::string& statusToken) {
  if (statusAddress.empty()) return;
  if (server_) throw ConsoleError("the console is already running");
  StatusAddress address = StatusAddress::Parse(statusAddress);
  try {
    ConsoleAccess access(platform::IsLoopbackHost(address.Host), statusToken);
    auto routes = std::make_unique<ConsoleRoutes>(snapshots_, actions_, std::move(access));
    auto server = std::make_unique<platform::HttpServer>(
        [&handler = *routes](const platform::HttpServerRequest& request) {
          return handler.Handle(request);
        });
    server->Start(address.Host, address.Port);
    routes_ = std::move(routes);
    server_ = std::move(server);
  } catch (const platform::HttpServerError& error) {
    throw ConsoleError("the console cannot listen on " + statusAddress + ": " + error.what());
  }
}

void Console::Stop() {
  if (server_) server_->Stop();
  server_.reset();
  routes_.reset();
}

void Console::LogWrongTokens() {
  if (!routes_) return;
  for (const std::string& line : routes_->Access().WrongTokenLines())
    modGlobal::LogMessage(line, false);
}

void Console::ChangeToken(const std::string& statusToken) {
  if (routes_) routes_->Access().ChangeToken(statusToken);
}

bool Console::Running() const { return server_ && server_->Running(); }

uint16_t Console::Port() const { return server_ ? server_->Port() : 0; }

}  // namespace velmora::console
