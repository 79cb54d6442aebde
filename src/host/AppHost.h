#pragma once
// The real application for the process entry: App, run by the host, with the service manager's
// requests routed to its handlers.
#include <functional>
#include <memory>

#include "host/Host.h"
#include "host/HostedApplication.h"

namespace velmora {

class AppHost final : public HostedApplication {
 public:
  // How the application is run; RunApplication unless a test brings its own.
  using Runner = std::function<int(const std::vector<std::string>& args, const AppLifeWatcher&)>;

  // Runs App with what the command line set.
  explicit AppHost(CommandLineOptions options);
  explicit AppHost(Runner runner);

  int Run(const std::vector<std::string>& args) override;
  // Sets the stop flag straight away, from whatever thread: it is the one thing App shares. A stop
  // that comes before App exists is kept and given to it as soon as it does.
  void Stop() override;
  // Pause and resume only log, which belongs on the main loop's thread: they are posted to it.
  void Pause() override;
  void Resume() override;

 private:
  struct Shared;
  Runner runner_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace velmora
