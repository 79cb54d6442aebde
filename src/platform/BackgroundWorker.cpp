#include "platform/BackgroundWorker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/EventLoop.h"

namespace velmora::platform {

struct BackgroundWorker::Impl {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Job> queued;  // bounded by the caller: one job per file at a time
  bool stopping = false;
  std::vector<std::thread> threads;

  void Serve() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return stopping || !queued.empty(); });
        if (stopping) return;
        job = std::move(queued.front());
        queued.pop_front();
      }
      Result result = job();
      job = nullptr;  // what the job held goes on this thread, not the loop's
      if (result) EventLoop::Instance().Post(std::move(result));
    }
  }
};

BackgroundWorker::BackgroundWorker(size_t threads) : impl_(std::make_unique<Impl>()) {
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
  {
    std::lock_guard lock(impl_->mutex);
    impl_->queued.push_back(std::move(job));
  }
  impl_->wake.notify_one();
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace velmora::platform
