#include "platform/net/Timer.h"

#include <optional>
#include <utility>

#include "platform/net/AsioContext.h"
#include "platform/net/EventLoop.h"
#include "platform/net/ManualClock.h"

namespace velmora::platform {

// Shared by the handle and the wait: a timer whose time has come may have its completion
// queued already, past Asio's cancelling, when its owner goes in an earlier handler of the same
// pass. The work is therefore taken from here as the completion runs, and a cancelled timer
// has none left to take.
struct Timer::State {
  explicit State(std::function<void()> task) : work(std::move(task)) {}
  // Takes the work out first, then runs it: the work may drop this timer's handle, or start it
  // again. Nothing when the timer was cancelled.
  void Run() {
    if (!work) return;
    auto task = std::move(work);
    work = nullptr;
    task();
  }
  std::optional<asio::steady_timer> timer;  // none on a test's manual clock
  std::function<void()> work;
};

Timer::Timer() noexcept = default;

Timer::Timer(LoopKey key, std::chrono::milliseconds delay, std::function<void()> work)
    : state_(std::make_shared<State>(std::move(work))) {
  if (ManualClock* clock = EventLoop::Instance().ManualTime()) {
    // Only the handle holds the state: a timer dropped before its time leaves nothing behind.
    std::weak_ptr<State> weak = state_;
    clock->Schedule(key, delay, weak, [weak] {
      if (auto state = weak.lock()) state->Run();
    });
    return;
  }
  state_->timer.emplace(IoContext(), delay);
  state_->timer->async_wait([state = state_](const std::error_code& error) {
    if (!error) state->Run();
  });
}

Timer::~Timer() { Cancel(); }

Timer::Timer(Timer&& other) noexcept = default;

Timer& Timer::operator=(Timer&& other) noexcept {
  if (this != &other) {
    Cancel();
    state_ = std::move(other.state_);
  }
  return *this;
}

void Timer::Cancel() {
  if (!state_) return;
  auto state = std::move(state_);
  // What the work holds goes now, not when the cancelled wait comes back.
  auto work = std::move(state->work);
  state->work = nullptr;
  if (state->timer) state->timer->cancel();
}

bool Timer::Pending() const { return state_ && state_->work; }

}  // namespace velmora::platform
