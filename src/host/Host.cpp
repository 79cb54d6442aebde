#include "host/Host.h"

#include "host/App.h"

namespace velmora {

int RunApplication(const std::vector<std::string>& args, const CommandLineOptions& options,
                   const AppLifeWatcher& watcher) {
  App* app = App::Create();
  if (options.statusAddress) app->OverrideStatusAddress(*options.statusAddress);
  if (watcher) watcher(app);
  int code = app->Event_Run(args);
  if (watcher) watcher(nullptr);
  App::Destroy();
  return code;
}

}  // namespace velmora
