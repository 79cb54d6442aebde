#include "support/ScriptedServer.h"

#include <algorithm>
#include <ctime>

#include "base/TextCase.h"

namespace velmora::testing {

using console::ActionResult;
using console::ConsoleSnapshot;
using console::NetworkView;

ConsoleSnapshot ScriptedServer::SampleWorld() {
  ConsoleSnapshot world;
  world.TakenAt = std::time(nullptr);
  NetworkView lobby{"Lobby", 5000, true, 2, 10, {}, {}};
  lobby.Members.push_back({"Ann", "127.0.0.2", "Springfield", "Utopia",
                           {10, 20, 1, 57, true, false}, world.TakenAt - 60, 12, true});
  lobby.Members.push_back(
      {"Bob", "127.0.0.3", "", "", {300, 40, 1, 0, false, true}, world.TakenAt - 30, 3, true});
  lobby.Bans.push_back({1, "127.0.0.3", "Operator", "spam", world.TakenAt - 3600});
  world.Networks.push_back(std::move(lobby));
  world.Networks.push_back({"Arena", 5001, false, 0, 0, {}, {}});
  world.Connections = {1, 0, 2};
  return world;
}

ScriptedServer::ScriptedServer(ConsoleSnapshot world) : world_(std::move(world)) {
  snapshots_.Publish(world_);
  loop_ = std::thread([this] { RunLoop(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard lock(loopMutex_);
    stop_ = true;
  }
  wake_.notify_all();
  loop_.join();
}

void ScriptedServer::RunLoop() {
  std::unique_lock lock(loopMutex_);
  while (true) {
    wake_.wait(lock, [&] { return stop_ || (!held_ && !work_.empty()); });
    if (stop_) return;
    auto work = std::move(work_.front());
    work_.pop_front();
    lock.unlock();
    work();
    lock.lock();
  }
}

console::ActionRunner::Post ScriptedServer::Poster() {
  return [this](std::function<void()> work) {
    {
      std::lock_guard lock(loopMutex_);
      work_.push_back(std::move(work));
    }
    wake_.notify_all();
  };
}

void ScriptedServer::Hold(bool held) {
  {
    std::lock_guard lock(loopMutex_);
    held_ = held;
  }
  wake_.notify_all();
}

void ScriptedServer::Change(const std::function<void(ConsoleSnapshot&)>& change) {
  std::lock_guard lock(mutex_);
  change(world_);
  PublishLocked();
}

ConsoleSnapshot ScriptedServer::World() const {
  std::lock_guard lock(mutex_);
  return world_;
}

std::vector<std::string> ScriptedServer::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void ScriptedServer::PublishLocked() {
  world_.TakenAt = std::time(nullptr);
  snapshots_.Publish(world_);
}

std::vector<std::string> ScriptedServer::Remove(NetworkView& network, const std::string& user) {
  std::vector<std::string> addresses;
  auto& members = network.Members;
  for (auto it = members.begin(); it != members.end();) {
    if (!EqualsIgnoreCase(it->Name, user)) {
      ++it;
      continue;
    }
    addresses.push_back(it->Address);
    it = members.erase(it);
    --network.SeatsUsed;
    ++world_.Counters.Departures[static_cast<size_t>(DepartureReason::kClosed)];
  }
  return addresses;
}

namespace {

NetworkView* Find(ConsoleSnapshot& world, const std::string& name) {
  for (auto& network : world.Networks)
    if (EqualsIgnoreCase(network.Name, name)) return &network;
  return nullptr;
}

ActionResult Missing(const std::string& what) {
  return {ActionResult::Outcome::kNotFound, what};
}

}  // namespace

ActionResult ScriptedServer::Kick(const std::string& network, const std::string& user,
                                  const std::string& reason) {
  std::lock_guard lock(mutex_);
  NetworkView* found = Find(world_, network);
  if (found == nullptr) return Missing("no network " + network);
  log_.push_back(user + " on network " + found->Name + " Kicked: " + reason + " (web console)");
  size_t removed = Remove(*found, user).size();
  if (removed == 0) return Missing(user + " is not on " + found->Name);
  PublishLocked();
  return {ActionResult::Outcome::kDone, user + " was removed", removed};
}

ActionResult ScriptedServer::Ban(const std::string& network, const std::string& user,
                                 const std::string& reason) {
  std::lock_guard lock(mutex_);
  NetworkView* found = Find(world_, network);
  if (found == nullptr) return Missing("no network " + network);
  auto addresses = Remove(*found, user);
  if (addresses.empty()) return Missing(user + " is not on " + found->Name);
  for (auto& address : addresses) {
    int64_t id = 1;
    for (auto& ban : found->Bans) id = std::max(id, ban.Id + 1);
    found->Bans.push_back({id, address, "web console", reason, std::time(nullptr)});
    ++world_.Counters.BansRecorded;
    log_.push_back(user + " on network " + found->Name + " Banned: " + reason + " (web console)");
  }
  PublishLocked();
  return {ActionResult::Outcome::kDone, user + " was banned and removed", addresses.size()};
}

ActionResult ScriptedServer::LiftBan(const std::string& network, int64_t banId) {
  std::lock_guard lock(mutex_);
  NetworkView* found = Find(world_, network);
  if (found == nullptr) return Missing("no network " + network);
  auto& bans = found->Bans;
  auto ban = std::find_if(bans.begin(), bans.end(), [&](auto& b) { return b.Id == banId; });
  if (ban == bans.end()) return Missing("no ban " + std::to_string(banId));
  bans.erase(ban);
  log_.push_back("Ban " + std::to_string(banId) + " lifted (web console)");
  PublishLocked();
  return {ActionResult::Outcome::kDone, "ban lifted"};
}

ActionResult ScriptedServer::Announce(const std::string& network, const std::string& text) {
  std::lock_guard lock(mutex_);
  log_.push_back("Announcement to " + network + ": " + text + " (web console)");
  return {ActionResult::Outcome::kDone, "announced"};
}

}  // namespace velmora::testing
