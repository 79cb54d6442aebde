#pragma once
// The host underneath App: creates the application object, runs it and hands back the exit code.
#include <functional>
#include <string>
#include <vector>

#include "host/CommandLine.h"

namespace velmora {

class App;

// Told of the application object once it exists and again, with nullptr, just before it goes,
// so that requests from other threads reach it only while it is there.
using AppLifeWatcher = std::function<void(App* app)>;

// `options` are those main read from `args`; the command line is read there and nowhere else.
int RunApplication(const std::vector<std::string>& args, const CommandLineOptions& options,
                   const AppLifeWatcher& watcher = {});

}  // namespace velmora
