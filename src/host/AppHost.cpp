#include "host/AppHost.h"

#include <mutex>
#include <utility>

#include "host/App.h"
#include "platform/net/EventLoop.h"

namespace velmora {

// Outlives the host while work posted to the loop still refers to it.
struct AppHost::Shared {
  std::mutex mutex;
  App* app = nullptr;
  bool stopRequested = false;
};

AppHost::AppHost(CommandLineOptions options)
    : AppHost(Runner([options = std::move(options)](const std::vector<std::string>& args,
                                                    const AppLifeWatcher& watcher) {
        return RunApplication(args, options, watcher);
      })) {}

AppHost::AppHost(Runner runner)
    : runner_(std::move(runner)), shared_(std::make_shared<Shared>()) {}

int AppHost::Run(const std::vector<std::string>& args) {
  auto shared = shared_;
  return runner_(args, [shared](App* app) {
    std::lock_guard lock(shared->mutex);
    shared->app = app;
    if (app != nullptr && shared->stopRequested) app->Event_Stop(false);
  });
}

void AppHost::Stop() {
  std::lock_guard lock(shared_->mutex);
  shared_->stopRequested = true;
  if (shared_->app != nullptr) shared_->app->Event_Stop(false);
}

void AppHost::Pause() {
  platform::EventLoop::Instance().Post([shared = shared_] {
    std::lock_guard lock(shared->mutex);
    if (shared->app != nullptr) shared->app->Event_Pause();
  });
}

void AppHost::Resume() {
  platform::EventLoop::Instance().Post([shared = shared_] {
    std::lock_guard lock(shared->mutex);
    if (shared->app != nullptr) shared->app->Event_Resume();
  });
}

}  // namespace velmora
