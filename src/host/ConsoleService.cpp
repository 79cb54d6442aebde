#include "host/ConsoleService.h"

#include "platform/net/EventLoop.h"

namespace velmora {

ConsoleService::ConsoleService(const SnapshotTaker::Networks& networks,
                               const SnapshotTaker::Listeners& listeners, BanStore& bans,
                               const ServerCounters& counters, std::time_t startedAt)
    : taker_(networks, listeners, bans, counters, startedAt),
      operations_(networks, listeners, bans),
      actions_(operations_, actionsOnLoop_.MakePoster()),
      console_(snapshots_, actions_) {}

ConsoleService::~ConsoleService() { Stop(); }

void ConsoleService::Start(const std::string& address, const std::string& token) {
  // The first answers must find figures already there.
  snapshots_.Publish(taker_.Take());
  console_.Start(address, token);
  PublishNowAndThen();
}

void ConsoleService::Stop() {
  console_.Stop();
  publishing_.Cancel();
  actionsOnLoop_.Close();
}

void ConsoleService::PublishNowAndThen() {
  publishing_ = platform::EventLoop::Instance().After(kPublishEvery, [this] {
    if (!console_.Running()) return;
    snapshots_.Publish(taker_.Take());
    PublishNowAndThen();
  });
}

}  // namespace velmora
