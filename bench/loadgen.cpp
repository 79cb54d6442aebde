// velmora-loadgen: a load generator of our own for the relay; see bench/README.md.
#include <csignal>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "LoadGenerator.h"
#include "LoadOptions.h"
#include "LoopbackFloor.h"
#include "StrangerFlood.h"

int main(int argc, char** argv) {
  using velmora::bench::LoadOptions;
  // A server that goes away mid-write must show up as a dropped member, not end the tool.
  std::signal(SIGPIPE, SIG_IGN);
  LoadOptions options;
  try {
    if (!velmora::bench::ParseLoadOptions(std::vector<std::string>(argv + 1, argv + argc),
                                          options)) {
      std::fputs(velmora::bench::LoadUsage(), stdout);
      return 0;
    }
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "velmora-loadgen: %s\n\n%s", error.what(), velmora::bench::LoadUsage());
    return 2;
  }
  try {
    if (options.mode == velmora::bench::LoadMode::kFloor) {
      return velmora::bench::RunLoopbackFloor(options);
    }
    if (options.mode == velmora::bench::LoadMode::kStrangers) {
      return velmora::bench::RunStrangerFlood(options);
    }
    velmora::bench::LoadGenerator generator(options);
    return generator.Run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velmora-loadgen: %s\n", error.what());
    return 2;
  }
}
