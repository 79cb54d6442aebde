#pragma once
// The server in-process, for tests and fuzzers: networks made in memory (or read from files),
// a ban store, the registrar, listeners with real sessions, and peers connected in memory whose
// waiting drives the same event loop. Nothing here opens a socket unless a test asks for a port.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/ClientContext.h"
#include "client/Locator.h"
#include "client/PasswordGuesses.h"
#include "platform/net/BackgroundWorker.h"
#include "platform/net/ManualClock.h"
#include "protocol/Message.h"
#include "protocol/ServerCounters.h"
#include "server/MapSocket.h"
#include "server/PendingLogins.h"
#include "server/PositionCeiling.h"
#include "server/ServerContext.h"
#include "support/LogCapture.h"

namespace velmora {
class BanStore;
class ClientSocket;
class Registrar;
class ServerNetworks;
namespace platform {
class MemoryPeer;
class SqliteDatabase;
}  // namespace platform
}  // namespace velmora

namespace velmora::testing {

// Answers every lookup with no location, in the next pass.
class NoLocation final : public Locator {
 public:
  Ticket Locate(const std::string& address, Done done) override;
  void Cancel(Ticket ticket) override;

 private:
  Ticket next_ = 1;
  std::shared_ptr<std::vector<Ticket>> cancelled_ = std::make_shared<std::vector<Ticket>>();
};

class ServerHarness {
 public:
  struct Options {
    // Where connections are located; nothing answers at once with no location.
    Locator* locator = nullptr;
    // The same run every time: the loop goes by a manual clock, so that waits move the time on
    // instead of waiting, and network files are written on the loop's thread.
    bool simulatedTime = false;
    std::chrono::milliseconds loginDeadline = PendingLogins::kLoginDeadline;
  };

  explicit ServerHarness(Locator* locator = nullptr) : ServerHarness(Options{.locator = locator}) {}
  explicit ServerHarness(const Options& options);
  ~ServerHarness();
  ServerHarness(const ServerHarness&) = delete;
  ServerHarness& operator=(const ServerHarness&) = delete;

  ServerNetworks& AddNetwork(const std::string& name, const std::string& password,
                             int64_t maxUsers = 100, bool enabled = true);
  // Reads a network file into the registry, as start-up does.
  ServerNetworks& LoadNetwork(const std::string& path);
  // A listener that peers reach in memory; `factory` makes its sessions (ClientSocket when
  // none is given).
  MapSocket& AddListener(MapSocket::SessionFactory factory = {});
  // Makes `listener` listen on a free port of every local address and returns it.
  uint16_t Listen(MapSocket& listener);
  // A server database at `path` (":memory:" keeps it in memory); without one there are no bans.
  void OpenDatabase(const std::string& path = ":memory:");

  // One pass of the main loop, waiting at most `maxWaitMs` when nothing is pending.
  void RunPass(int maxWaitMs = 0);
  // Runs passes for about `ms` milliseconds of the loop's time.
  void Spin(int ms);
  // The manual clock of simulated time; nothing on the real clock.
  platform::ManualClock* Clock() { return clock_.get(); }

  const std::vector<std::string>& LogLines() const { return log_.Messages(); }
  bool Logged(const std::string& message) const;
  size_t CountLog(const std::string& message) const;
  std::vector<std::shared_ptr<ServerNetworks>>& Networks() { return networks_; }
  const std::vector<std::shared_ptr<ServerNetworks>>& Networks() const { return networks_; }
  BanStore& Bans() { return *bans_; }
  ClientContext& Clients() { return clientContext_; }
  ServerCounters& Counters() { return counters_; }
  // No ceiling unless a test sets one.
  PositionCeiling& Ceiling() { return ceiling_; }
  // Log-ins waiting for their record in a network file.
  size_t RecordsWaiting() const;
  // The connections that have not logged in, with their deadline.
  PendingLogins& Pending();
  const std::vector<std::unique_ptr<MapSocket>>& Listeners() const { return listeners_; }

 private:
  // First: what the rest starts (timers, the registrar's worker) goes by them.
  std::unique_ptr<platform::ManualClock> clock_;
  std::unique_ptr<platform::BackgroundWorker::RunInline> inlineJobs_;
  LogCapture log_;
  ServerCounters counters_;
  std::vector<std::shared_ptr<ServerNetworks>> networks_;
  std::unique_ptr<platform::SqliteDatabase> db_;
  std::unique_ptr<BanStore> bans_;
  std::unique_ptr<Registrar> registrar_;
  NoLocation noLocation_;
  PendingLogins pending_;
  PasswordGuesses guesses_;
  PositionCeiling ceiling_;
  ServerContext serverContext_;
  ClientContext clientContext_;
  std::vector<std::unique_ptr<MapSocket>> listeners_;
};

// A client connected to a listener in memory: what it sends is read by its connection as if
// it had come from the network, and what the server writes to it is read back from memory.
class Peer {
 public:
  Peer(MapSocket& listener, std::string address = "127.0.0.1");
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Until the server closes the connection (a server that only ended its sending side has not).
  bool Connected() const;
  void Send(int32_t command, std::string_view data);
  void Send(ClientCode code, std::string_view data) { Send(Wire(code), data); }
  // Bytes as they are, for frames the codec would refuse to build.
  void SendRaw(std::string_view bytes);
  // The next message, running passes of the loop until one comes or `timeoutMs` passes.
  std::optional<Message> Receive(int timeoutMs = 2000);
  // True when nothing arrives for `ms`.
  bool Silent(int ms = 50);
  // True when the server ended the connection within the time.
  bool Closed(int timeoutMs = 2000);
  // The whole log-in; true when every step answered "OK".
  bool LogIn(const std::string& network, const std::string& password, const std::string& user);
  // Ends the connection as if the peer had vanished (a reset).
  void Drop();
  // Closes the peer's sending side, as a client's orderly close does.
  void CloseWrite();
  // How much written output may wait unread before the server's writes stop (a slow reader);
  // see platform::MemoryPeer::SetWindow.
  void SetWindow(size_t bytes);
  // The frames the server has written so far, read without running the loop.
  std::vector<Message> TakeMessages();

  ClientSocket& Connection() const;
  std::shared_ptr<ClientSocket> Shared() const;
  platform::MemoryPeer& Far() const { return *far_; }

 private:
  void Collect();

  std::shared_ptr<ClientSocket> connection_;
  std::shared_ptr<platform::MemoryPeer> far_;
  std::string received_;  // bytes read back, not yet whole frames
  std::deque<Message> inbox_;
};

// The sessions of a listener, in accept order.
std::vector<std::shared_ptr<ClientSocket>> Sessions(const MapSocket& listener);

std::string Md5(const std::string& text);

}  // namespace velmora::testing
