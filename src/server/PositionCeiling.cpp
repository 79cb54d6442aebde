#include "server/PositionCeiling.h"

#include <algorithm>

#include "platform/net/EventLoop.h"
#include "server/MapConnection.h"
#include "server/MapSocket.h"

namespace velmora {

void PositionCeiling::SetPerSecond(uint32_t perSecond) {
  perSecond_ = std::min(perSecond, kMaxPerSecond);
  if (perSecond_ == 0) return;
  interval_ = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / perSecond_;
  burst_ = interval_ * (perSecond_ - 1);
}

bool PositionCeiling::Admit(MapConnection& sender) {
  PositionBucket& bucket = sender.Bucket(CeilingKey());
  if (perSecond_ == 0) {
    bucket.held = false;
    return true;
  }
  // Already waiting: the position it holds now is the one that goes when the token comes.
  if (bucket.held) return false;
  Clock::time_point now = platform::EventLoop::Instance().Now();
  Clock::time_point fullAt = std::max(bucket.FullAt(), now);
  if (fullAt - now <= burst_) {
    bucket.SetFullAt(fullAt + interval_);
    return true;
  }
  bucket.held = true;
  held_.push({fullAt - burst_, std::static_pointer_cast<MapConnection>(sender.Self())});
  ArmRelease();
  return false;
}

void PositionCeiling::Forget(MapConnection& sender) { sender.Bucket(CeilingKey()).held = false; }

void PositionCeiling::ArmRelease() {
  if (held_.empty()) {
    release_.Cancel();
    return;
  }
  Clock::time_point due = held_.top().due;
  if (release_.Pending() && releaseAt_ <= due) return;
  releaseAt_ = due;
  // Rounded up: a timer that fires early would find the token not there yet.
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(
      std::max(due - platform::EventLoop::Instance().Now(), Clock::duration::zero()));
  release_ = platform::EventLoop::Instance().After(wait, [this] { Release(); });
}

void PositionCeiling::Release() {
  Clock::time_point now = platform::EventLoop::Instance().Now();
  std::vector<std::shared_ptr<MapConnection>> due;
  while (!held_.empty() && held_.top().due <= now) {
    auto sender = held_.top().sender.lock();
    held_.pop();
    if (sender && sender->Bucket(CeilingKey()).held) due.push_back(std::move(sender));
  }
  for (auto& sender : due) {
    PositionBucket& bucket = sender->Bucket(CeilingKey());
    if (!bucket.held) continue;  // listed twice: a member that left and was held anew
    // A lower rate set since it was held moves its token further out.
    if (perSecond_ != 0 && bucket.FullAt() - burst_ > now) {
      held_.push({bucket.FullAt() - burst_, sender});
      continue;
    }
    bucket.held = false;
    sender->Parent().RelayHeldPosition(*sender);
  }
  ArmRelease();
}

}  // namespace velmora
