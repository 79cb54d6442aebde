#pragma once
// The byte stream under a connection: a socket in the server, memory in tests. A connection
// reads and writes through it without blocking and asks to be called back when it may go on.
#include <sys/uio.h>

#include <cstddef>
#include <memory>
#include <string>

namespace velmora::platform {

// Told when a channel it waits on may make progress. The channel holds the waiter while the
// wait is pending, so that whatever waits stays alive until it hears back.
class ChannelWaiter {
 public:
  virtual void ChannelReadable() = 0;
  virtual void ChannelWritable() = 0;
  void ChannelReady(bool writable) { writable ? ChannelWritable() : ChannelReadable(); }

 protected:
  ~ChannelWaiter() = default;
};

class Channel {
 public:
  enum class Status { kDone, kWouldBlock, kEnded, kFailed };
  struct Result {
    Status status = Status::kDone;
    size_t bytes = 0;  // kDone: bytes moved
    int error = 0;     // kFailed: the system's error number
  };

  virtual ~Channel() = default;
  // Reads what is there now, up to `size` bytes. kEnded: the peer closed its side.
  virtual Result Receive(char* into, size_t size) = 0;
  // Writes as much of `buffers` as the stream takes now.
  virtual Result Send(const iovec* buffers, size_t count) = 0;
  // Tells `waiter` once, on the loop's thread, when Receive (or Send) may make progress, or when
  // the channel is closed; never inside the call. An idle connection has a read wait pending
  // all the time, so a wait costs no allocation beyond the one the event loop makes.
  virtual void AwaitReadable(std::shared_ptr<ChannelWaiter> waiter) = 0;
  virtual void AwaitWritable(std::shared_ptr<ChannelWaiter> waiter) = 0;
  // Ends the sending side only: the peer reads to the end of what was sent, then the end of the
  // stream, while this side may still receive.
  virtual void ShutdownWrite() = 0;
  // Ends the stream; waits that are pending are called back.
  virtual void Close() = 0;
  // The peer's address as text, as operators write it; empty when unknown.
  virtual std::string RemoteAddress() const = 0;
  // What an established channel lets the system hold unsent beyond what is on its way to the
  // peer, at first; LimitUnsent changes it (a channel with no such store ignores it).
  static constexpr size_t kDefaultSystemUnsent = 16 * 1024;
  virtual void LimitUnsent(size_t) {}
};

}  // namespace velmora::platform
