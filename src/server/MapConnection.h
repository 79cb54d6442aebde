#pragma once
// A connection as the listener that accepted it sees it: the network it named, the name it is
// logged in under, and its last position. Who is logged in is the listener's to decide (Join,
// Leave), so what membership implies is written through a key that only MapSocket can make; the
// session above (ClientSocket) names the network and reports positions.
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

#include "base/TextCase.h"
#include "protocol/Position.h"
#include "protocol/ServerCounters.h"
#include "server/PositionCeiling.h"
#include "transport/EasyTCPSocket.h"

namespace velmora {

class MapSocket;
class ServerNetworks;

// The key to what only a connection's listener writes about it: its membership and its place in
// the listener's registry. Only MapSocket can make one.
class ListenerKey {
  friend class MapSocket;
  ListenerKey() = default;
};

// Who a connection is on its listener: a member under `name`, or, with no name, nobody.
struct Membership {
  std::string name;
  uint64_t nameHash = 0;  // of name without letter case (NameHash): most comparisons end there
};

class MapConnection : public EasyTCPSocket {
 public:
  // The codes "Client Disconnect" logs for the ends the server decides on itself, numbered like
  // the platform's own (ETIMEDOUT, EMFILE, EACCES, ECONNABORTED, EPERM).
  static constexpr int64_t kErrorLoginDeadline = 110;         // no log-in in time
  static constexpr int64_t kErrorShedForNewcomer = 24;        // out of descriptors
  static constexpr int64_t kErrorTooManyWrongPasswords = 13;  // password guessing
  static constexpr int64_t kErrorKicked = 103;                // an administrator's kick
  static constexpr int64_t kErrorBanned = 1;                  // an administrator's ban
  // How long a dismissed connection has to take its notice before it is closed all the same.
  static constexpr std::chrono::milliseconds kNoticeGrace{2000};
  // Past this much unsent output, a member's position reports are conflated: only the newest
  // of each sender waits, so a slow reader gets the present rather than the past. The mark
  // follows what the member drains: a quarter second of it, within these bounds; a member not
  // measured yet (one that keeps up) has the highest, and a queue that filled before its reader
  // was found slow is thinned once the mark falls (see platform::OutputQueue).
  static constexpr size_t kConflationMark = 256u << 10;
  static constexpr size_t kConflationFloor = 2u << 10;
  static constexpr uint32_t kConflationDrainShare = 4;  // the mark: 1/4 s of the drain rate

  explicit MapConnection(MapSocket& parent) : myParent(parent) {}

  // The listener that accepted this connection.
  MapSocket& Parent() const { return myParent; }
  // The network named by the last selection, accepted or not; nothing before one.
  ServerNetworks* Network() const { return myNetwork; }
  // The name the connection is logged in under; "" until log-in.
  const std::string& Username() const { return membership_.name; }
  uint64_t NameHash() const { return membership_.nameHash; }
  // Logged in: a member of Network() on this listener. Only members send and receive what the
  // network shares.
  bool IsMember() const { return !membership_.name.empty(); }
  PositionReport Position() const { return {x_, y_, facet_, hp_, inBattle_, isDead_}; }
  // Whether a report has come: before one, Position() is all zeros, which is also a place.
  bool HasReported() const { return reported_; }
  // Whether `other` is logged in under the same name, letter case aside.
  bool SameName(const MapConnection& other) const {
    return NameHash() == other.NameHash() && EqualsIgnoreCase(Username(), other.Username());
  }
  // Position in the listener's accept order.
  uint64_t AcceptSequence() const { return acceptSequence_; }

  // Ends the connection now for a reason of the server's own, through the departure path a
  // failed connection takes, so that its network and seat are handled as for any end.
  void Depart(int64_t code, DepartureReason reason);
  // Removes the connection on an administrator's word, after the notice just sent to it: it
  // departs at once, exactly as in Depart, so that a client that never reads still loses its
  // seat now, but its connection stays until the notice has gone out (kNoticeGrace at most).
  // Nothing it sends afterwards is handled.
  void Dismiss(int64_t code, DepartureReason reason);

  // For the listener alone (MapSocket::Join and Leave): who the connection is now.
  void SetMembership(ListenerKey, Membership membership) { membership_ = std::move(membership); }
  // For the listener alone: where it keeps the connection.
  void Register(ListenerKey, uint64_t acceptSequence, uint32_t slot) {
    acceptSequence_ = acceptSequence;
    registrySlot_ = slot;
  }
  void MoveInRegistry(ListenerKey, uint32_t slot) { registrySlot_ = slot; }
  uint32_t RegistrySlot() const { return registrySlot_; }
  // For the listener alone: true the first time a chat line of this connection is too long to
  // relay, so that the log says so once per connection.
  bool FirstChatTooLong(ListenerKey) {
    bool first = !toldChatTooLong_;
    toldChatTooLong_ = true;
    return first;
  }
  // For the ceiling alone: how many position reports it may relay now.
  PositionBucket& Bucket(CeilingKey) { return bucket_; }

 protected:
  // A new selection; the caller has left the old network first (MapSocket::Leave).
  void NameNetwork(ServerNetworks* network) { myNetwork = network; }
  // The network prompt has gone out: the log-in deadline runs from now.
  void Prompted();
  void StorePosition(const PositionReport& position) {
    x_ = position.X;
    y_ = position.Y;
    facet_ = position.Facet;
    hp_ = position.HP;
    inBattle_ = position.InBattle;
    isDead_ = position.IsDead;
    reported_ = true;
  }
  size_t ConflationMark() const override;
  // The one departure: logged, counted, its network told and its seat returned. The caller
  // then closes the connection.
  virtual void EndSession(int64_t code, DepartureReason reason) = 0;

  MapSocket& myParent;

 private:
  ServerNetworks* myNetwork = nullptr;
  Membership membership_;
  uint64_t acceptSequence_ = 0;
  // The last position, its numbers here and its flags below: as a PositionReport it would carry
  // padding that no other field could use.
  int64_t x_ = 0;
  int64_t y_ = 0;
  int64_t facet_ = 0;
  int64_t hp_ = 0;
  PositionBucket bucket_;
  // The small ones last, together, and the flags in one byte: every member carries them, and
  // the session's own small fields fill the bytes left after them.
  uint32_t registrySlot_ = 0;  // in the listener's list of active connections
  bool inBattle_ : 1 = false;
  bool isDead_ : 1 = false;
  bool reported_ : 1 = false;
  bool toldChatTooLong_ : 1 = false;
};

}  // namespace velmora
