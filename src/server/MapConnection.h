#pragma once
// A connection as the listener that accepted it sees it: the network it named, the name it is
// logged in under, and its last position. Who is logged in is the listener's to decide (Join,
// Leave), so the fields that membership implies are written by MapSocket alone; the session
// above (ClientSocket) names the network and reports positions.
#include <chrono>
#include <cstdint>
#include <string>

#include "base/TextCase.h"
#include "protocol/Position.h"
#include "transport/EasyTCPSocket.h"

namespace velmora {

class MapSocket;
class PendingLogins;
struct PendingPlace;
class ServerNetworks;

class MapConnection : public EasyTCPSocket {
 public:
  // The codes "Client Disconnect" logs for the ends the server decides on itself, numbered like
  // the platform's own (ETIMEDOUT, EMFILE, EACCES).
  static constexpr int64_t kErrorLoginDeadline = 110;         // no log-in in time
  static constexpr int64_t kErrorShedForNewcomer = 24;        // out of descriptors
  static constexpr int64_t kErrorTooManyWrongPasswords = 13;  // password guessing
  // Past this much unsent output, a member's position reports are conflated: only the newest
  // of each sender waits, so a slow reader gets the present rather than the past.
  static constexpr size_t kConflationMark = 256u << 10;

  explicit MapConnection(MapSocket& parent) : myParent(parent) {}
  ~MapConnection() override;

  // The network named by the last selection, accepted or not; nothing before one.
  ServerNetworks* Network() const { return myNetwork; }
  // The name the connection is logged in under; "" until log-in.
  const std::string& Username() const { return username_; }
  // Logged in: a member of Network() on this listener. Only members send and receive what the
  // network shares.
  bool IsMember() const { return member_; }
  const PositionReport& Position() const { return position_; }
  // Whether `other` is logged in under the same name, letter case aside.
  bool SameName(const MapConnection& other) const {
    return nameHash_ == other.nameHash_ && EqualsIgnoreCase(username_, other.username_);
  }
  // Position in the listener's accept order.
  uint64_t AcceptSequence() const { return acceptSequence_; }

  // Ends the connection now, through the departure path a failed connection takes, so that its
  // network and seat are handled as for any end.
  void Depart(int64_t code) { Event_Error(code); }

 protected:
  // A new selection; the caller has left the old network first (MapSocket::Leave).
  void NameNetwork(ServerNetworks* network) { myNetwork = network; }
  // The network prompt has gone out: the log-in deadline runs from now.
  void Prompted();
  void StorePosition(const PositionReport& position) { position_ = position; }
  size_t ConflationMark() const override { return kConflationMark; }

  MapSocket& myParent;

 private:
  friend class MapSocket;
  friend class PendingLogins;

  ServerNetworks* myNetwork = nullptr;
  std::string username_;
  uint64_t nameHash_ = 0;  // of username_ without letter case: most comparisons end there
  uint64_t acceptSequence_ = 0;
  // Place among the connections that have not logged in (PendingLogins); members have none,
  // so it is kept out of line.
  PendingPlace* pendingPlace_ = nullptr;
  PositionReport position_;
  uint32_t registrySlot_ = 0;  // in the listener's list of active connections
  bool member_ = false;
  bool toldChatTooLong_ = false;
};

}  // namespace velmora
