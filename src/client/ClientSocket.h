#pragma once
// One accepted connection: which network it chose, under which name it logged in, its last
// position, and where its address lies. Its handlers are the server's whole protocol.
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/Position.h"
#include "transport/EasyTCPSocket.h"

namespace velmora {

class MapSocket;
class ServerNetworks;
class VelmoraUser;
namespace platform {
struct Picture;
}

class ClientSocket : public EasyTCPSocket {
 public:
  explicit ClientSocket(MapSocket& parent);
  ~ClientSocket() override;

  void Event_Connected() override;
  void Event_Error(int64_t code) override;
  void Event_ReceivedMessage(int32_t command, const std::string& data) override;
  bool CanLogin(const std::string& name);
  void GetClientInfo();
  bool isAdmin() const;
  bool isBanned() const;
  VelmoraUser* getNetworkUser(const std::string& name, const std::string& address) const;

  std::string ClientCity;
  std::string ClientCountry;
  std::shared_ptr<const platform::Picture> ClientFlag;
  std::string ClientState;
  std::string ClientTimeZone;
  std::string ClientZip;
  int64_t Facet = 0;
  int64_t HP = 0;
  bool InBattle = false;
  bool IsDead = false;
  ServerNetworks* myNetwork = nullptr;
  MapSocket& myParent;
  std::string Username;
  int64_t X = 0;
  int64_t Y = 0;
  VelmoraUser* myUser = nullptr;
  PositionReport Position() const { return {X, Y, Facet, HP, InBattle, IsDead}; }

  // Position in the listener's accept order.
  uint64_t AcceptSequence = 0;
  // Logged in: password and user name accepted for the selected network. Only members send
  // and receive what the network shares.
  bool IsMember() const { return member_; }
  void SetMember(bool member) { member_ = member; }
  // The network on which this connection holds a seat, if any.
  ServerNetworks* SeatNetwork() const { return seat_; }

 protected:
  bool ReadyForMessages() const override { return prompted_; }

 private:
  void SelectNetwork(const std::string& name);
  void CheckPassword(const std::string& digest);
  void LogIn(const std::string& name);
  void ReportPosition(const std::string& data);
  void ListMembers();
  void HandleAdminCommand(int32_t command, const std::string& data);
  void SendBanList();
  void LiftBan(const std::string& data);
  // Ends membership of the current network, as a departure the other members hear of.
  void LeaveNetwork();
  void ReleaseSeat();
  void SendPrompt();
  void CancelLookup();
  void Log(const std::string& text);

  ServerNetworks* seat_ = nullptr;
  uint64_t lookupTicket_ = 0;
  bool passwordAccepted_ = false;
  bool member_ = false;
  bool prompted_ = false;
};

}  // namespace velmora
