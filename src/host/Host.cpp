#include "host/Host.h"

#include "host/App.h"
#include "host/CommandLine.h"

namespace velmora {

int RunApplication(const std::vector<std::string>& args, const AppLifeWatcher& watcher) {
  App* app = App::Create();
  // The command line was checked at the process entry; what it sets reaches the application here.
  try {
    if (auto status = ParseCommandLine(args).statusAddress) app->OverrideStatusAddress(*status);
  } catch (const CommandLineError&) {
  }
  if (watcher) watcher(app);
  int code = app->Event_Run(args);
  if (watcher) watcher(nullptr);
  App::Destroy();
  return code;
}

}  // namespace velmora
