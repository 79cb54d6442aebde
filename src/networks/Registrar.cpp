#include "networks/Registrar.h"

#include "base/ServerCounters.h"
#include "networks/ServerNetworks.h"

namespace velmora {

void Registrar::Record(ServerNetworks& network, const std::string& username,
                       const std::string& address, Recorded recorded) {
  if (!network.Path.empty()) {
    auto started = std::chrono::steady_clock::now();
    bool written = network.AddUserToNetwork(username, address);
    CountRewrite(written, std::chrono::steady_clock::now() - started);
  }
  recorded();
}

void Registrar::CountRewrite(bool written, std::chrono::steady_clock::duration took) {
  auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
  counters_.CountRewrite(written, static_cast<uint64_t>(microseconds));
}

}  // namespace velmora
