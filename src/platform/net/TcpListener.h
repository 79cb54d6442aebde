#pragma once
// A listening TCP socket on the event loop: one acceptor per address it listens on, a limit on
// simultaneous connections, and a hook that supplies the connection object for each peer.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/NetworkInterfaces.h"
#include "platform/net/TcpConnection.h"

namespace velmora::platform {

class TcpListener : public ConnectionOwner {
 public:
  // Connections taken up in one pass at most; the rest wait in the kernel's queue for the next,
  // so that thousands of clients connecting at once do not hold up those already served. Not
  // much fewer: the kernel's queue holds a few thousand (somaxconn), and a connection that finds
  // it full is lost for good once its handshake was answered with a cookie (the client thinks it
  // is connected and waits for a prompt that never comes). At 64 a pass, 3,300 of 19,950 clients
  // connecting at once were lost that way; at 512, none.
  static constexpr size_t kAcceptsPerPass = 512;

  TcpListener();
  ~TcpListener() override;
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  void SetPort(int64_t port) { port_ = port; }
  int64_t Port() const { return port_; }
  // No interface: all local addresses, IPv4 and IPv6.
  void SetNetworkInterface(std::optional<NetworkInterface> nic) { nic_ = std::move(nic); }
  void SetMaxConnections(size_t limit) { maxConnections_ = limit; }
  size_t ActiveConnectionCount() const { return active_; }

  // Starts accepting; a failure is reported through Event_Error, never thrown.
  void Listen();
  void StopListening();
  // The port actually bound (useful when listening on port 0).
  uint16_t BoundPort() const;

  // Takes a connection that arrived over `channel` (memory, in tests and fuzzers) exactly as
  // an accepted socket is taken. Nothing when the limit is reached.
  std::shared_ptr<TcpConnection> AcceptChannel(std::unique_ptr<Channel> channel);

 protected:
  // Supplies the connection object for an accepted peer.
  virtual std::shared_ptr<TcpConnection> Event_AddSocket() = 0;
  virtual void Event_Error(int64_t code) {}
  // The process is out of descriptors, or an accepted peer has left fewer free than the reserve
  // kept for the server's own files (DescriptorReserve.h): end one connection to make room for
  // the newcomer. True when one was ended; the newcomer is turned away otherwise.
  virtual bool Event_ShedForNewcomer() { return false; }
  // Registry hooks: a connection joins when accepted and leaves when it closes.
  virtual void ConnectionAccepted(const std::shared_ptr<TcpConnection>& connection) {}
  void ConnectionClosed(TcpConnection& connection) override;
  virtual void ConnectionLeft(TcpConnection& connection) {}

 private:
  struct Acceptor;
  void AcceptNext(Acceptor& acceptor);
  // AcceptNext now, or in the next pass once this pass has taken its share.
  void AcceptAgain(Acceptor& acceptor);

  int64_t port_ = 0;
  std::optional<NetworkInterface> nic_;
  size_t maxConnections_ = 100000;
  size_t active_ = 0;
  uint64_t acceptPass_ = 0;     // the pass of the latest accepts
  size_t acceptsThisPass_ = 0;  // how many
  std::vector<std::unique_ptr<Acceptor>> acceptors_;
};

}  // namespace velmora::platform
