#include "host/SnapshotTaker.h"

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

console::ConsoleSnapshot SnapshotTaker::Take() {
  console::ConsoleSnapshot snapshot;
  snapshot.TakenAt = std::time(nullptr);
  snapshot.StartedAt = startedAt_;
  snapshot.Counters = counters_;
  // The bytes are counted where they move, by the loop.
  auto& traffic = platform::EventLoop::Instance().TrafficTotals();
  snapshot.Counters.BytesSent = traffic.bytesSent;
  snapshot.Counters.BytesReceived = traffic.bytesReceived;
  for (auto& network : networks_) {
    console::NetworkView view;
    view.Name = network->NetworkName;
    view.Port = network->Port;
    view.Enabled = network->Enabled;
    view.SeatsUsed = network->CurrentUsers;
    view.Capacity = network->MaxUsers;
    for (auto& listener : listeners_)
      for (const MapConnection* member : listener->Members(network.get()))
        view.Members.push_back(ViewOf(*member));
    view.Bans = BansOf(network->NetworkName);
    snapshot.Networks.push_back(std::move(view));
  }
  for (auto& listener : listeners_) {
    for (auto& connection : listener->ActiveConnections()) {
      snapshot.OutputQueueBytes += connection->UnsentBytes();
      auto* session = dynamic_cast<const ClientSocket*>(connection.get());
      if (connection->IsMember()) ++snapshot.Connections.LoggedIn;
      else if (session != nullptr && session->Locating()) ++snapshot.Connections.WaitingForLookup;
      else ++snapshot.Connections.LoggingIn;
    }
  }
  return snapshot;
}

}  // namespace velmora
