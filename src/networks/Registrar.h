#pragma once
// Records log-ins in the network files: the address a user logged in from, and users the file
// does not know yet. A log-in is answered only once its record is on disk, so that no crash can
// lose a user who was told "OK".
#include <chrono>
#include <functional>
#include <string>

namespace velmora {

class ServerNetworks;
struct ServerCounters;

class Registrar {
 public:
  using Recorded = std::function<void()>;

  // Every rewrite of a network file is counted in `counters`, with the time it took.
  explicit Registrar(ServerCounters& counters) : counters_(counters) {}
  virtual ~Registrar() = default;
  // Records that `username` logged in from `address` on `network`; `recorded` runs once the file
  // holds it, or once its failure has been logged.
  virtual void Record(ServerNetworks& network, const std::string& username,
                      const std::string& address, Recorded recorded);

 protected:
  // One rewrite has ended: whether the file holds the record now, and how long it took.
  void CountRewrite(bool written, std::chrono::steady_clock::duration took);

 private:
  ServerCounters& counters_;
};

}  // namespace velmora
