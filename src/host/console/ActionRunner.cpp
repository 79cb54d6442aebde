#include "host/console/ActionRunner.h"

#include <condition_variable>
#include <mutex>

namespace velmora::console {

struct ActionRunner::Shared {
  std::mutex mutex;
  size_t waiting = 0;  // posted and not yet run
};

namespace {

// One action's result, shared by the waiting HTTP thread and the loop.
struct Pending {
  std::mutex mutex;
  std::condition_variable done;
  std::optional<ActionResult> result;
};

ActionResult Perform(ConsoleOperations& operations, const ConsoleAction& action) {
  switch (action.What) {
    case ConsoleAction::Kind::kKick:
      return operations.Kick(action.Network, action.User, action.Reason);
    case ConsoleAction::Kind::kBan:
      return operations.Ban(action.Network, action.User, action.Reason);
    case ConsoleAction::Kind::kLiftBan:
      return operations.LiftBan(action.Network, action.BanId);
    case ConsoleAction::Kind::kAnnounce:
      return operations.Announce(action.Network, action.Text);
  }
  return {ActionResult::Outcome::kRefused, "unknown action"};
}

}  // namespace

ActionRunner::ActionRunner(ConsoleOperations& operations, Post post,
                           std::chrono::milliseconds wait)
    : operations_(operations),
      post_(std::move(post)),
      wait_(wait),
      shared_(std::make_shared<Shared>()) {}

ActionRunner::Outcome ActionRunner::Run(const ConsoleAction& action) {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->waiting >= kMaxWaiting) return {Status::kBusy, {}};
    ++shared_->waiting;
  }
  auto pending = std::make_shared<Pending>();
  auto shared = shared_;
  auto& operations = operations_;
  auto work = [pending, shared, &operations, action] {
    {
      std::lock_guard lock(shared->mutex);
      --shared->waiting;
    }
    ActionResult result;
    try {
      result = Perform(operations, action);
    } catch (const std::exception& error) {
      result = {ActionResult::Outcome::kRefused, error.what()};
    }
    std::lock_guard lock(pending->mutex);
    pending->result = std::move(result);
    pending->done.notify_all();
  };
  try {
    post_(std::move(work));
  } catch (...) {
    std::lock_guard lock(shared_->mutex);
    --shared_->waiting;
    return {Status::kBusy, {}};
  }
  std::unique_lock lock(pending->mutex);
  if (!pending->done.wait_for(lock, wait_, [&] { return pending->result.has_value(); }))
    return {Status::kLate, {}};
  return {Status::kRan, *pending->result};
}

}  // namespace velmora::console
