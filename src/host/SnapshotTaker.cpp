#include "host/SnapshotTaker.h"

#include <cstdint>
#include <ctime>

#include "base/TextCase.h"
#include "client/ClientSocket.h"
#include "networks/ServerNetworks.h"
#include "platform/net/EventLoop.h"
#include "protocol/ServerCounters.h"
#include "server/BanStore.h"
#include "server/MapSocket.h"

namespace velmora {

namespace {

// "City, Region" as far as the lookup named them.
std::string PlaceOf(const ClientLocation& where) {
  std::string place = where.City.value_or("");
  const std::string& state = where.State.value_or("");
  if (!place.empty() && !state.empty()) place += ", ";
  return place + state;
}

console::MemberView ViewOf(const MapConnection& member) {
  console::MemberView view;
  view.Name = member.Username();
  view.Address = member.RemoteAddress();
  view.Position = member.Position();
  view.Reported = member.HasReported();
  if (auto* session = dynamic_cast<const ClientSocket*>(&member)) {
    view.Location = PlaceOf(session->Location());
    view.Country = session->Location().Country.value_or("");
    view.ConnectedSince = session->ConnectedSince();
    view.MessagesSent = session->MessagesSent();
  }
  return view;
}

}  // namespace

SnapshotTaker::SnapshotTaker(const Networks& networks, const Listeners& listeners, BanStore& bans,
                             const ServerCounters& counters, std::time_t startedAt)
    : networks_(networks), listeners_(listeners), bans_(bans), counters_(counters),
      startedAt_(startedAt), banRevision_(bans.Revision()) {}

const std::vector<console::BanView>& SnapshotTaker::BansOf(const std::string& network) {
  if (bans_.Revision() != banRevision_) {
    banLists_.clear();
    banRevision_ = bans_.Revision();
  }
  std::string key = FoldedCopy(network);
  auto found = banLists_.find(key);
  if (found != banLists_.end()) return found->second;
  std::vector<BanRow> rows = bans_.List(network);
  size_t first = rows.size() > kMaxBansShown ? rows.size() - kMaxBansShown : 0;
  std::vector<console::BanView> views;
  views.reserve(rows.size() - first);
  for (size_t i = first; i < rows.size(); ++i) {
    BanRow& row = rows[i];
    views.push_back({row.id, std::move(row.address), std::move(row.by), std::move(row.reason),
                     row.bandate.value_or(0)});
  }
  return banLists_.emplace(std::move(key), std::move(views)).first->second;
}

void SnapshotTaker::Begin() {
  building_ = {};
  building_.TakenAt = std::time(nullptr);
  building_.StartedAt = startedAt_;
  building_.Counters = counters_;
  // The bytes are counted where they move, by the loop.
  auto& traffic = platform::EventLoop::Instance().TrafficTotals();
  building_.Counters.BytesSent = traffic.bytesSent;
  building_.Counters.BytesReceived = traffic.bytesReceived;
  recordsBeingCopied_ = networks_;
  for (auto& network : recordsBeingCopied_) {
    console::NetworkView view;
    view.Name = network->NetworkName;
    view.Port = network->Port;
    view.Enabled = network->Enabled;
    view.SeatsUsed = network->CurrentUsers;
    view.Capacity = network->MaxUsers;
    view.Bans = BansOf(network->NetworkName);
    building_.Networks.push_back(std::move(view));
  }
  for (auto& listener : listeners_) {
    for (auto& connection : listener->ActiveConnections()) {
      building_.OutputQueueBytes += connection->UnsentBytes();
      auto* session = dynamic_cast<const ClientSocket*>(connection.get());
      if (connection->IsMember()) ++building_.Connections.LoggedIn;
      else if (session != nullptr && session->Locating()) ++building_.Connections.WaitingForLookup;
      else ++building_.Connections.LoggingIn;
    }
  }
  network_ = listener_ = member_ = 0;
}

bool SnapshotTaker::Continue(size_t budget) {
  while (network_ < recordsBeingCopied_.size()) {
    if (listener_ >= listeners_.size()) {
      ++network_;
      listener_ = member_ = 0;
      continue;
    }
    // Fetched again at every call: the list may have changed since the last.
    const auto& members = listeners_[listener_]->Members(recordsBeingCopied_[network_].get());
    auto& views = building_.Networks[network_].Members;
    for (; member_ < members.size(); ++member_) {
      if (budget == 0) return false;
      --budget;
      views.push_back(ViewOf(*members[member_]));
    }
    ++listener_;
    member_ = 0;
  }
  return true;
}

console::ConsoleSnapshot SnapshotTaker::Finish() {
  recordsBeingCopied_.clear();
  return std::move(building_);
}

console::ConsoleSnapshot SnapshotTaker::Take() {
  Begin();
  Continue(SIZE_MAX);
  return Finish();
}

}  // namespace velmora
