#include "DispatcherHarness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "FuzzSupport.h"
#include "base/NumberText.h"
#include "base/TextCase.h"
#include "base/Log.h"
#include "networks/NetworkFiles.h"
#include "networks/ServerNetworks.h"
#include "platform/net/EventLoop.h"
#include "platform/net/MemoryChannel.h"
#include "platform/adapters/Md5.h"
#include "platform/adapters/SqliteDatabase.h"
#include "protocol/Position.h"
#include "protocol/UserName.h"
#include "client/PasswordGuesses.h"
#include "server/BanStore.h"
#include "protocol/FrameCodec.h"

namespace velmora::fuzz {

namespace {

constexpr const char* kLobbyFile =
    "<?xml version=\"1.0\"?>\n"
    "<velmora><network name=\"Lobby\" password=\"pw\" maxusers=\"3\" enabled=\"1\" port=\"0\">\n"
    "  <User Name=\"Root\" LastIP=\"10.0.0.1\" IsAdmin=\"1\"/>\n"
    "  <User Name=\"Ann\" LastIP=\"10.0.0.2\"/>\n"
    "  <User Name=\"Mallory\" LastIP=\"10.0.0.3\" IsBanned=\"1\"/>\n"
    "</network></velmora>\n";

std::shared_ptr<ServerNetworks> MemoryNetwork(const std::string& name, const std::string& password,
                                              int64_t maxUsers, bool enabled,
                                              const std::string& adminName = "",
                                              const std::string& adminAddress = "") {
  auto network = std::make_shared<ServerNetworks>(name, password, maxUsers, enabled);
  if (!adminName.empty()) {
    auto admin = std::make_shared<VelmoraUser>();
    admin->Name = adminName;
    admin->LastIP = adminAddress;
    admin->IsAdmin = true;
    network->AddUser(admin);
    network->Admins.push_back(admin);
  }
  return network;
}

std::string Describe(const Message& frame) {
  std::string text = std::to_string(frame.command) + " \"";
  for (unsigned char c : frame.data.substr(0, 40)) {
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789abcdef";
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  return text + (frame.data.size() > 40 ? "...\"" : "\"");
}

std::string Describe(const std::vector<Message>& frames) {
  std::string text = "[";
  for (auto& frame : frames) text += (text.size() > 1 ? ", " : "") + Describe(frame);
  return text + "]";
}

// The part of `payload` up to the first `separator`, and what follows it up to the next.
std::pair<std::string, std::string> TwoFields(const std::string& payload, char separator) {
  size_t first = payload.find(separator);
  if (first == std::string::npos) return {payload, ""};
  size_t second = payload.find(separator, first + 1);
  return {payload.substr(0, first),
          payload.substr(first + 1, second == std::string::npos ? std::string::npos
                                                                 : second - first - 1)};
}

// VELMORA_FUZZ_TRACE=1 shows what an input does, to check that a seed reaches its states.
bool Tracing() {
  static const bool trace = std::getenv("VELMORA_FUZZ_TRACE") != nullptr;
  return trace;
}

std::string PositionOf(const ClientSocket& member) {
  return MemberPositionText(member.Username(), member.Position());
}

}  // namespace

void FuzzClient::Event_ReceivedMessage(int32_t command, std::string_view data) {
  auto keepAlive = shared_from_this();
  harness_.BeforeMessage(*this, command, data);
  ClientSocket::Event_ReceivedMessage(command, data);
  harness_.AfterMessage(*this);
}

void FuzzClient::Event_Error(int64_t code) {
  auto keepAlive = shared_from_this();
  harness_.BeforeEnd(*this, code);
  ClientSocket::Event_Error(code);
  harness_.AfterEnd(*this);
}

Harness::Harness(const std::string& folder)
    : folder_(folder), server_({.simulatedTime = true}) {
  lobbyFile_ = folder_ + "/lobby.conf";
  WriteFile(lobbyFile_, kLobbyFile);
  auto& networks = server_.Networks();
  lobby_ = &server_.LoadNetwork(lobbyFile_);
  networks.push_back(MemoryNetwork("Arena", "", 2, true, "Boss", "::1"));
  networks.push_back(MemoryNetwork(MapSocket::kAllNetworks, "x", 2, true, "Op", "127.0.0.1"));
  networks.push_back(MemoryNetwork("Off", "", 5, false));
  networks.push_back(MemoryNetwork("Zero", "", 0, true));
  server_.OpenDatabase(":memory:");
  for (int i = 0; i < 2; ++i)
    listeners_.push_back(&server_.AddListener([this](MapSocket& parent) {
      return std::make_shared<FuzzClient>(parent, server_.Clients(), *this);
    }));
}

Harness::~Harness() { peers_.clear(); }

bool Harness::Alive(size_t index) const {
  return index < peers_.size() && !peers_[index].ended && peers_[index].socket->IsConnected();
}

size_t Harness::IndexOf(const FuzzClient& client) const {
  for (size_t i = 0; i < peers_.size(); ++i)
    if (peers_[i].socket.get() == &client) return i;
  CheckFailed(__FILE__, __LINE__, "a connection the harness did not make");
}

bool Harness::Connect(int listener, const std::string& address) {
  Peer peer;
  peer.listener = listeners_[static_cast<size_t>(listener) % listeners_.size()];
  peer.address = address;
  peer.inbox = std::make_shared<std::vector<Message>>();
  auto [channel, far] = platform::MemoryChannel::Make(address);
  peer.far = std::move(far);
  auto connection = peer.listener->AcceptChannel(std::move(channel));
  if (!connection) return false;
  peer.socket = std::static_pointer_cast<FuzzClient>(connection);
  peers_.push_back(std::move(peer));
  size_t index = peers_.size() - 1;
  // Other connections' messages and ends may be handled while the prompt is on its way.
  for (int pass = 0; pass < 50 && !peers_[index].prompted; ++pass) RunPass();
  FUZZ_CHECK(peers_[index].prompted, "a new connection was never prompted");
  if (Tracing()) std::fprintf(stderr, "peer %zu connects from %s\n", peers_.size() - 1,
                              address.c_str());
  CheckNoUnaccountedFrames();
  return true;
}

void Harness::Collect() {
  for (auto& peer : peers_) {
    // A kicked or banned connection still writes its notice.
    peer.socket->Flush();
    peer.received += peer.far->Take();
    size_t at = 0;
    for (;;) {
      CutResult cut = CutFrame(std::string_view(peer.received).substr(at));
      FUZZ_CHECK(cut.status != CutStatus::kBadLength, "the server wrote a frame it would refuse");
      if (cut.status != CutStatus::kFrame) break;
      peer.inbox->push_back({cut.command, std::string(cut.data)});
      at += cut.consumed;
    }
    peer.received.erase(0, at);
  }
}

void Harness::CutSent(Peer& peer) {
  while (!peer.sentBadLength) {
    std::string_view rest = std::string_view(peer.sentBytes).substr(peer.sentCut);
    // A frame's length is checked once its first four bytes are read, against the limits of
    // the moment.
    bool stranger = false;
    for (auto& [end, strict] : peer.pushes)
      if (end > peer.sentCut + 3) {
        stranger = strict;
        break;
      }
    int32_t longest = stranger ? static_cast<int32_t>(ClientSocket::kStrangerInput.maxFrame)
                               : kMaxFrameLength;
    CutResult cut = CutFrame(rest, longest);
    if (cut.status == CutStatus::kNeedMore) break;
    if (cut.status == CutStatus::kBadLength) {
      peer.sentBadLength = true;
      break;
    }
    SentFrame sent{{cut.command, std::string(cut.data)}, -1};
    auto numbered = peer.numberedAt.find(peer.sentCut);
    if (numbered != peer.numberedAt.end() && cut.command == 4) sent.sequence = numbered->second;
    peer.sent.push_back(std::move(sent));
    peer.sentCut += cut.consumed;
  }
}

void Harness::Send(size_t index, const std::string& bytes,
                   const std::map<size_t, int64_t>& numbered) {
  if (!Alive(index)) return;
  Peer& peer = peers_[index];
  for (auto& [offset, sequence] : numbered)
    peer.numberedAt[peer.sentBytes.size() + peer.backlog.size() + offset] = sequence;
  peer.backlog += bytes;
  Feed(index);
}

void Harness::Feed(size_t index) {
  Peer& peer = peers_[index];
  if (peer.backlog.empty() || !Alive(index)) return;
  // Bytes are handed over only while nothing waits unread, a piece at most as large as a
  // stranger may have waiting, so that each piece is read at once, under the limits that the
  // connection's state before it gives.
  if (peer.socket->QueuedMessageCount() > 0 || peer.far->Pending() > 0) return;
  size_t size = std::min<size_t>(peer.backlog.size(), ClientSocket::kStrangerInput.maxQueuedBytes);
  std::string bytes = peer.backlog.substr(0, size);
  peer.backlog.erase(0, size);
  peer.pushes.emplace_back(peer.sentBytes.size() + bytes.size(), !peer.socket->IsMember());
  peer.far->Push(bytes);
  peer.socket->PollNow();  // read now, as a socket's readiness would in this pass
  peer.sentBytes += bytes;
  CutSent(peer);
}

void Harness::Drop(size_t index) {
  if (Alive(index)) {
    peers_[index].socket->Fail(platform::TcpConnection::kErrorLostConnection);
    return;
  }
  // A kicked or banned connection is closed once its peer closes too.
  if (index < peers_.size() && !peers_[index].ended) peers_[index].far->CloseWrite();
}

void Harness::RunPass(int maxWaitMs) {
  platform::EventLoop::Instance().RunOnce(maxWaitMs);
  CheckNoUnaccountedFrames();
  CheckSeats();
}

void Harness::Drain() {
  auto& loop = platform::EventLoop::Instance();
  for (int pass = 0; pass < 2000; ++pass) {
    bool queued = false;
    for (size_t i = 0; i < peers_.size(); ++i) {
      Feed(i);
      if (Alive(i) && (peers_[i].socket->QueuedMessageCount() > 0 || !peers_[i].backlog.empty()))
        queued = true;
    }
    // A record waits for others to join it: the manual time runs on to when it is written.
    bool recording = server_.RecordsWaiting() > 0;
    RunPass(recording ? 1 : 0);
    if (!queued && !recording && !loop.HasPendingWork()) break;
  }
  RunPass();  // handlers that the last pass posted, such as a connection's end
  for (size_t i = 0; i < peers_.size(); ++i) {
    const Peer& peer = peers_[i];
    if (peer.ended || peer.dismissed) continue;
    FUZZ_CHECK(peer.socket->QueuedMessageCount() == 0, "messages left after draining");
    FUZZ_CHECK(peer.handled == peer.sent.size(),
               "peer " + std::to_string(i) + " handled " + std::to_string(peer.handled) + " of " +
                   std::to_string(peer.sent.size()) + " messages it sent");
    FUZZ_CHECK(!peer.sentBadLength, "a connection that broke the framing is still open");
  }
}

void Harness::Finish() {
  for (size_t i = 0; i < peers_.size(); ++i) Drop(i);
  Drain();
  for (auto& network : server_.Networks())
    FUZZ_CHECK(network->CurrentUsers == 0,
               network->NetworkName + " keeps " + std::to_string(network->CurrentUsers) +
                   " seats after every connection ended");
  for (auto& listener : listeners_) {
    FUZZ_CHECK(listener->ActiveConnections().empty(), "ended connections left in the registry");
    FUZZ_CHECK(listener->ActiveConnectionCount() == 0, "ended connections still counted");
  }
}

void Harness::AccountPrompts() {
  Collect();
  // The network prompt comes first, once the connection has been set up.
  for (auto& peer : peers_) {
    if (peer.prompted || peer.inbox->empty()) continue;
    FUZZ_CHECK((peer.inbox->front() == Message{1, "Network"}),
               "a new connection got " + Describe(*peer.inbox) + " instead of the prompt");
    peer.prompted = true;
    peer.accounted = 1;
  }
}

void Harness::AccountRecordedLogIns() {
  // A recorded log-in's "OK" comes from no handler, and before anything else that no handler
  // accounts for: a peer that was no member hears nothing of its network until then.
  for (auto& peer : peers_) {
    if (!peer.awaitingOk || peer.inbox->size() <= peer.accounted) continue;
    FUZZ_CHECK(((*peer.inbox)[peer.accounted] == Message{4, "OK"}),
               "a log-in waiting for its record got " +
                   Describe(std::vector<Message>(
                       peer.inbox->begin() + static_cast<long>(peer.accounted), peer.inbox->end())));
    ++peer.accounted;
    peer.awaitingOk = false;
    FUZZ_CHECK(peer.socket->IsMember() && peer.socket->Username() == peer.recordingName,
               "answered OK but not logged in");
    peer.admin = peer.recordingAdmin;
    CheckRecorded(peer);
  }
}

void Harness::CheckNoUnaccountedFrames() {
  AccountPrompts();
  if (!open_.empty()) return;
  AccountRecordedLogIns();
  for (size_t i = 0; i < peers_.size(); ++i)
    FUZZ_CHECK(peers_[i].inbox->size() == peers_[i].accounted,
               "peer " + std::to_string(i) + " got frames outside any handler: " +
                   Describe(std::vector<Message>(peers_[i].inbox->begin() +
                                                   static_cast<long>(peers_[i].accounted),
                                               peers_[i].inbox->end())));
}

void Harness::CheckSeats() const {
  for (auto& network : server_.Networks()) {
    int64_t held = 0;
    for (auto& peer : peers_)
      if (!peer.ended && peer.socket->SeatNetwork() == network.get()) ++held;
    FUZZ_CHECK(network->CurrentUsers == held,
               network->NetworkName + " counts " + std::to_string(network->CurrentUsers) +
                   " seats, its connections hold " + std::to_string(held));
    FUZZ_CHECK(network->CurrentUsers >= 0 &&
                   network->CurrentUsers <= std::max<int64_t>(network->MaxUsers, 0),
               network->NetworkName + " seat count out of range");
  }
  for (size_t i = 0; i < peers_.size(); ++i) {
    const Peer& peer = peers_[i];
    if (peer.ended) continue;
    const FuzzClient& client = *peer.socket;
    FUZZ_CHECK(client.SeatNetwork() == peer.seat, "peer " + std::to_string(i) +
                                                      " holds another seat than predicted");
    if (client.IsMember()) {
      FUZZ_CHECK(client.SeatNetwork() == client.Network() && !client.Username().empty(),
                 "a member without a seat or a name");
      for (size_t j = 0; j < i; ++j)
        FUZZ_CHECK(peers_[j].ended || peers_[j].listener != peer.listener ||
                       !peers_[j].socket->IsMember() ||
                       !EqualsIgnoreCase(peers_[j].socket->Username(), client.Username()),
                   "two members of one listener share the name " + client.Username());
    }
  }
}

ServerNetworks* Harness::FindNetwork(const std::string& name) const {
  for (auto& network : server_.Networks())
    if (EqualsIgnoreCase(network->NetworkName, name)) return network.get();
  return nullptr;
}

std::vector<size_t> Harness::MembersBefore(const Bracket& bracket, const ServerNetworks* network,
                                           const MapSocket* listener) const {
  std::vector<size_t> members;
  for (size_t i = 0; i < bracket.before.size(); ++i)
    if (bracket.before[i].member && bracket.before[i].network == network &&
        peers_[i].listener == listener)
      members.push_back(i);
  return members;
}

void Harness::BeforeMessage(FuzzClient& client, int32_t command, std::string_view data) {
  FUZZ_CHECK(open_.empty(), "a handler ran inside another");
  CheckNoUnaccountedFrames();
  size_t index = IndexOf(client);
  Peer& peer = peers_[index];
  FUZZ_CHECK(!peer.ended && client.IsConnected(), "a message was delivered after the end");
  Message message{command, std::string(data)};
  bool inOrder = peer.handled < peer.sent.size() && peer.sent[peer.handled].frame == message;
  FUZZ_CHECK(inOrder, "peer " + std::to_string(index) + " handled " + Describe(message) +
                          " as message " + std::to_string(peer.handled) + " of " +
                          std::to_string(peer.sent.size()) + " sent");
  Bracket bracket;
  bracket.sender = index;
  bracket.command = command;
  bracket.data = data;
  bracket.sequence = peer.sent[peer.handled].sequence;
  ++peer.handled;
  for (auto& other : peers_) {
    const FuzzClient& c = *other.socket;
    bracket.before.push_back({!other.ended && c.IsConnected(), !other.ended && c.IsMember(),
                              c.Network(), c.Username()});
  }
  if (command == 3) PredictLogIn(bracket);
  open_.push_back(std::move(bracket));
}

void Harness::PredictLogIn(Bracket& bracket) {
  const Peer& peer = peers_[bracket.sender];
  const Seen& self = bracket.before[bracket.sender];
  ServerNetworks* network = self.network;
  const std::string& name = bracket.data;
  if (!peer.passwordAccepted || network == nullptr || !IsAcceptableUserName(name)) return;
  for (auto& user : network->Users())
    if (EqualsIgnoreCase(user->Name, name) && EqualsIgnoreCase(user->LastIP, peer.address)) {
      bracket.loginRecord = user.get();
      break;
    }
  for (auto& banned : network->Bans)
    if (banned.get() == bracket.loginRecord && bracket.loginRecord != nullptr) return;
  for (auto& row : bans_)
    if (EqualsIgnoreCase(row.address, peer.address) &&
        EqualsIgnoreCase(row.network, network->NetworkName))
      return;
  // A name is taken by a member of the listener, or by a log-in waiting for its record.
  for (size_t i = 0; i < bracket.before.size(); ++i) {
    if (i == bracket.sender || peers_[i].listener != peer.listener) continue;
    if (bracket.before[i].member && EqualsIgnoreCase(bracket.before[i].name, name)) return;
    if (peers_[i].awaitingOk && EqualsIgnoreCase(peers_[i].recordingName, name)) return;
  }
  bracket.loginAccepted = true;
  bracket.usersBefore = network->Users().size();
  if (network == lobby_) {
    auto file = modGlobal::ReadNetworkXML(lobbyFile_);
    FUZZ_CHECK(file != nullptr, "the lobby file no longer loads");
    for (auto& user : file->Users())
      if (EqualsIgnoreCase(user->Name, name)) bracket.fileKnewName = true;
  }
}

void Harness::Expect(std::map<size_t, std::vector<Message>>& expected, size_t peer, Message frame,
                     const Bracket& bracket) const {
  // A connection that has failed but not yet ended drops what is sent to it.
  if (bracket.before[peer].connected) expected[peer].push_back(std::move(frame));
}

void Harness::AfterMessage(FuzzClient& client) {
  FUZZ_CHECK(open_.size() == 1, "unbalanced handler brackets");
  Collect();
  Bracket bracket = std::move(open_.back());
  open_.pop_back();
  if (Tracing())
    std::fprintf(stderr, "peer %zu %s\n", bracket.sender,
                 Describe(Message{bracket.command, bracket.data}).c_str());
  std::map<size_t, std::vector<Message>> expected;
  ExpectMessageOutcome(bracket, expected);
  CompareInboxes(bracket, expected);
  CheckSeats();
}

void Harness::ExpectMessageOutcome(Bracket& bracket,
                                   std::map<size_t, std::vector<Message>>& expected) {
  size_t s = bracket.sender;
  Peer& peer = peers_[s];
  FuzzClient& client = *peer.socket;
  const Seen& self = bracket.before[s];
  const std::string& data = bracket.data;
  switch (bracket.command) {
    case 1: {
      if (self.member)
        for (size_t r : MembersBefore(bracket, self.network, peer.listener))
          if (r != s) Expect(expected, r, {6, self.name}, bracket);
      ServerNetworks* found = FindNetwork(data);
      int64_t heldByOthers = 0;
      for (size_t i = 0; i < peers_.size(); ++i)
        if (i != s && !peers_[i].ended && peers_[i].seat == found) ++heldByOthers;
      bool accepted = found && found->Enabled && heldByOthers < found->MaxUsers;
      Expect(expected, s, {2, accepted ? "OK" : "FAIL"}, bracket);
      peer.seat = accepted ? found : nullptr;
      peer.passwordAccepted = false;
      peer.admin = false;
      FUZZ_CHECK(client.Network() == found && !client.IsMember() && client.Username().empty(),
                 "a network selection left the connection in another state");
      break;
    }
    case 2: {
      bool seated = self.network != nullptr && peer.seat == self.network;
      // Past its allowance an address's passwords are refused unchecked.
      bool checked = seated && wrongByAddress_[peer.address] < PasswordGuesses::kMaxWrongPerAddress;
      bool accepted = checked && platform::Md5Digest(self.network->Password) == data;
      if (checked && !accepted) {
        ++wrongByAddress_[peer.address];
        peer.guessedOut = ++peer.wrongPasswords >= ClientSocket::kMaxWrongPasswords;
      }
      // The wrong password that ends the connection gets no answer.
      if (!peer.guessedOut) Expect(expected, s, {3, accepted ? "OK" : "FAIL"}, bracket);
      peer.passwordAccepted = accepted;
      FUZZ_CHECK(client.IsMember() == self.member && client.Username() == self.name,
                 "a password message changed the log-in");
      break;
    }
    case 3: {
      bool admin = false;
      if (bracket.loginAccepted && bracket.loginRecord != nullptr)
        for (auto& record : self.network->Admins) admin = admin || record.get() == bracket.loginRecord;
      // A member that takes another name leaves under the old one first.
      if (bracket.loginAccepted && self.member && self.name != data)
        for (size_t r : MembersBefore(bracket, self.network, peer.listener))
          if (r != s) Expect(expected, r, {6, self.name}, bracket);
      if (client.Recording()) {
        // Its record goes to the network's file first; the "OK" follows once it is on disk.
        FUZZ_CHECK(bracket.loginAccepted, "a refused log-in waits for a record");
        FUZZ_CHECK(self.network == lobby_, "a log-in to a network without a file waits");
        peer.awaitingOk = true;
        peer.recordingName = data;
        peer.recordingAdmin = admin;
        break;
      }
      Expect(expected, s, {4, bracket.loginAccepted ? "OK" : "FAIL"}, bracket);
      if (bracket.loginAccepted) {
        FUZZ_CHECK(client.IsMember() && client.Username() == data, "accepted but not logged in");
        peer.admin = admin;
        CheckRegistration(bracket);
      } else {
        FUZZ_CHECK(client.IsMember() == self.member && client.Username() == self.name,
                   "a refused log-in changed the log-in");
      }
      break;
    }
    case 4: {
      size_t comma = data.find(',');
      std::string first = data.substr(0, comma);
      if (!first.empty() && first.size() < 18 &&
          first.find_first_not_of("0123456789") == std::string::npos)
        FUZZ_CHECK(client.Position().X == std::stoll(first),
                   "X read as " + std::to_string(client.Position().X));
      if (bracket.sequence >= 0)
        FUZZ_CHECK(client.Position().X == bracket.sequence, "a numbered report lost its number");
      bool relayed = self.member && client.Position().Relayable();
      if (!relayed) break;
      for (size_t r : MembersBefore(bracket, self.network, peer.listener)) {
        if (EqualsIgnoreCase(bracket.before[r].name, self.name)) continue;
        Expect(expected, r, {5, PositionOf(client)}, bracket);
        if (bracket.sequence >= 0 && bracket.before[r].connected) {
          int64_t& last = peers_[r].lastSequenceFrom[s];
          FUZZ_CHECK(bracket.sequence > last, "position reports relayed out of order");
          last = bracket.sequence;
        }
      }
      break;
    }
    case 5:
      if (!self.member) break;
      for (size_t m : MembersBefore(bracket, self.network, peer.listener))
        if (m != s) Expect(expected, s, {5, PositionOf(*peers_[m].socket)}, bracket);
      break;
    case 7:
      if (!self.member || data.empty()) break;
      if (self.name.size() + 1 + data.size() > kMaxPayloadLength) break;  // beyond the bound
      for (size_t r : MembersBefore(bracket, self.network, peer.listener))
        if (r != s) Expect(expected, r, {7, self.name + std::string(1, '\0') + data}, bracket);
      break;
    case 9: Expect(expected, s, {9, peer.admin ? "1" : "0"}, bracket); break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
      if (peer.admin) ExpectAdminOutcome(bracket, expected);
      break;
    case 999: Expect(expected, s, {999, "BYE"}, bracket); break;
    default: break;
  }
}

void Harness::ExpectAdminOutcome(const Bracket& bracket,
                                 std::map<size_t, std::vector<Message>>& expected) {
  size_t s = bracket.sender;
  const Peer& peer = peers_[s];
  const Seen& self = bracket.before[s];
  const std::string& networkName = self.network->NetworkName;
  const std::string& data = bracket.data;
  auto fields = TwoFields(data, '|');
  const std::string& user = fields.first;
  const std::string& text = fields.second;
  // Members of this listener logged in as `user` on a network of the administrator's name.
  auto targets = [&] {
    std::vector<size_t> found;
    for (size_t i = 0; i < bracket.before.size(); ++i) {
      const Seen& seen = bracket.before[i];
      if (seen.member && peers_[i].listener == peer.listener &&
          EqualsIgnoreCase(seen.network->NetworkName, networkName) &&
          EqualsIgnoreCase(seen.name, user))
        found.push_back(i);
    }
    return found;
  };
  // A target hears its notice and nothing more: it leaves its network at once, seat and all.
  auto departs = [&](size_t t) {
    peers_[t].seat = nullptr;
    peers_[t].dismissed = true;
    // A new name it was waiting to have recorded is given up, and free for others at once.
    peers_[t].awaitingOk = false;
    for (size_t r : MembersBefore(bracket, bracket.before[t].network, peer.listener))
      if (r != t) Expect(expected, r, {6, bracket.before[t].name}, bracket);
  };
  switch (bracket.command) {
    case 10:
      for (size_t t : targets()) Expect(expected, t, {996, text}, bracket);
      for (size_t t : targets()) departs(t);
      break;
    case 11:
      for (size_t t : targets()) {
        Expect(expected, t, {997, text}, bracket);
        departs(t);
        int64_t id = 1;
        for (auto& row : bans_) id = std::max(id, row.id + 1);
        bans_.push_back({id, peers_[t].address, self.name, text,
                         bracket.before[t].network->NetworkName});
      }
      break;
    case 12: {
      if (data.empty()) break;
      bool everyNetwork = EqualsIgnoreCase(networkName, MapSocket::kAllNetworks);
      for (size_t i = 0; i < bracket.before.size(); ++i) {
        const Seen& seen = bracket.before[i];
        if (seen.member && peers_[i].listener == peer.listener &&
            (everyNetwork || EqualsIgnoreCase(seen.network->NetworkName, networkName)))
          Expect(expected, i, {998, data}, bracket);
      }
      break;
    }
    case 13: {
      // The date and time of a row are the host's notation: checked for shape only.
      const std::vector<Message>& inbox = *peer.inbox;
      FUZZ_CHECK(inbox.size() == peer.accounted + 1 && inbox.back().command == 13,
                 "the ban list is not one code-13 frame");
      const std::string& list = inbox.back().data;
      size_t at = 0;
      for (auto& row : bans_) {
        if (!EqualsIgnoreCase(row.network, networkName)) continue;
        std::string head =
            std::to_string(row.id) + "|" + row.address + "|" + row.by + "|" + row.reason + "|";
        // The list ends early only where the next row would carry it past the frame bound (its
        // date and time take well under 64 bytes).
        if (at == list.size() && at + head.size() + 64 > kMaxPayloadLength) break;
        FUZZ_CHECK(list.compare(at, head.size(), head) == 0,
                   "the ban list lacks row " + std::to_string(row.id));
        at = list.find('\0', at + head.size());
        FUZZ_CHECK(at != std::string::npos, "a ban list row without its end");
        ++at;
      }
      FUZZ_CHECK(at == list.size(), "the ban list holds more rows than the table");
      Expect(expected, s, inbox.back(), bracket);
      break;
    }
    case 14:
      if (!BeginsWithNumber(data)) break;
      std::erase_if(bans_, [&](const BanModelRow& row) {
        return row.id == ReadInteger(data) && EqualsIgnoreCase(row.network, networkName);
      });
      break;
  }
}

void Harness::CheckRecorded(const Peer& peer) const {
  auto file = modGlobal::ReadNetworkXML(lobbyFile_);
  FUZZ_CHECK(file != nullptr, "the lobby file does not load after a log-in was recorded");
  bool found = false;
  for (auto& user : file->Users()) found = found || EqualsIgnoreCase(user->Name, peer.recordingName);
  // A name the file cannot hold well-formed is not written; the log-in goes on, and says so.
  bool refused = server_.Logged("Error adding user " + modGlobal::LogSafe(peer.recordingName) +
                                " to network " + lobby_->NetworkName);
  FUZZ_CHECK(found || refused, "answered OK before " + peer.recordingName + " was in the file");
}

void Harness::CheckRegistration(const Bracket& bracket) const {
  const Peer& peer = peers_[bracket.sender];
  ServerNetworks* network = bracket.before[bracket.sender].network;
  const std::string& name = bracket.data;
  if (network != lobby_) {
    FUZZ_CHECK(network->Users().size() == bracket.usersBefore,
               "a network without a file changed its users on a log-in");
    return;
  }
  size_t added = network->Users().size() - bracket.usersBefore;
  FUZZ_CHECK(added == (bracket.fileKnewName ? 0u : 1u),
             "a log-in added " + std::to_string(added) + " user records");
  if (added == 1) {
    auto& user = *network->Users().back();
    FUZZ_CHECK(user.Name == name && user.LastIP == peer.address && !user.IsAdmin &&
                   !user.IsBanned && user.Path() == network->Path,
               "the registered record differs from the log-in");
  }
  auto file = modGlobal::ReadNetworkXML(lobbyFile_);
  FUZZ_CHECK(file != nullptr, "the lobby file does not load after a registration");
  bool found = false;
  for (auto& user : file->Users()) {
    if (!EqualsIgnoreCase(user->Name, name)) continue;
    found = true;
    FUZZ_CHECK(user->LastIP == peer.address, "a registered user kept the old address in the file");
  }
  FUZZ_CHECK(found, "the file does not list the user who logged in: " + Describe(Message{3, name}));
}

void Harness::CompareInboxes(const Bracket& bracket,
                             const std::map<size_t, std::vector<Message>>& expected) {
  AccountPrompts();
  for (size_t i = 0; i < peers_.size(); ++i) {
    Peer& peer = peers_[i];
    std::vector<Message> got(peer.inbox->begin() + static_cast<long>(peer.accounted),
                           peer.inbox->end());
    auto want = expected.find(i);
    const std::vector<Message> none;
    const std::vector<Message>& wanted = want == expected.end() ? none : want->second;
    if (Tracing() && !got.empty()) std::fprintf(stderr, "  -> %zu %s\n", i, Describe(got).c_str());
    FUZZ_CHECK(got == wanted, "after " + Describe(Message{bracket.command, bracket.data}) +
                                  " from peer " + std::to_string(bracket.sender) + ", peer " +
                                  std::to_string(i) + " got " + Describe(got) + ", expected " +
                                  Describe(wanted));
    peer.accounted = peer.inbox->size();
  }
}

void Harness::BeforeEnd(FuzzClient& client, int64_t code) {
  FUZZ_CHECK(open_.empty(), "a connection ended inside a handler");
  CheckNoUnaccountedFrames();
  size_t index = IndexOf(client);
  FUZZ_CHECK(!peers_[index].ended, "a connection ended twice");
  FUZZ_CHECK(!client.IsConnected(), "a connection ended while still connected");
  Bracket bracket;
  bracket.sender = index;
  for (auto& other : peers_) {
    const FuzzClient& c = *other.socket;
    bracket.before.push_back({!other.ended && c.IsConnected(), !other.ended && c.IsMember(),
                              c.Network(), c.Username()});
  }
  peers_[index].endCode = code;
  open_.push_back(std::move(bracket));
}

void Harness::AfterEnd(FuzzClient& client) {
  FUZZ_CHECK(open_.size() == 1, "unbalanced end brackets");
  Bracket bracket = std::move(open_.back());
  open_.pop_back();
  size_t s = bracket.sender;
  Peer& peer = peers_[s];
  const Seen& self = bracket.before[s];
  if (Tracing()) std::fprintf(stderr, "peer %zu ended\n", s);
  std::map<size_t, std::vector<Message>> expected;
  if (self.member)
    for (size_t r : MembersBefore(bracket, self.network, peer.listener))
      if (r != s) Expect(expected, r, {6, self.name}, bracket);
  CompareInboxes(bracket, expected);
  peer.ended = true;
  peer.awaitingOk = false;  // a log-in that ends while its record is written gets no answer
  peer.seat = nullptr;
  FUZZ_CHECK(client.SeatNetwork() == nullptr, "an ended connection keeps its seat");
  FUZZ_CHECK(!client.IsMember(), "an ended connection is still a member");
  for (auto& active : peer.listener->ActiveConnections())
    FUZZ_CHECK(active.get() != &client, "an ended connection is still in the registry");
  // Guessing ends a connection in the handler, before any later bytes are read.
  if (peer.guessedOut)
    FUZZ_CHECK(peer.endCode == MapConnection::kErrorTooManyWrongPasswords,
               "password guessing ended the connection with code " + std::to_string(peer.endCode));
  else if (peer.sentBadLength)
    FUZZ_CHECK(peer.endCode == platform::TcpConnection::kErrorProtocol,
               "a framing error ended the connection with code " + std::to_string(peer.endCode));
  CheckSeats();
}

}  // namespace velmora::fuzz
