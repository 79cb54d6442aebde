#include "platform/net/EventLoop.h"

#include <algorithm>
#include <csignal>
#include <unordered_map>

#include "platform/net/AsioContext.h"
#include "platform/net/ManualClock.h"

namespace velmora::platform {

struct EventLoop::Impl {
  asio::io_context context{1};
  // Without outstanding work a run would return at once and the main loop would spin; with this
  // guard a pass waits its full limit when nothing is ready (a server with no listener, or one
  // whose only work is on a background thread that posts its results back).
  asio::executor_work_guard<asio::io_context::executor_type> keepWaiting{
      context.get_executor()};
  std::unordered_map<int, std::unique_ptr<asio::signal_set>> signals;
};

EventLoop& EventLoop::Instance() {
  static EventLoop* loop = new EventLoop();  // lives until the process ends, like the sockets on it
  return *loop;
}

asio::io_context& IoContext() { return EventLoop::Instance().impl().context; }

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {}
EventLoop::~EventLoop() = default;

bool EventLoop::HasPendingWork() const {
  return !toDeliver_.empty() || !toRead_.empty() || !toFlush_.empty() || !nextPass_.empty();
}

std::chrono::steady_clock::time_point EventLoop::Now() const {
  return clock_ != nullptr ? clock_->Now() : std::chrono::steady_clock::now();
}

void EventLoop::NextPass(std::function<void()> work) { nextPass_.push_back(std::move(work)); }

void EventLoop::RunOnce(int maxWaitMs) {
  ++pass_;
  auto& context = impl_->context;
  if (context.stopped()) context.restart();
  if (!nextPass_.empty()) {
    auto due = std::move(nextPass_);
    nextPass_.clear();
    for (auto& work : due) work();
  }
  ReadPending();
  if (HasPendingWork() || maxWaitMs <= 0) {
    context.poll();
  } else if (clock_ != nullptr) {
    // A test's time: where a pass would wait, the time runs on instead.
    if (context.poll() == 0) {
      clock_->AdvanceWithin(std::chrono::milliseconds(maxWaitMs));
      context.poll();
    }
  } else if (context.run_one_for(std::chrono::milliseconds(maxWaitMs)) > 0) {
    context.poll();
  }
  Deliver();
  FlushWrites();
}

void EventLoop::ReadPending() {
  if (toRead_.empty()) return;
  auto batch = std::move(toRead_);
  toRead_.clear();
  for (auto& member : batch) {
    member->LoopLists({}).read = false;
    member->Read({});
  }
}

void EventLoop::Deliver() {
  // Round after round, each member with a queued message delivers one; members whose queue
  // runs dry drop out. Members asking meanwhile are appended and join the next round. Once the
  // pass's time is spent, those not reached yet are served first in the next pass.
  auto deadline = Now() + deliveryBudget_;
  size_t sinceClock = 0;
  for (int round = 0; round < kDeliveryRounds && !toDeliver_.empty(); ++round) {
    size_t count = toDeliver_.size();
    size_t kept = 0;
    size_t i = 0;
    bool outOfTime = false;
    for (; i < count; ++i) {
      if (sinceClock == 64) {
        sinceClock = 0;
        if (Now() >= deadline) {
          outOfTime = true;
          break;
        }
      }
      ++sinceClock;
      std::shared_ptr<LoopMember> member = std::move(toDeliver_[i]);
      bool more = member->LoopLists({}).poll && member->Deliver({});
      if (more)
        toDeliver_[kept++] = std::move(member);
      else
        member->LoopLists({}).delivery = false;
    }
    if (outOfTime) {
      // The members this round did not reach go to the front, ahead of those it served.
      std::rotate(toDeliver_.begin(), toDeliver_.begin() + static_cast<std::ptrdiff_t>(i),
                  toDeliver_.begin() + static_cast<std::ptrdiff_t>(count));
      size_t unreached = count - i;
      toDeliver_.erase(toDeliver_.begin() + static_cast<std::ptrdiff_t>(unreached + kept),
                       toDeliver_.begin() + static_cast<std::ptrdiff_t>(count));
      return;
    }
    toDeliver_.erase(toDeliver_.begin() + static_cast<std::ptrdiff_t>(kept),
                     toDeliver_.begin() + static_cast<std::ptrdiff_t>(count));
  }
}

void EventLoop::FlushWrites() {
  // A flush queues nothing new; an error it finds is handled in a later pass.
  auto batch = std::move(toFlush_);
  toFlush_.clear();
  for (auto& member : batch) {
    member->LoopLists({}).flush = false;
    member->Flush({});
  }
}

void EventLoop::RequestDelivery(LoopMember& member) {
  auto& lists = member.LoopLists({});
  if (lists.delivery || !lists.poll) return;
  lists.delivery = true;
  toDeliver_.push_back(member.shared_from_this());
}

void EventLoop::RequestRead(LoopMember& member) {
  auto& lists = member.LoopLists({});
  if (lists.read) return;
  lists.read = true;
  toRead_.push_back(member.shared_from_this());
}

void EventLoop::RequestFlush(LoopMember& member) {
  auto& lists = member.LoopLists({});
  if (lists.flush) return;
  lists.flush = true;
  toFlush_.push_back(member.shared_from_this());
}

void EventLoop::Post(std::function<void()> work) { asio::post(impl_->context, std::move(work)); }

Timer EventLoop::After(std::chrono::milliseconds delay, std::function<void()> work) {
  return Timer(LoopKey{}, delay, std::move(work));
}

void EventLoop::OnSignal(int signalNumber, std::function<void()> handler) {
  auto set = std::make_unique<asio::signal_set>(impl_->context, signalNumber);
  auto* raw = set.get();
  impl_->signals[signalNumber] = std::move(set);
  struct Rearm {
    asio::signal_set* set;
    std::function<void()> handler;
    void operator()(const std::error_code& error, int) {
      if (error) return;
      handler();
      set->async_wait(*this);
    }
  };
  raw->async_wait(Rearm{raw, std::move(handler)});
}

}  // namespace velmora::platform
