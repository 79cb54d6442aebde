#include "platform/net/Timer.h"

#include <utility>

#include "platform/net/AsioContext.h"

namespace velmora::platform {

// Shared by the handle and the wait: a timer whose time has come may have its completion
// queued already, past Asio's cancelling, when its owner goes in an earlier handler of the same
// pass. The work is therefore taken from here as the completion runs, and a cancelled timer
// has none left to take.
struct Timer::State {
  explicit State(std::chrono::milliseconds delay, std::function<void()> task)
      : timer(IoContext(), delay), work(std::move(task)) {}
  asio::steady_timer timer;
  std::function<void()> work;
};

Timer::Timer() noexcept = default;

Timer::Timer(LoopKey, std::chrono::milliseconds delay, std::function<void()> work)
    : state_(std::make_shared<State>(delay, std::move(work))) {
  state_->timer.async_wait([state = state_](const std::error_code& error) {
    if (error || !state->work) return;
    // Taken out first: the work may drop this timer's handle, or start it again.
    auto work = std::move(state->work);
    state->work = nullptr;
    work();
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
  state->timer.cancel();
}

bool Timer::Pending() const { return state_ && state_->work; }

}  // namespace velmora::platform
