#include "host/Host.h"

#include "host/App.h"

namespace velmora {

int RunApplication(const std::vector<std::string>& args) {
  App* app = App::Create();
  int code = app->Event_Run(args);
  App::Destroy();
  return code;
}

}  // namespace velmora
