#pragma once
// The host underneath App: creates the application object, runs it and hands back the exit code.
#include <string>
#include <vector>

namespace velmora {

int RunApplication(const std::vector<std::string>& args);

}  // namespace velmora
