#include "host/ConsoleService.h"

#include "platform/net/EventLoop.h"

namespace velmora {

namespace {

// Runs an action on the loop's thread while `alive` lasts.
console::ActionRunner::Post PostWhile(std::weak_ptr<bool> alive) {
  return [alive](std::function<void()> work) {
    platform::EventLoop::Instance().Post([alive, work = std::move(work)] {
      if (alive.lock()) work();
    });
  };
}

}  // namespace

ConsoleService::ConsoleService(const SnapshotTaker::Networks& networks,
                               const SnapshotTaker::Listeners& listeners, BanStore& bans,
                               const ServerCounters& counters, std::time_t startedAt)
    : taker_(networks, listeners, bans, counters, startedAt),
      operations_(networks, listeners, bans),
      alive_(std::make_shared<bool>(true)),
      actions_(operations_, PostWhile(alive_)),
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
  alive_.reset();
}

void ConsoleService::PublishNowAndThen() {
  std::weak_ptr<bool> alive = alive_;
  platform::EventLoop::Instance().After(kPublishEvery, [this, alive] {
    if (!alive.lock() || !console_.Running()) return;
    snapshots_.Publish(taker_.Take());
    PublishNowAndThen();
  });
}

}  // namespace velmora
