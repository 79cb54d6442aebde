#pragma once
// Carries an action from an HTTP thread to the event loop and its result back. The HTTP thread
// waits within a bound; an action the loop has not reached by then is reported as late and
// still runs when the loop gets to it. Actions waiting for the loop are bounded in number, so a
// stalled loop cannot make requests pile up work without end.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "host/console/ConsoleOperations.h"

namespace velmora::console {

class ActionRunner {
 public:
  // Runs the work on the loop's thread during a later pass; callable from any thread.
  using Post = std::function<void(std::function<void()> work)>;
  static constexpr size_t kMaxWaiting = 8;

  enum class Status { kRan, kLate, kBusy };
  struct Outcome {
    Status What = Status::kRan;
    ActionResult Result;  // when kRan
  };

  // `operations` must outlive every action posted, which the loop may run after Run returned.
  ActionRunner(ConsoleOperations& operations, Post post,
               std::chrono::milliseconds wait = std::chrono::seconds(3));

  // HTTP thread.
  Outcome Run(const ConsoleAction& action);

 private:
  struct Shared;
  ConsoleOperations& operations_;
  Post post_;
  std::chrono::milliseconds wait_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace velmora::console
