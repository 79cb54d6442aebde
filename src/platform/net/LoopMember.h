#pragma once
// Something the event loop reads, delivers messages for and flushes once per pass, and that
// waits on a channel between passes. The loop keeps its own bookkeeping here (which of its
// lists the member is on); the member only answers the calls.
#include <memory>

#include "platform/net/Channel.h"
#include "platform/net/LoopKey.h"

namespace velmora::platform {

class LoopMember : public ChannelWaiter, public std::enable_shared_from_this<LoopMember> {
 public:
  virtual ~LoopMember() = default;

  // Which of the loop's lists the member is on; only the loop reads or writes them.
  struct Lists {
    bool poll = false;
    bool read = false;
    bool delivery = false;
    bool flush = false;
  };
  Lists& LoopLists(LoopKey) { return lists_; }
  const Lists& LoopLists(LoopKey) const { return lists_; }

  // The loop's calls, in the order of a pass.
  void Read(LoopKey) { LoopRead(); }
  bool Deliver(LoopKey) { return LoopDeliver(); }
  void Flush(LoopKey) { LoopFlush(); }

 protected:
  // Reads input that the last pass left in the kernel.
  virtual void LoopRead() = 0;
  // Delivers one queued message; true when more are queued and may be delivered.
  virtual bool LoopDeliver() = 0;
  // Hands queued output to the kernel.
  virtual void LoopFlush() = 0;

 private:
  Lists lists_;
};

}  // namespace velmora::platform
