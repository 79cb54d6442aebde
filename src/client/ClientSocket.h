#pragma once
// One accepted connection as a session: the log-in dialogue, the last position, where the
// client's address lies, and the handling of every message the client sends. Membership, seats
// and bans have owners of their own (MapSocket, Seat, BanStore); the session asks them.
#include <cstdint>
#include <ctime>
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
struct ServerCounters;

class ClientSocket : public MapConnection {
 public:
  // Until its user name is accepted a connection is a stranger: it may send only short
  // frames, have only a few waiting, and be owed only a little output. A real map client's
  // whole dialogue fits many times over.
  static constexpr InputLimits kStrangerInput{4096, 16, 16384};
  static constexpr size_t kStrangerOutput = 16384;
  // The wrong password that ends a connection: guessing costs a new connection every few tries.
  static constexpr int kMaxWrongPasswords = 5;

  ClientSocket(MapSocket& parent, ClientContext& context);
  ~ClientSocket() override;

  void Event_Connected() override;
  void Event_Error(int64_t code) override;
  void Event_ReceivedMessage(int32_t command, std::string_view data) override;
  bool CanLogin(std::string_view name);
  void GetClientInfo();
  bool isAdmin() const;

  // Where the client's address lies, as far as the lookup found out.
  const ClientLocation& Location() const;
  // The network's record of this user, found at log-in by name and address; nothing when the
  // network has no record of both.
  VelmoraUser* User() const { return myUser.get(); }
  // The network on which this connection holds a seat, if any.
  ServerNetworks* SeatNetwork() const { return seat_.Network(); }
  // Established, but not yet prompted: its address is being looked up.
  bool Locating() const { return state_ == LoginState::kLocating; }
  // Its log-in is accepted and waits for the record to be written before its "OK".
  bool Recording() const { return state_ == LoginState::kRecording; }
  // When the connection was established; 0 before.
  std::time_t ConnectedSince() const { return connectedSince_; }
  // Messages this client has sent. Counted with the messages by code, on the relay's path.
  uint64_t MessagesSent() const { return messagesSent_; }

 protected:
  bool ReadyForMessages() const override {
    return state_ != LoginState::kLocating && state_ != LoginState::kRecording;
  }
  void EndSession(int64_t code, DepartureReason reason) override;

 private:
  // How far the dialogue has come. Membership is the listener's to keep (IsMember); a member
  // whose password is refused later stays one, but must give it again before a new name.
  enum class LoginState : uint8_t {
    kLocating,          // established; the lookup runs and no message is handled yet
    kAwaitingNetwork,   // prompted; no selection holds a seat
    kAwaitingPassword,  // the selection took a seat
    kAwaitingUserName,  // the password was accepted for that selection
    kRecording,         // the user name was accepted; until its record is on disk and the
                        // "OK" out, no further message is handled
    kLoggedIn,          // the user name was accepted and recorded
  };
  struct Handler;
  static const Handler* FindHandler(int32_t command);

  // Ends the membership while the connection stays (a new selection, a new name).
  void LeaveNetwork();
  void SelectNetwork(std::string_view name);
  void CheckPassword(std::string_view digest);
  void LogIn(std::string_view name);
  void ReportPosition(std::string_view data);
  void ListMembers(std::string_view);
  void Chat(std::string_view text);
  void AnswerAdminQuery(std::string_view);
  void Kick(std::string_view data);
  void Ban(std::string_view data);
  void Announce(std::string_view text);
  void SendBanList(std::string_view);
  void LiftBan(std::string_view data);
  void SayGoodbye(std::string_view);

  void Answer(ServerCode code, std::string_view text);
  void FinishLogIn();
  void ReleasePendingName();
  void SendPrompt();
  void CancelLookup();
  void Log(const std::string& text);
  void LogReason(std::string_view reason);
  std::shared_ptr<VelmoraUser> FindUserRecord(std::string_view name,
                                              std::string_view address) const;
  ServerCounters& Counters() const;

  // The small fields first: they fill the end of the listener's part of the connection.
  LoginState state_ = LoginState::kLocating;
  uint8_t wrongPasswords_ = 0;
  ClientContext& context_;
  // Out of line: only a located connection has one.
  std::unique_ptr<ClientLocation> location_;
  // Shared with the network's lists: a reload of the network file may drop the record from them
  // while this connection is still logged in as it.
  std::shared_ptr<VelmoraUser> myUser;
  // What the connection holds only while it waits: for the lookup of its address, or for the
  // record of its log-in (the name it takes and the user record it found). Out of line: a
  // member waits for neither.
  struct Waiting {
    Locator::Ticket lookupTicket = 0;
    std::string name;
    std::shared_ptr<VelmoraUser> user;
    bool nameTaken = false;  // the listener holds name for it (MapSocket::HoldName)
  };
  std::unique_ptr<Waiting> waiting_;
  Seat seat_;
  std::time_t connectedSince_ = 0;
  uint64_t messagesSent_ = 0;
};

}  // namespace velmora
