#pragma once
// Platform-internal: a channel over a TCP socket on the event loop. The socket lives inside the
// channel, one allocation per connection.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/net/Channel.h"
#include "platform/net/SocketImpl.h"

namespace velmora::platform {

class SocketChannel final : public Channel {
 public:
  // A socket not yet connected, for an acceptor to accept into; Established sets it up after.
  SocketChannel();
  ~SocketChannel() override;
  // The socket is connected: non-blocking, no delay, and its peer noted: `peer` as the accept
  // saw it, or, without one, as the socket says.
  void Established(const asio::ip::tcp::endpoint* peer = nullptr);
  TcpSocket& Socket() { return socket_; }

  Result Receive(char* into, size_t size) override;
  Result Send(const iovec* buffers, size_t count) override;
  void AwaitReadable(std::shared_ptr<ChannelWaiter> waiter) override;
  void AwaitWritable(std::shared_ptr<ChannelWaiter> waiter) override;
  void ShutdownWrite() override;
  void Close() override;
  std::string RemoteAddress() const override;
  void LimitUnsent(size_t bytes) override;
  uint16_t LocalPort() const;

  // Connects to host:port in the background; `done` gets the channel, or nothing and the
  // system's error number.
  using Connected = std::function<void(std::unique_ptr<SocketChannel> channel, int error)>;
  static void Connect(const std::string& host, uint16_t port, Connected done);

 private:
  TcpSocket socket_;
  // The peer's address as the accept saw it: a peer that reset the connection before it was
  // taken up has no address to ask for any more. The address alone, not a whole endpoint (every
  // connection carries it); an IPv4 peer as an IPv4-mapped one, which AddressText writes dotted.
  asio::ip::address_v6 peer_;
  bool peerKnown_ = false;
};

}  // namespace velmora::platform
