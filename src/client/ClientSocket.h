#pragma once
// One accepted connection as a session: the log-in dialogue, the last position, where the
// client's address lies, and the handling of every message the client sends. Membership, seats
// and bans have owners of their own (MapSocket, Seat, BanStore); the session asks them.
#include <cstdint>
#include <memory>
#include <string>

#include "client/ClientContext.h"
#include "client/Locator.h"
#include "networks/Seat.h"
#include "protocol/MessageCode.h"
#include "server/MapConnection.h"

namespace velmora {

class MapSocket;
class ServerNetworks;
class VelmoraUser;

class ClientSocket : public MapConnection {
 public:
  ClientSocket(MapSocket& parent, ClientContext& context);
  ~ClientSocket() override;

  void Event_Connected() override;
  void Event_Error(int64_t code) override;
  void Event_ReceivedMessage(int32_t command, const std::string& data) override;
  bool CanLogin(const std::string& name);
  void GetClientInfo();
  bool isAdmin() const;
  bool isBanned() const;
  VelmoraUser* getNetworkUser(const std::string& name, const std::string& address) const;

  // Where the client's address lies, as far as the lookup found out.
  const ClientLocation& Location() const { return location_; }
  // The network's record of this user, found at log-in by name and address; nothing when the
  // network has no record of both.
  VelmoraUser* User() const { return myUser; }
  // The network on which this connection holds a seat, if any.
  ServerNetworks* SeatNetwork() const { return seat_.Network(); }

 protected:
  bool ReadyForMessages() const override { return state_ != LoginState::kLocating; }

 private:
  // How far the dialogue has come. Membership is the listener's to keep (IsMember); a member
  // whose password is refused later stays one, but must give it again before a new name.
  enum class LoginState : uint8_t {
    kLocating,          // established; the lookup runs and no message is handled yet
    kAwaitingNetwork,   // prompted; no selection holds a seat
    kAwaitingPassword,  // the selection took a seat
    kAwaitingUserName,  // the password was accepted for that selection
    kLoggedIn,          // the user name was accepted
  };
  struct Handler;
  static const Handler* FindHandler(int32_t command);

  void SelectNetwork(const std::string& name);
  void CheckPassword(const std::string& digest);
  void LogIn(const std::string& name);
  void ReportPosition(const std::string& data);
  void ListMembers(const std::string&);
  void Chat(const std::string& text);
  void AnswerAdminQuery(const std::string&);
  void Kick(const std::string& data);
  void Ban(const std::string& data);
  void Announce(const std::string& text);
  void SendBanList(const std::string&);
  void LiftBan(const std::string& data);
  void SayGoodbye(const std::string&);

  void Answer(MessageCode code, std::string_view text);
  void SendPrompt();
  void CancelLookup();
  void Log(const std::string& text);

  ClientContext& context_;
  ClientLocation location_;
  VelmoraUser* myUser = nullptr;
  Seat seat_;
  Locator::Ticket lookupTicket_ = 0;
  LoginState state_ = LoginState::kLocating;
};

}  // namespace velmora
