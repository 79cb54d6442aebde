#pragma once
// An in-process server for the dispatcher fuzzer: real networks (one read from a network file,
// so that log-ins are registered in it), an in-memory server database, two listeners and their
// ClientSocket objects, driven without sockets. Every message a connection handles, and every
// connection's end, is bracketed: the harness predicts from the state before it what each
// connection must receive, then compares that with what was written, frame by frame.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/ClientSocket.h"
#include "protocol/Message.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"

namespace velmora {
class ServerNetworks;
class VelmoraUser;
}  // namespace velmora

namespace velmora::fuzz {

class Harness;

// The real ClientSocket, with each handled message and its end reported to the harness.
class FuzzClient : public ClientSocket {
 public:
  FuzzClient(MapSocket& parent, ClientContext& context, Harness& harness)
      : ClientSocket(parent, context), harness_(harness) {}
  void Event_ReceivedMessage(int32_t command, std::string_view data) override;
  void Event_Error(int64_t code) override;

 private:
  Harness& harness_;
};

// A frame the peer sent, as the reference cutter cuts the bytes sent so far.
struct SentFrame {
  Message frame;
  int64_t sequence = -1;  // for a position report the harness numbered, its number
};

struct Peer {
  std::shared_ptr<FuzzClient> socket;
  MapSocket* listener = nullptr;
  std::string address;
  std::shared_ptr<platform::MemoryPeer> far;     // the other end of the connection
  std::string received;                          // read from it, not yet whole frames
  std::shared_ptr<std::vector<Message>> inbox;   // every frame written to this connection
  size_t accounted = 0;                       // frames of the inbox already checked
  bool prompted = false;                      // the network prompt has come

  // What the peer sent, cut by the reference cutter.
  std::string sentBytes;
  size_t sentCut = 0;                             // bytes of sentBytes cut into frames
  std::map<size_t, int64_t> numberedAt;           // sentBytes offset -> sequence number
  std::vector<SentFrame> sent;
  bool sentBadLength = false;
  size_t handled = 0;  // messages the connection has handled
  std::string backlog;  // bytes not handed over while the connection had messages waiting
  // Where each handed-over piece of sentBytes ends, and whether it reached the connection
  // before log-in, when it is read with a stranger's limits.
  std::vector<std::pair<size_t, bool>> pushes;

  // The model of the connection's log-in state.
  bool ended = false;
  // Kicked or banned: it left at once, and nothing it sends is handled any more.
  bool dismissed = false;
  int64_t endCode = 0;
  ServerNetworks* seat = nullptr;
  bool passwordAccepted = false;
  int wrongPasswords = 0;
  bool guessedOut = false;  // its last wrong password ended it
  bool admin = false;
  // A log-in accepted into a network with a file: its "OK" comes once the record is on disk.
  bool awaitingOk = false;
  std::string recordingName;
  bool recordingAdmin = false;
  std::map<size_t, int64_t> lastSequenceFrom;  // sender peer -> last relayed number
};

struct BanModelRow {
  int64_t id;
  std::string address;
  std::string by;
  std::string reason;
  std::string network;
};

class Harness {
 public:
  Harness(const std::string& folder);
  ~Harness();

  // Connects a new peer; false when the listener refuses.
  bool Connect(int listener, const std::string& address);
  // Bytes from peer `index`; `numbered` marks the offsets of numbered position reports.
  void Send(size_t index, const std::string& bytes, const std::map<size_t, int64_t>& numbered);
  void Drop(size_t index);
  // Runs passes of the main loop until nothing is queued (bounded).
  void Drain();
  void RunPass(int maxWaitMs = 0);
  // Drops every peer and checks that all seats come back.
  void Finish();

  size_t PeerCount() const { return peers_.size(); }
  bool Alive(size_t index) const;
  int64_t NextSequence() { return ++sequence_; }

  // From the bracketed handlers.
  void BeforeMessage(FuzzClient& client, int32_t command, std::string_view data);
  void AfterMessage(FuzzClient& client);
  void BeforeEnd(FuzzClient& client, int64_t code);
  void AfterEnd(FuzzClient& client);

 private:
  struct Seen {
    bool connected = false;
    bool member = false;
    ServerNetworks* network = nullptr;
    std::string name;
  };
  struct Bracket {
    size_t sender = 0;
    int32_t command = 0;
    std::string data;
    int64_t sequence = -1;
    std::vector<Seen> before;
    // Log-in prediction, made before the handler changes the user list.
    bool loginAccepted = false;
    VelmoraUser* loginRecord = nullptr;
    bool fileKnewName = false;
    size_t usersBefore = 0;
  };

  size_t IndexOf(const FuzzClient& client) const;
  void CutSent(Peer& peer);
  // Writes what every connection has queued and reads it back into the peers' inboxes.
  void Collect();
  void Feed(size_t index);
  void AccountPrompts();
  void AccountRecordedLogIns();
  void CheckNoUnaccountedFrames();
  void CheckSeats() const;
  // Members of `network` on `listener` in the state before, in accept order.
  std::vector<size_t> MembersBefore(const Bracket& bracket, const ServerNetworks* network,
                                    const MapSocket* listener) const;
  ServerNetworks* FindNetwork(const std::string& name) const;
  void PredictLogIn(Bracket& bracket);
  void Expect(std::map<size_t, std::vector<Message>>& expected, size_t peer, Message frame,
              const Bracket& bracket) const;
  void ExpectMessageOutcome(Bracket& bracket, std::map<size_t, std::vector<Message>>& expected);
  void ExpectAdminOutcome(const Bracket& bracket, std::map<size_t, std::vector<Message>>& expected);
  void CompareInboxes(const Bracket& bracket,
                      const std::map<size_t, std::vector<Message>>& expected);
  void CheckRegistration(const Bracket& bracket) const;
  // A log-in answered "OK" after its record was written: the file on disk holds the name.
  void CheckRecorded(const Peer& peer) const;

  std::string folder_;
  std::string lobbyFile_;
  testing::ServerHarness server_;
  ServerNetworks* lobby_ = nullptr;
  std::vector<MapSocket*> listeners_;
  std::vector<Peer> peers_;
  std::vector<BanModelRow> bans_;
  std::map<std::string, int> wrongByAddress_;  // wrong passwords per address (inputs run in a minute)
  std::vector<Bracket> open_;  // the bracket of the handler running now
  int64_t sequence_ = 1000000000000;
};

}  // namespace velmora::fuzz
