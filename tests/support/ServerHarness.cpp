#include "support/ServerHarness.h"

#include <algorithm>
#include <chrono>

#include "client/ClientSocket.h"
#include "networks/NetworkFiles.h"
#include "networks/Registrar.h"
#include "networks/ServerNetworks.h"
#include "platform/net/EventLoop.h"
#include "platform/net/MemoryChannel.h"
#include "platform/adapters/Md5.h"
#include "platform/adapters/SqliteDatabase.h"
#include "protocol/FrameCodec.h"
#include "server/BanStore.h"

namespace velmora::testing {

namespace {
std::chrono::steady_clock::time_point Now() { return platform::EventLoop::Instance().Now(); }
}  // namespace

std::string Md5(const std::string& text) { return platform::Md5Digest(text); }

std::vector<std::shared_ptr<ClientSocket>> Sessions(const MapSocket& listener) {
  std::vector<std::shared_ptr<ClientSocket>> sessions;
  for (auto& connection : listener.ActiveConnections())
    sessions.push_back(std::static_pointer_cast<ClientSocket>(connection));
  return sessions;
}

Locator::Ticket NoLocation::Locate(const std::string&, Done done) {
  Ticket ticket = next_++;
  platform::EventLoop::Instance().Post([cancelled = cancelled_, ticket, done = std::move(done)] {
    auto at = std::find(cancelled->begin(), cancelled->end(), ticket);
    if (at != cancelled->end()) {
      cancelled->erase(at);
      return;
    }
    done(ClientLocation{});
  });
  return ticket;
}

void NoLocation::Cancel(Ticket ticket) { cancelled_->push_back(ticket); }

ServerHarness::ServerHarness(const Options& options)
    : clock_(options.simulatedTime ? std::make_unique<platform::ManualClock>() : nullptr),
      inlineJobs_(options.simulatedTime ? std::make_unique<platform::BackgroundWorker::RunInline>()
                                        : nullptr),
      bans_(std::make_unique<BanStore>(nullptr)),
      registrar_(std::make_unique<Registrar>(counters_)),
      pending_(options.loginDeadline),
      serverContext_{networks_, *bans_, *registrar_, pending_, counters_, ceiling_},
      clientContext_{options.locator != nullptr ? *options.locator : noLocation_, guesses_} {}

ServerHarness::~ServerHarness() {
  // Let pending handlers of closed connections run before the listeners go.
  RunPass();
  listeners_.clear();
  registrar_.reset();
  RunPass();
}

ServerNetworks& ServerHarness::AddNetwork(const std::string& name, const std::string& password,
                                          int64_t maxUsers, bool enabled) {
  networks_.push_back(std::make_shared<ServerNetworks>(name, password, maxUsers, enabled));
  return *networks_.back();
}

ServerNetworks& ServerHarness::LoadNetwork(const std::string& path) {
  auto network = modGlobal::ReadNetworkXML(path);
  if (!network) throw std::runtime_error("not a network file: " + path);
  networks_.push_back(network);
  return *network;
}

MapSocket& ServerHarness::AddListener(MapSocket::SessionFactory factory) {
  if (!factory) {
    ClientContext& context = clientContext_;
    factory = [&context](MapSocket& parent) {
      return std::make_shared<ClientSocket>(parent, context);
    };
  }
  listeners_.push_back(std::make_unique<MapSocket>(serverContext_, std::move(factory)));
  return *listeners_.back();
}

uint16_t ServerHarness::Listen(MapSocket& listener) {
  listener.SetPort(0);
  listener.Listen();
  return listener.BoundPort();
}

void ServerHarness::OpenDatabase(const std::string& path) {
  db_ = std::make_unique<platform::SqliteDatabase>(path);
  BanStore::Prepare(*db_);
  *bans_ = BanStore(db_.get());
}

void ServerHarness::RunPass(int maxWaitMs) { platform::EventLoop::Instance().RunOnce(maxWaitMs); }

void ServerHarness::Spin(int ms) {
  auto until = Now() + std::chrono::milliseconds(ms);
  while (Now() < until) RunPass(1);
}

bool ServerHarness::Logged(const std::string& message) const { return CountLog(message) > 0; }

size_t ServerHarness::CountLog(const std::string& message) const {
  auto& lines = LogLines();
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
}

PendingLogins& ServerHarness::Pending() { return pending_; }

size_t ServerHarness::RecordsWaiting() const { return registrar_->Waiting(); }

Peer::Peer(MapSocket& listener, std::string address) {
  auto [channel, far] = platform::MemoryChannel::Make(std::move(address));
  far_ = std::move(far);
  connection_ = std::static_pointer_cast<ClientSocket>(listener.AcceptChannel(std::move(channel)));
}

Peer::~Peer() {
  // Like a client that closes its socket: the server reads to the end of the stream.
  if (Connected()) far_->CloseWrite();
  for (int pass = 0; pass < 3; ++pass) platform::EventLoop::Instance().RunOnce(0);
}

bool Peer::Connected() const { return connection_ && !far_->Closed(); }

ClientSocket& Peer::Connection() const { return *connection_; }

std::shared_ptr<ClientSocket> Peer::Shared() const { return connection_; }

void Peer::Send(int32_t command, std::string_view data) { SendRaw(CreatePacket(command, data)); }

void Peer::SendRaw(std::string_view bytes) { far_->Push(bytes); }

void Peer::Collect() {
  received_ += far_->Take();
  size_t at = 0;
  for (;;) {
    CutResult cut = CutFrame(std::string_view(received_).substr(at));
    if (cut.status != CutStatus::kFrame) break;
    inbox_.emplace_back(cut.command, std::string(cut.data));
    at += cut.consumed;
  }
  received_.erase(0, at);
}

std::vector<Message> Peer::TakeMessages() {
  Collect();
  std::vector<Message> messages(std::make_move_iterator(inbox_.begin()),
                                std::make_move_iterator(inbox_.end()));
  inbox_.clear();
  return messages;
}

std::optional<Message> Peer::Receive(int timeoutMs) {
  auto deadline = Now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Collect();
    if (!inbox_.empty()) {
      Message message = std::move(inbox_.front());
      inbox_.pop_front();
      return message;
    }
    // Nothing more comes once the server has ended its sending side.
    if (Now() >= deadline || far_->WriteEnded()) return std::nullopt;
    platform::EventLoop::Instance().RunOnce(1);
  }
}

bool Peer::Silent(int ms) { return !Receive(ms).has_value(); }

bool Peer::Closed(int timeoutMs) {
  auto deadline = Now() + std::chrono::milliseconds(timeoutMs);
  while (Now() < deadline) {
    if (!Connected()) return true;
    platform::EventLoop::Instance().RunOnce(1);
  }
  return !Connected();
}

void Peer::CloseWrite() { far_->CloseWrite(); }

void Peer::SetWindow(size_t bytes) { far_->SetWindow(bytes); }

bool Peer::LogIn(const std::string& network, const std::string& password,
                 const std::string& user) {
  auto step = [this](ClientCode request, std::string_view data, ServerCode answer) {
    Send(request, data);
    auto reply = Receive();
    return reply && reply->Is(answer) && reply->data == kOk;
  };
  auto prompt = Receive();
  return prompt && prompt->Is(ServerCode::kNetworkPrompt) &&
         step(ClientCode::kNetworkSelection, network, ServerCode::kNetworkResult) &&
         step(ClientCode::kPasswordDigest, Md5(password), ServerCode::kPasswordResult) &&
         step(ClientCode::kUserName, user, ServerCode::kUserNameResult);
}

void Peer::Drop() {
  if (Connected()) far_->Reset();
  for (int pass = 0; pass < 3; ++pass) platform::EventLoop::Instance().RunOnce(0);
}

}  // namespace velmora::testing
