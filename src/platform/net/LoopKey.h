#pragma once
// A key that only the event loop can make. A call that takes one is the loop's own business,
// open to it alone without opening the rest of the class that offers it.
namespace velmora::platform {

class EventLoop;

class LoopKey {
  friend class EventLoop;
  LoopKey() = default;
};

}  // namespace velmora::platform
