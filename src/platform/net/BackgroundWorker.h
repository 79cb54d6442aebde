#pragma once
// Threads for work that must not hold the event loop up (rewriting large files, flushing them
// to disk). A job runs on one of the worker threads and returns what the loop is to do with its
// result; that runs on the loop's thread in a later pass. Jobs touch nothing the loop owns.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace velmora::platform {

class BackgroundWorker {
 public:
  // How long the workers wait for more jobs before they give back the memory their jobs freed:
  // the allocator keeps freed heap for reuse, so a storm of large jobs would otherwise leave
  // its peak behind for good.
  static constexpr std::chrono::milliseconds kIdleBeforeReturningMemory{250};

  // The work for the loop's thread that a finished job hands back.
  using Result = std::function<void()>;
  // Runs on a worker thread; it catches its own failures and reports them in its result.
  using Job = std::function<Result()>;

  // For tests and fuzzers that must run the same way every time: while one lives, workers made
  // meanwhile start no thread, and each job runs on the loop's thread in a later pass, its
  // result right after it. Loop thread.
  class RunInline {
   public:
    RunInline();
    ~RunInline();
    RunInline(const RunInline&) = delete;
    RunInline& operator=(const RunInline&) = delete;
  };

  explicit BackgroundWorker(size_t threads = 1);
  // Waits for the jobs under way; jobs not started yet are dropped, and no result runs once the
  // worker is gone, so a result may refer to the worker's owner. Loop thread.
  ~BackgroundWorker();
  BackgroundWorker(const BackgroundWorker&) = delete;
  BackgroundWorker& operator=(const BackgroundWorker&) = delete;

  // Queues `job`; jobs start in the order given. Call from the loop's thread.
  void Run(Job job);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform
