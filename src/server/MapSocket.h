#pragma once
// A listening socket and the registry of the connections it accepted. It alone decides who is
// a member of which network here (Join, Leave) and which names are taken here, and every group
// send (relay, departure, announcement, kick, ban) covers only this listener's members.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include "base/NameHash.h"
#include "platform/net/TcpListener.h"
#include "server/MapConnection.h"
#include "server/ServerContext.h"

namespace velmora {

class ServerNetworks;

class MapSocket : public platform::TcpListener {
 public:
  // Makes the session object for each accepted connection.
  using SessionFactory = std::function<std::shared_ptr<MapConnection>(MapSocket& parent)>;
  // The text that addresses an announcement to every network.
  static constexpr const char* kAllNetworks = "(All Networks)";

  MapSocket(ServerContext& context, SessionFactory factory);
  ~MapSocket() override;

  std::shared_ptr<platform::TcpConnection> Event_AddSocket() override;
  void Event_Error(int64_t code) override;
  // Ends the oldest connection of the server that has not logged in; never a member.
  bool Event_ShedForNewcomer() override;
  // Kick and ban send their notice to each member logged in as `user` on the network named
  // `network`, then remove it (MapConnection::Dismiss).
  void BanUser(MapConnection& admin, const std::string& user, const std::string& reason);
  // The same ban issued by `by` on the network named `network`, for an administrator who is no
  // member here (the operator's console). Returns how many bans were stored, which is how many
  // connections were removed: a ban that cannot be stored removes nobody.
  size_t BanUser(const std::string& by, const std::string& network, const std::string& user,
                 const std::string& reason);
  void BroadcastMessage(std::string_view text, std::string_view networkName);
  void BroadcastPosition(MapConnection& sender);
  // The ceiling's token for a held sender has come: relay the position it holds now.
  void RelayHeldPosition(MapConnection& sender);
  void CallStatusMessage(const std::string& text);
  ServerNetworks* FindNetwork(std::string_view name);
  // Returns how many connections were removed.
  size_t KickUser(const std::string& user, const std::string& network, const std::string& text);
  void SendChatMessage(ServerNetworks* network, MapConnection& sender, std::string_view text);
  void StatusMessage(const std::string& text);

  // Membership. Join makes `connection` a member of its network under `name` once its log-in
  // completes; a member that logs in again is renamed. The name must be free here (NameTaken).
  // Leave ends membership, whatever ends it, and tells the network's remaining members; it does
  // nothing for a connection that is not a member.
  void Join(MapConnection& connection, std::string_view name);
  void Leave(MapConnection& connection);
  // Whether `name` (any letter case) is taken here by another than `self`: by a member, or by a
  // log-in waiting for its record.
  bool NameTaken(std::string_view name, const MapConnection& self) const;
  // A log-in waiting for its record speaks for `name` from the moment it is accepted until it
  // joins or ends (ReleaseName): nobody else here may log in under it meanwhile.
  void HoldName(std::string_view name);
  void ReleaseName(std::string_view name);
  // The members of one network on this listener, in accept order.
  const std::vector<MapConnection*>& Members(const ServerNetworks* network) const;
  // Every active connection, in accept order.
  std::vector<std::shared_ptr<MapConnection>> ActiveConnections() const;

  ServerContext& Context() const { return context_; }
  // Says what this listener is for in its error reports to the operator ("port 5000, network
  // Lobby"); the log line itself stays the bare code.
  void SetErrorLabel(std::string label) { errorLabel_ = std::move(label); }

 protected:
  void ConnectionAccepted(const std::shared_ptr<platform::TcpConnection>& connection) override;
  void ConnectionLeft(platform::TcpConnection& connection) override;

 private:
  // Members by their name without letter case; names are unique here. A member's hash is the
  // one it keeps, so that growing the index hashes no name again.
  struct MemberName {
    using is_transparent = void;
    size_t operator()(const MapConnection* member) const { return member->NameHash(); }
    size_t operator()(std::string_view name) const { return NameHash(name); }
    bool operator()(const MapConnection* a, const MapConnection* b) const {
      return a == b || EqualsIgnoreCase(a->Username(), b->Username());
    }
    bool operator()(const MapConnection* member, std::string_view name) const {
      return EqualsIgnoreCase(member->Username(), name);
    }
    bool operator()(std::string_view name, const MapConnection* member) const {
      return EqualsIgnoreCase(member->Username(), name);
    }
  };

  void ForgetName(MapConnection& member);
  // Who is logged in under `name` here, `self` aside.
  MapConnection* FindMember(std::string_view name, const MapConnection* self) const;
  void AnnounceDeparture(MapConnection& departed);
  // The members logged in as `user` on a network named `network`, in accept order.
  std::vector<MapConnection*> MembersNamed(const std::string& user,
                                           const std::string& network) const;
  void PackRegistry();

  ServerContext& context_;
  SessionFactory factory_;
  std::string errorLabel_;
  uint64_t nextSequence_ = 0;
  // In accept order; the slot of a connection that left stays empty until the list is packed.
  std::vector<std::shared_ptr<MapConnection>> active_;
  size_t activeCount_ = 0;
  // The members of each network that has any, in the order the networks got their first one.
  // Found by identity, never hashed or ordered by address: where the allocator put a record
  // must not change how the server goes about its work (a fuzzer's run would differ with it).
  struct NetworkMembers {
    const ServerNetworks* network;
    std::vector<MapConnection*> members;
  };
  std::vector<NetworkMembers>::iterator FindMembers(const ServerNetworks* network);
  std::vector<NetworkMembers> members_;
  absl::flat_hash_set<MapConnection*, MemberName, MemberName> membersByName_;
  // The names held by log-ins waiting for their record, each with the number of its holders.
  absl::flat_hash_map<std::string, uint32_t, FoldedName, FoldedName> heldNames_;
  // The departures announced in the current pass, shared by their recipients.
  std::shared_ptr<std::string> departures_;
  uint64_t departuresPass_ = 0;
  bool toldRefusal_ = false;
};

}  // namespace velmora
