#pragma once
// A channel held in memory, with its far end (MemoryPeer) in the hands of a test or fuzzer: the
// protocol runs in-process, deterministic and fast, through exactly the code a socket runs
// through. The far end can stop reading (a window on what it holds unread), close its side
// (end of stream) or reset.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/net/Channel.h"

namespace velmora::platform {

class MemoryPeer;

class MemoryChannel final : public Channel {
 public:
  struct Shared;
  // A channel from `remoteAddress` and its far end.
  static std::pair<std::unique_ptr<MemoryChannel>, std::shared_ptr<MemoryPeer>> Make(
      std::string remoteAddress);

  explicit MemoryChannel(std::shared_ptr<Shared> shared);
  ~MemoryChannel() override;
  Result Receive(char* into, size_t size) override;
  Result Send(const iovec* buffers, size_t count) override;
  void AwaitReadable(std::shared_ptr<ChannelWaiter> waiter) override;
  void AwaitWritable(std::shared_ptr<ChannelWaiter> waiter) override;
  void ShutdownWrite() override;
  void Close() override;
  std::string RemoteAddress() const override;

 private:
  std::shared_ptr<Shared> shared_;
};

class MemoryPeer {
 public:
  explicit MemoryPeer(std::shared_ptr<MemoryChannel::Shared> shared) : shared_(std::move(shared)) {}
  // Bytes that arrive at the connection.
  void Push(std::string_view bytes);
  // Closes the far end's sending side: the connection reads to the end of the stream.
  void CloseWrite();
  // The connection fails at its next read or write, as after a reset.
  void Reset();
  // Takes what the connection has written and not been taken yet.
  std::string Take();
  // How many bytes written by the connection may wait unread before its writes stop; writes
  // beyond it go no further until Take makes room. Unlimited by default.
  void SetWindow(size_t bytes);
  size_t Unread() const;
  // Bytes pushed that the connection has not read yet.
  size_t Pending() const;
  // Whether the connection ended its sending side: what it wrote is all there will be.
  bool WriteEnded() const;
  // Whether the connection closed its end.
  bool Closed() const;

 private:
  std::shared_ptr<MemoryChannel::Shared> shared_;
};

}  // namespace velmora::platform
