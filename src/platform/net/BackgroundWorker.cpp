#include "platform/net/BackgroundWorker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/net/LoopScope.h"

namespace velmora::platform {

namespace {

int inlineRequests = 0;  // RunInline objects alive

// Gives the heap that the allocator keeps after frees back to the system. It walks the heap and
// holds each arena's lock meanwhile, so it runs once work has stopped, not after every job.
void ReturnFreedMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace

struct BackgroundWorker::Impl {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Job> queued;  // bounded by the caller
  bool stopping = false;
  size_t running = 0;
  bool freedSinceReturn = false;  // jobs have ended since memory was last given back
  bool runInline = false;
  std::vector<std::thread> threads;
  LoopScope results;  // closed once the threads have stopped

  void Serve() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex);
        auto ready = [this] { return stopping || !queued.empty(); };
        if (!wake.wait_for(lock, kIdleBeforeReturningMemory, ready)) {
          // The last worker to go idle gives back what every job freed.
          if (running == 0 && std::exchange(freedSinceReturn, false)) {
            lock.unlock();
            ReturnFreedMemory();
            continue;
          }
          wake.wait(lock, ready);
        }
        if (stopping) return;
        job = std::move(queued.front());
        queued.pop_front();
        ++running;
      }
      Result result = job();
      job = nullptr;  // what the job held goes on this thread, not the loop's
      {
        std::lock_guard lock(mutex);
        --running;
        freedSinceReturn = true;
      }
      if (result) results.Post(std::move(result));
    }
  }
};

BackgroundWorker::RunInline::RunInline() { ++inlineRequests; }
BackgroundWorker::RunInline::~RunInline() { --inlineRequests; }

BackgroundWorker::BackgroundWorker(size_t threads) : impl_(std::make_unique<Impl>()) {
  impl_->runInline = inlineRequests > 0;
  if (impl_->runInline) return;
  if (threads == 0) threads = 1;
  for (size_t i = 0; i < threads; ++i)
    impl_->threads.emplace_back([impl = impl_.get()] { impl->Serve(); });
}

BackgroundWorker::~BackgroundWorker() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake.notify_all();
  for (auto& thread : impl_->threads) thread.join();
}

void BackgroundWorker::Run(Job job) {
  if (impl_->runInline) {
    impl_->results.Post([job = std::move(job)] {
      if (Result result = job()) result();
    });
    return;
  }
  {
    std::lock_guard lock(impl_->mutex);
    impl_->queued.push_back(std::move(job));
  }
  impl_->wake.notify_one();
}

}  // namespace velmora::platform
