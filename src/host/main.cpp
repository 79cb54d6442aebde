#include <string>
#include <vector>

#include "host/AppHost.h"
#include "host/ProcessEntry.h"
#include "platform/ServiceControl.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  velmora::AppHost application;
  return velmora::ProcessEntry(velmora::platform::SystemServiceControl(), application, args);
}
