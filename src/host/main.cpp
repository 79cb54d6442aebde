#include <string>
#include <utility>
#include <vector>

#include "host/AppHost.h"
#include "host/BuildVersion.h"
#include "host/CommandLine.h"
#include "host/ProcessEntry.h"
#include "platform/adapters/ServiceControl.h"
#include "platform/adapters/StandardStreams.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  velmora::CommandLineOptions options;
  try {
    options = velmora::ParseCommandLine(args);
  } catch (const velmora::CommandLineError& error) {
    velmora::platform::WriteStandardError("velmora: " + std::string(error.what()) + "\n\n" +
                                          velmora::UsageText());
    return 2;
  }
  // Help and version answer before anything of the server exists: no file is touched.
  switch (options.action) {
    case velmora::CommandLineOptions::Action::kHelp:
      velmora::platform::WriteStandardOutput(velmora::UsageText());
      return 0;
    case velmora::CommandLineOptions::Action::kVersion:
      velmora::platform::WriteStandardOutput("velmora " + std::string(velmora::BuildVersion()) +
                                                 "\n");
      return 0;
    case velmora::CommandLineOptions::Action::kRun:
      break;
  }
  velmora::AppHost application(std::move(options));
  return velmora::ProcessEntry(velmora::platform::SystemServiceControl(), application, args);
}
