#pragma once
// Work that an owner hands to the event loop other than by a timer: results posted back from
// its threads, work left for the next pass, completions of its waits. The owner holds the
// scope; once the scope has ended (or is closed) whatever is still on its way does nothing.
// The scope's state is shared with the work under way and read on the loop's thread as each
// piece comes up, so work posted from another thread while its owner goes is harmless.
#include <concepts>
#include <functional>
#include <memory>
#include <utility>

namespace velmora::platform {

class LoopScope {
 public:
  using Work = std::function<void()>;
  // Posts work to the loop through a scope; callable from any thread, at any time.
  using Poster = std::function<void(Work)>;

  LoopScope() : state_(std::make_shared<State>()) {}
  // Loop thread.
  ~LoopScope() { Close(); }
  LoopScope(const LoopScope&) = delete;
  LoopScope& operator=(const LoopScope&) = delete;

  // Loop thread. Nothing handed over through this scope runs from now on. For good.
  void Close() { state_->open = false; }

  // Runs `work` on the loop's thread in a later pass while the scope lasts. Callable from any
  // thread while the scope object exists; a thread that may outlive it takes a Poster instead.
  void Post(Work work) const;
  Poster MakePoster() const;

  // `handler` made to do nothing once the scope has ended. Call the result on the loop's thread.
  template <typename Handler>
  auto Bind(Handler handler) const {
    return Within(state_, std::move(handler));
  }

 private:
  // Written and read on the loop's thread only; other threads merely carry it.
  struct State {
    bool open = true;
  };

  // The one place where work asks whether its scope is still open.
  template <typename Handler>
  static auto Within(std::shared_ptr<State> state, Handler handler) {
    // Callable with just what the handler takes, so that Asio can tell which signature it has.
    return [state = std::move(state), handler = std::move(handler)]<typename... Args>(
               Args&&... args) mutable
      requires std::invocable<Handler&, Args...>
    {
      if (state->open) handler(std::forward<Args>(args)...);
    };
  }

  std::shared_ptr<State> state_;
};

}  // namespace velmora::platform
