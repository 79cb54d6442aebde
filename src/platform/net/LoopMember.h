#pragma once
// Something the event loop reads, delivers messages for and flushes once per pass, and that
// waits on a channel between passes. The loop keeps its own bookkeeping here (which of its
// lists the member is on); the member only answers the calls.
#include <memory>

#include "platform/net/Channel.h"

namespace velmora::platform {

class EventLoop;

class LoopMember : public ChannelWaiter, public std::enable_shared_from_this<LoopMember> {
 public:
  virtual ~LoopMember() = default;

 protected:
  // Reads input that the last pass left in the kernel.
  virtual void LoopRead() = 0;
  // Delivers one queued message; true when more are queued and may be delivered.
  virtual bool LoopDeliver() = 0;
  // Hands queued output to the kernel.
  virtual void LoopFlush() = 0;

 private:
  friend class EventLoop;
  bool onPollList_ = false;
  bool readQueued_ = false;
  bool deliveryQueued_ = false;
  bool flushQueued_ = false;
};

}  // namespace velmora::platform
