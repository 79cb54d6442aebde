#pragma once
// A channel over a TCP socket on the event loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Channel.h"

namespace velmora::platform {

class SocketChannel final : public Channel {
 public:
  struct Socket;
  // A socket not yet connected, for an acceptor to accept into; Established sets it up after.
  SocketChannel();
  ~SocketChannel() override;
  // The socket is connected: non-blocking, no delay, and its peer noted.
  void Established();
  Socket& Raw() { return *socket_; }

  Result Receive(char* into, size_t size) override;
  Result Send(const iovec* buffers, size_t count) override;
  void AwaitReadable(std::function<void()> ready) override;
  void AwaitWritable(std::function<void()> ready) override;
  void Close() override;
  std::string RemoteAddress() const override;
  uint16_t LocalPort() const;

  // Connects to host:port in the background; `done` gets the channel, or nothing and the
  // system's error number.
  using Connected = std::function<void(std::unique_ptr<SocketChannel> channel, int error)>;
  static void Connect(const std::string& host, uint16_t port, Connected done);

 private:
  std::unique_ptr<Socket> socket_;
};

}  // namespace velmora::platform
