#include "server/MapSocket.h"

#include <algorithm>
#include <ctime>

#include "client/ClientSocket.h"
#include "protocol/Position.h"
#include "host/App.h"
#include "base/TextCase.h"
#include "base/Log.h"
#include "networks/ServerNetworks.h"
#include "platform/SqliteDatabase.h"
#include "server/BanTable.h"
#include "protocol/FrameCodec.h"

namespace velmora {

namespace {

const std::vector<ClientSocket*> kNoMembers;

bool AcceptedBefore(const ClientSocket* a, const ClientSocket* b) {
  return a->AcceptSequence < b->AcceptSequence;
}

}  // namespace

MapSocket::MapSocket() = default;

MapSocket::~MapSocket() {
  // Connections outlive nothing of ours: detach them so none calls back into a dead listener.
  auto connections = std::move(active_);
  active_.clear();
  members_.clear();
  for (auto& [sequence, connection] : connections) connection->Close();
}

std::shared_ptr<platform::TcpConnection> MapSocket::Event_AddSocket() {
  return std::make_shared<ClientSocket>(*this);
}

void MapSocket::Event_Error(int64_t code) { StatusMessage("Server Error: " + std::to_string(code)); }

void MapSocket::StatusMessage(const std::string& text) { modGlobal::LogMessage(text, false); }

void MapSocket::CallStatusMessage(const std::string& text) { StatusMessage(text); }

void MapSocket::CallUserLoggedIn(ClientSocket& user) {
  if (UserLoggedIn) UserLoggedIn(user);
}

void MapSocket::CallUserLoggedOut(ClientSocket& user) {
  if (UserLoggedOut) UserLoggedOut(user);
}

ServerNetworks* MapSocket::FindNetwork(const std::string& name) {
  for (auto& network : App::Instance().Networks)
    if (EqualsIgnoreCase(network->NetworkName, name)) return network.get();
  return nullptr;
}

void MapSocket::ConnectionAccepted(const std::shared_ptr<platform::TcpConnection>& connection) {
  auto client = std::static_pointer_cast<ClientSocket>(connection);
  client->AcceptSequence = nextSequence_++;
  active_.emplace(client->AcceptSequence, std::move(client));
}

void MapSocket::ConnectionClosed(platform::TcpConnection& connection) {
  auto& client = static_cast<ClientSocket&>(connection);
  RemoveMember(client);
  active_.erase(client.AcceptSequence);
}

std::vector<std::shared_ptr<ClientSocket>> MapSocket::ActiveConnections() const {
  std::vector<std::shared_ptr<ClientSocket>> snapshot;
  snapshot.reserve(active_.size());
  for (auto& [sequence, connection] : active_) snapshot.push_back(connection);
  return snapshot;
}

const std::vector<ClientSocket*>& MapSocket::Members(const ServerNetworks* network) const {
  auto found = members_.find(network);
  return found == members_.end() ? kNoMembers : found->second;
}

bool MapSocket::NameInUse(const std::string& name, const ClientSocket& self) const {
  auto found = loggedInNames_.find(FoldedCopy(name));
  int users = found == loggedInNames_.end() ? 0 : found->second;
  if (self.IsMember() && EqualsIgnoreCase(self.Username, name)) --users;
  return users > 0;
}

void MapSocket::AddMember(ClientSocket& member) {
  if (member.IsMember()) return;
  auto& list = members_[member.myNetwork];
  list.insert(std::upper_bound(list.begin(), list.end(), &member, AcceptedBefore), &member);
  ++loggedInNames_[FoldedCopy(member.Username)];
  member.SetMember(true);
}

void MapSocket::RemoveMember(ClientSocket& member) {
  if (!member.IsMember()) return;
  member.SetMember(false);
  auto list = members_.find(member.myNetwork);
  if (list != members_.end()) {
    auto& members = list->second;
    auto at = std::lower_bound(members.begin(), members.end(), &member, AcceptedBefore);
    if (at != members.end() && *at == &member) members.erase(at);
    if (members.empty()) members_.erase(list);
  }
  auto name = loggedInNames_.find(FoldedCopy(member.Username));
  if (name != loggedInNames_.end() && --name->second <= 0) loggedInNames_.erase(name);
}

void MapSocket::RenameMember(ClientSocket& member, const std::string& oldName) {
  if (!member.IsMember()) return;
  auto name = loggedInNames_.find(FoldedCopy(oldName));
  if (name != loggedInNames_.end() && --name->second <= 0) loggedInNames_.erase(name);
  ++loggedInNames_[FoldedCopy(member.Username)];
}

void MapSocket::BroadcastPosition(ClientSocket& sender) {
  if (!sender.IsMember()) return;
  auto& members = Members(sender.myNetwork);
  if (members.size() < 2) return;
  auto frame = platform::MakeShared(CreatePacket(5, MemberPositionText(sender.Username, sender.Position())));
  for (ClientSocket* member : members)
    if (!EqualsIgnoreCase(member->Username, sender.Username)) member->SendFrame(frame);
}

void MapSocket::SendChatMessage(ServerNetworks* network, ClientSocket& sender,
                                const std::string& text) {
  if (network == nullptr || text.empty() || !sender.IsMember()) return;
  auto& members = Members(network);
  if (members.size() < 2) return;
  std::string payload = sender.Username;
  payload += '\0';
  payload += text;
  auto frame = platform::MakeShared(CreatePacket(7, payload));
  for (ClientSocket* member : members)
    if (member != &sender) member->SendFrame(frame);
}

void MapSocket::BroadcastMessage(const std::string& text, const std::string& networkName) {
  if (text.empty()) return;
  bool everyNetwork = EqualsIgnoreCase(networkName, kAllNetworks);
  auto frame = platform::MakeShared(CreatePacket(998, text));
  for (auto& [network, members] : members_)
    if (everyNetwork || EqualsIgnoreCase(network->NetworkName, networkName))
      for (ClientSocket* member : members) member->SendFrame(frame);
}

void MapSocket::ClientDisconnect(ClientSocket& user) {
  // Only a member's departure is news: a connection that never logged in leaves silently.
  if (!user.IsMember()) return;
  RemoveMember(user);
  auto frame = platform::MakeShared(CreatePacket(6, user.Username));
  for (ClientSocket* member : Members(user.myNetwork)) member->SendFrame(frame);
}

void MapSocket::DisconnectAllClientsOnNetwork(ServerNetworks& network) {
  auto frame = platform::MakeShared(CreatePacket(999, "BYE"));
  for (auto it = active_.rbegin(); it != active_.rend(); ++it)
    if (it->second->myNetwork == &network) it->second->SendFrame(frame);
}

void MapSocket::RemoveNetwork(ServerNetworks& network) {
  auto entry = std::find(Networks.begin(), Networks.end(), &network);
  if (entry == Networks.end()) return;
  BroadcastMessage("This network has been removed from the server.", network.NetworkName);
  DisconnectAllClientsOnNetwork(network);
  Networks.erase(entry);
}

void MapSocket::KickUser(const std::string& user, const std::string& network,
                         const std::string& text) {
  auto frame = platform::MakeShared(CreatePacket(996, text));
  for (auto& [record, members] : members_) {
    if (!EqualsIgnoreCase(record->NetworkName, network)) continue;
    for (ClientSocket* member : members)
      if (EqualsIgnoreCase(member->Username, user)) member->SendFrame(frame);
  }
  modGlobal::LogMessage(modGlobal::LogSafe(user) + " on network " + modGlobal::LogSafe(network) +
                            " Kicked: " + modGlobal::LogSafe(text),
                        false);
}

void MapSocket::BanUser(ClientSocket& admin, const std::string& user, const std::string& reason) {
  if (admin.myNetwork == nullptr) return;
  const std::string& networkName = admin.myNetwork->NetworkName;
  // Collect first: the notices, log lines and rows follow in accept order.
  std::vector<ClientSocket*> targets;
  for (auto& [record, members] : members_) {
    if (!EqualsIgnoreCase(record->NetworkName, networkName)) continue;
    for (ClientSocket* member : members)
      if (EqualsIgnoreCase(member->Username, user)) targets.push_back(member);
  }
  std::sort(targets.begin(), targets.end(), AcceptedBefore);
  BanTable bans(App::Instance().serverdb.get());
  for (ClientSocket* target : targets) {
    target->SendMessage(997, reason);
    modGlobal::LogMessage(modGlobal::LogSafe(target->Username) + " on network " +
                              modGlobal::LogSafe(target->myNetwork->NetworkName) +
                              " Banned: " + modGlobal::LogSafe(reason),
                          false);
    try {
      bans.Insert(target->RemoteAddress(), admin.Username, reason, std::time(nullptr),
                  target->myNetwork->NetworkName);
    } catch (const platform::DatabaseError& error) {
      modGlobal::LogMessage("Error recording ban of " + modGlobal::LogSafe(target->Username) +
                                ": " + error.what(),
                            false);
    }
  }
}

}  // namespace velmora
