#include "server/MapSocket.h"

#include <algorithm>

#include "base/GentleGrowth.h"
#include "base/Log.h"
#include "base/TextCase.h"
#include "platform/net/EventLoop.h"
#include "platform/net/WallClock.h"
#include "networks/ServerNetworks.h"
#include "platform/adapters/SystemErrorText.h"
#include "protocol/Chat.h"
#include "protocol/FrameCodec.h"
#include "protocol/MessageCode.h"
#include "protocol/Position.h"
#include "protocol/ServerCounters.h"
#include "server/BanStore.h"
#include "server/PendingLogins.h"
#include "server/PositionCeiling.h"

namespace velmora {

namespace {

const std::vector<MapConnection*> kNoMembers;

// A frame at least this long goes to many recipients shared rather than copied.
constexpr size_t kShareFramesFrom = 4096;

bool AcceptedBefore(const MapConnection* a, const MapConnection* b) {
  return a->AcceptSequence() < b->AcceptSequence();
}

// The frame of one relay, built once for all its recipients. Small frames are copied into each
// recipient's output (one write per recipient per pass); large ones are shared.
class Relay {
 public:
  Relay(ServerCode code, std::string_view payload, ServerCounters& counters)
      : counters_(counters) {
    if (payload.size() + kFrameHeaderSize >= kShareFramesFrom) {
      shared_ = platform::MakeShared(CreatePacket(Wire(code), payload));
    } else {
      Scratch().clear();
      AppendPacket(Scratch(), Wire(code), payload);
    }
  }
  void To(MapConnection& recipient) const {
    ++counters_.Deliveries;
    if (shared_)
      recipient.SendSharedFrames(shared_, 0, shared_->size());
    else
      recipient.SendFrame(Scratch());
  }

 private:
  static std::string& Scratch() {
    static std::string frame;
    return frame;
  }
  platform::SharedBytes shared_;
  ServerCounters& counters_;
};

}  // namespace

MapSocket::MapSocket(ServerContext& context, SessionFactory factory)
    : context_(context), factory_(std::move(factory)) {}

MapSocket::~MapSocket() {
  // Connections outlive nothing of ours: detach them so none calls back into a dead listener.
  // Nobody is left to hear of departures: the member lists go first, and every member leaves
  // in silence.
  auto connections = std::move(active_);
  active_.clear();
  members_.clear();
  for (auto& connection : connections) {
    if (!connection) continue;
    Leave(*connection);
    context_.pending.Remove(*connection);
    connection->SetOwner(nullptr);
    connection->Close();
  }
}

std::shared_ptr<platform::TcpConnection> MapSocket::Event_AddSocket() { return factory_(*this); }

void MapSocket::Event_Error(int64_t code) {
  std::string reason = platform::SystemErrorText(code);
  modGlobal::LogMessageWithDetail("Server Error: " + std::to_string(code),
                                  errorLabel_.empty() ? reason : errorLabel_ + ": " + reason);
}

void MapSocket::StatusMessage(const std::string& text) { modGlobal::LogMessage(text, false); }

void MapSocket::CallStatusMessage(const std::string& text) { StatusMessage(text); }

ServerNetworks* MapSocket::FindNetwork(std::string_view name) {
  // A retired network keeps its members until they leave, but takes nobody new.
  for (auto& network : context_.networks)
    if (!network->Retired && EqualsIgnoreCase(network->NetworkName, name)) return network.get();
  return nullptr;
}

void MapSocket::ConnectionAccepted(const std::shared_ptr<platform::TcpConnection>& connection) {
  auto client = std::static_pointer_cast<MapConnection>(connection);
  client->Register(ListenerKey(), nextSequence_++, static_cast<uint32_t>(active_.size()));
  context_.pending.Add(*client, false);
  RoomForOneMore(active_);
  active_.push_back(std::move(client));
  ++activeCount_;
  toldRefusal_ = false;
}

bool MapSocket::Event_ShedForNewcomer() {
  if (context_.pending.ShedOldest()) return true;
  // Only members are left, and they are never shed: the newcomer is turned away. Once, until
  // one is taken again, so that a flood of them does not flood the log.
  if (!toldRefusal_) StatusMessage("Connection Refused, Out Of Descriptors.");
  toldRefusal_ = true;
  return false;
}

void MapSocket::ConnectionLeft(platform::TcpConnection& connection) {
  auto& client = static_cast<MapConnection&>(connection);
  // A session leaves before it closes; one closed behind its back leaves now.
  Leave(client);
  context_.pending.Remove(client);
  // The slot stays empty; the list is packed once half of it is, keeping accept order.
  uint32_t slot = client.RegistrySlot();
  if (slot < active_.size() && active_[slot].get() == &client) {
    auto keepAlive = std::move(active_[slot]);
    --activeCount_;
    if (activeCount_ * 2 < active_.size()) PackRegistry();
  }
}

void MapSocket::PackRegistry() {
  size_t kept = 0;
  for (auto& connection : active_) {
    if (!connection) continue;
    connection->MoveInRegistry(ListenerKey(), static_cast<uint32_t>(kept));
    active_[kept++] = std::move(connection);
  }
  active_.resize(kept);
  if (active_.capacity() > 2 * kept + 16) active_.shrink_to_fit();
}

std::vector<std::shared_ptr<MapConnection>> MapSocket::ActiveConnections() const {
  std::vector<std::shared_ptr<MapConnection>> snapshot;
  snapshot.reserve(activeCount_);
  for (auto& connection : active_)
    if (connection) snapshot.push_back(connection);
  return snapshot;
}

const std::vector<MapConnection*>& MapSocket::Members(const ServerNetworks* network) const {
  for (auto& entry : members_)
    if (entry.network == network) return entry.members;
  return kNoMembers;
}

std::vector<MapSocket::NetworkMembers>::iterator MapSocket::FindMembers(
    const ServerNetworks* network) {
  return std::find_if(members_.begin(), members_.end(),
                      [network](const NetworkMembers& entry) { return entry.network == network; });
}

bool MapSocket::NameTaken(std::string_view name, const MapConnection& self) const {
  return FindMember(name, &self) != nullptr || heldNames_.contains(name);
}

void MapSocket::HoldName(std::string_view name) { ++heldNames_[name]; }

void MapSocket::ReleaseName(std::string_view name) {
  auto held = heldNames_.find(name);
  if (held == heldNames_.end() || --held->second > 0) return;
  heldNames_.erase(held);
  // Log-ins wait for their record a few milliseconds: a burst of them leaves no table behind.
  if (heldNames_.empty()) heldNames_.clear();
}

MapConnection* MapSocket::FindMember(std::string_view name, const MapConnection* self) const {
  auto found = membersByName_.find(name);
  return found == membersByName_.end() || *found == self ? nullptr : *found;
}

void MapSocket::Join(MapConnection& connection, std::string_view name) {
  if (connection.IsMember()) {
    ForgetName(connection);
  } else {
    auto entry = FindMembers(connection.Network());
    if (entry == members_.end()) entry = members_.insert(entry, {connection.Network(), {}});
    auto& list = entry->members;
    RoomForOneMore(list);
    list.insert(std::upper_bound(list.begin(), list.end(), &connection, AcceptedBefore),
                &connection);
    context_.pending.Remove(connection);
  }
  connection.SetMembership(ListenerKey(), Membership{std::string(name), NameHash(name)});
  membersByName_.insert(&connection);
}

void MapSocket::Leave(MapConnection& connection) {
  if (!connection.IsMember()) return;
  auto list = FindMembers(connection.Network());
  if (list != members_.end()) {
    auto& members = list->members;
    auto at = std::lower_bound(members.begin(), members.end(), &connection, AcceptedBefore);
    if (at != members.end() && *at == &connection) members.erase(at);
    if (members.empty()) members_.erase(list);
  }
  ForgetName(connection);
  context_.ceiling.Forget(connection);
  AnnounceDeparture(connection);
  connection.SetMembership(ListenerKey(), Membership{});
  // Not logged in any more: it has the deadline's time again to log in anew.
  context_.pending.Add(connection, true);
}

void MapSocket::AnnounceDeparture(MapConnection& departed) {
  // The departures of one pass are written once, one after the other, into a block that every
  // remaining member shares: when a whole network leaves at once, each recipient holds one
  // piece of it instead of a copy per departure. A member that is itself leaving receives
  // nothing (it is no longer connected).
  auto& members = Members(departed.Network());
  if (members.empty()) return;
  auto& loop = platform::EventLoop::Instance();
  if (!departures_ || departuresPass_ != loop.Pass()) {
    departures_ = std::make_shared<std::string>();
    departuresPass_ = loop.Pass();
  }
  size_t offset = departures_->size();
  AppendPacket(*departures_, Wire(ServerCode::kMemberLeft), departed.Username());
  size_t length = departures_->size() - offset;
  for (MapConnection* member : members) {
    // A position of the departed member still waiting must not follow its departure.
    member->ForgetLatestFrame(departed.AcceptSequence());
    member->SendSharedFrames(departures_, offset, length);
  }
  context_.counters.Deliveries += members.size();
}

void MapSocket::ForgetName(MapConnection& member) {
  auto found = membersByName_.find(&member);
  if (found != membersByName_.end() && *found == &member) membersByName_.erase(found);
}

void MapSocket::BroadcastPosition(MapConnection& sender) {
  if (!sender.IsMember()) return;
  auto& members = Members(sender.Network());
  if (members.size() < 2) return;
  if (!context_.ceiling.Admit(sender)) {
    ++context_.counters.ThrottledPositions;
    return;
  }
  static std::string frame;
  frame.assign(kFrameHeaderSize, '\0');
  AppendMemberPosition(frame, sender.Username(), sender.Position());
  FinishPacket(frame, 0, Wire(ServerCode::kMemberPosition));
  // Every connection logged in under the sender's name is skipped, not only the sender's own.
  // Only the newest position of a member matters: a recipient that falls behind gets that one.
  uint64_t delivered = 0;
  uint64_t conflated = 0;
  for (MapConnection* member : members) {
    if (member->SameName(sender)) continue;
    conflated += member->SendLatestFrame(sender.AcceptSequence(), frame);
    ++delivered;
  }
  context_.counters.Deliveries += delivered;
  context_.counters.ConflatedPositions += conflated;
}

void MapSocket::RelayHeldPosition(MapConnection& sender) {
  // A report stored since that no map may show (a negative number) is not relayed either.
  if (sender.IsMember() && sender.Position().Relayable()) BroadcastPosition(sender);
}

void MapSocket::SendChatMessage(ServerNetworks* network, MapConnection& sender,
                                std::string_view text) {
  if (network == nullptr || text.empty() || !sender.IsMember()) return;
  if (sender.Username().size() + 1 + text.size() > kMaxPayloadLength) {
    // With the name in front, a line near the bound would make a frame beyond it, which this
    // server and the clients that hold the same bound refuse.
    if (sender.FirstChatTooLong(ListenerKey()))
      StatusMessage(sender.RemoteAddress() + ": Chat Too Long To Relay (" +
                    std::to_string(text.size()) + " bytes).");
    return;
  }
  auto& members = Members(network);
  if (members.size() < 2) return;
  Relay relay(ServerCode::kChatLine, ChatLinePayload(sender.Username(), text),
              context_.counters);
  for (MapConnection* member : members)
    if (member != &sender) relay.To(*member);
}

void MapSocket::BroadcastMessage(std::string_view text, std::string_view networkName) {
  // An announcement, a kick text and a ban reason come out of a request within the frame bound,
  // so they stay within it; the guards hold should their payloads ever carry more.
  if (text.empty() || text.size() > kMaxPayloadLength) return;
  bool everyNetwork = EqualsIgnoreCase(networkName, kAllNetworks);
  Relay relay(ServerCode::kAnnouncement, text, context_.counters);
  for (auto& [network, members] : members_)
    if (everyNetwork || EqualsIgnoreCase(network->NetworkName, networkName))
      for (MapConnection* member : members) relay.To(*member);
}

std::vector<MapConnection*> MapSocket::MembersNamed(const std::string& user,
                                                   const std::string& network) const {
  uint64_t hash = NameHash(user);
  std::vector<MapConnection*> found;
  for (auto& [record, members] : members_) {
    if (!EqualsIgnoreCase(record->NetworkName, network)) continue;
    for (MapConnection* member : members)
      if (member->NameHash() == hash && EqualsIgnoreCase(member->Username(), user))
        found.push_back(member);
  }
  // Collected first: each one's removal changes the lists walked. Then in accept order, for
  // the notices, log lines and rows.
  std::sort(found.begin(), found.end(), AcceptedBefore);
  return found;
}

size_t MapSocket::KickUser(const std::string& user, const std::string& network,
                           const std::string& text) {
  std::vector<MapConnection*> targets;
  if (text.size() <= kMaxPayloadLength) targets = MembersNamed(user, network);
  for (MapConnection* target : targets) {
    ++context_.counters.Deliveries;
    target->SendMessage(Wire(ServerCode::kKickNotice), text);
  }
  modGlobal::LogMessage(modGlobal::LogSafe(user) + " on network " + modGlobal::LogSafe(network) +
                            " Kicked: " + modGlobal::LogSafe(text),
                        false);
  // The notice is the last it hears: a client that ignores it leaves all the same.
  for (MapConnection* target : targets)
    target->Dismiss(MapConnection::kErrorKicked, DepartureReason::kKicked);
  return targets.size();
}

void MapSocket::BanUser(MapConnection& admin, const std::string& user, const std::string& reason) {
  if (admin.Network() == nullptr) return;
  // A copy: an administrator who bans its own name loses the name on the way.
  BanUser(std::string(admin.Username()), admin.Network()->NetworkName, user, reason);
}

size_t MapSocket::BanUser(const std::string& by, const std::string& network,
                          const std::string& user, const std::string& reason) {
  if (reason.size() > kMaxPayloadLength) return 0;
  size_t stored = 0;
  for (MapConnection* target : MembersNamed(user, network)) {
    // Only a ban that is stored is one: without the row the target could log straight back in,
    // so it is told nothing, stays, and only the failure is logged.
    if (!context_.bans.Record(target->RemoteAddress(), by, reason, platform::WallTime(),
                              target->Network()->NetworkName, target->Username()))
      continue;
    ++stored;
    ++context_.counters.BansRecorded;
    ++context_.counters.Deliveries;
    target->SendMessage(Wire(ServerCode::kBanNotice), reason);
    modGlobal::LogMessage(modGlobal::LogSafe(target->Username()) + " on network " +
                              modGlobal::LogSafe(target->Network()->NetworkName) +
                              " Banned: " + modGlobal::LogSafe(reason),
                          false);
    target->Dismiss(MapConnection::kErrorBanned, DepartureReason::kBanned);
  }
  return stored;
}

}  // namespace velmora
