#include "platform/net/LoopScope.h"

#include "platform/net/EventLoop.h"

namespace velmora::platform {

void LoopScope::Post(Work work) const { EventLoop::Instance().Post(Bind(std::move(work))); }

LoopScope::Poster LoopScope::MakePoster() const {
  return [state = state_](Work work) {
    EventLoop::Instance().Post(Within(state, std::move(work)));
  };
}

}  // namespace velmora::platform
