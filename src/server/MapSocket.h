#pragma once
// A listening socket and the registry of the connections it accepted. Every group send (relay,
// departure, announcement, kick, ban) covers only this listener's connections.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/TcpListener.h"

namespace velmora {

class ClientSocket;
class ServerNetworks;

class MapSocket : public platform::TcpListener {
 public:
  // The text that addresses an announcement to every network.
  static constexpr const char* kAllNetworks = "(All Networks)";

  MapSocket();
  ~MapSocket() override;

  std::shared_ptr<platform::TcpConnection> Event_AddSocket() override;
  void Event_Error(int64_t code) override;
  void BanUser(ClientSocket& admin, const std::string& user, const std::string& reason);
  void BroadcastMessage(const std::string& text, const std::string& networkName);
  void BroadcastPosition(ClientSocket& sender);
  void CallStatusMessage(const std::string& text);
  void CallUserLoggedIn(ClientSocket& user);
  void CallUserLoggedOut(ClientSocket& user);
  void ClientDisconnect(ClientSocket& user);
  void DisconnectAllClientsOnNetwork(ServerNetworks& network);
  ServerNetworks* FindNetwork(const std::string& name);
  void KickUser(const std::string& user, const std::string& network, const std::string& text);
  void RemoveNetwork(ServerNetworks& network);
  void SendChatMessage(ServerNetworks* network, ClientSocket& sender, const std::string& text);
  void StatusMessage(const std::string& text);

  // Networks registered with this listener for RemoveNetwork.
  std::vector<ServerNetworks*> Networks;
  // Raised on log-in and log-out; nothing in the server subscribes.
  std::function<void(ClientSocket&)> UserLoggedIn;
  std::function<void(ClientSocket&)> UserLoggedOut;

  // The registry: every active connection, in accept order.
  std::vector<std::shared_ptr<ClientSocket>> ActiveConnections() const;
  // The logged-in members of one network on this listener, in accept order.
  const std::vector<ClientSocket*>& Members(const ServerNetworks* network) const;
  // Whether a connection other than `self` is logged in under `name` (any letter case).
  bool NameInUse(const std::string& name, const ClientSocket& self) const;

  // Log-in bookkeeping, kept by ClientSocket: a connection becomes a member of its network
  // when its log-in completes and stops being one when it leaves or ends.
  void AddMember(ClientSocket& member);
  void RemoveMember(ClientSocket& member);
  void RenameMember(ClientSocket& member, const std::string& oldName);

 protected:
  void ConnectionAccepted(const std::shared_ptr<platform::TcpConnection>& connection) override;
  void ConnectionClosed(platform::TcpConnection& connection) override;

 private:
  uint64_t nextSequence_ = 0;
  std::map<uint64_t, std::shared_ptr<ClientSocket>> active_;
  std::unordered_map<const ServerNetworks*, std::vector<ClientSocket*>> members_;
  // Folded user name -> number of this listener's connections logged in under it.
  std::unordered_map<std::string, int> loggedInNames_;
};

}  // namespace velmora
