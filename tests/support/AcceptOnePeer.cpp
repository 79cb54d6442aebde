#include "support/AcceptOnePeer.h"

#include <utility>

#include "platform/net/TcpListener.h"
#include "support/RunLoop.h"

namespace velmora::testing {

namespace {

// Hands out its one connection to the first peer; later peers find no connection and are
// turned away.
class OnePeerListener final : public platform::TcpListener {
 public:
  explicit OnePeerListener(std::shared_ptr<platform::TcpConnection> connection)
      : connection_(std::move(connection)) {}

 protected:
  std::shared_ptr<platform::TcpConnection> Event_AddSocket() override {
    return std::exchange(connection_, nullptr);
  }

 private:
  std::shared_ptr<platform::TcpConnection> connection_;
};

}  // namespace

bool AcceptOnePeer(const std::shared_ptr<platform::TcpConnection>& connection, uint16_t port,
                   std::chrono::milliseconds limit) {
  OnePeerListener listener(connection);
  listener.SetNetworkInterface(platform::NetworkInterface{"loopback", "", {"127.0.0.1"}});
  listener.SetPort(port);
  listener.SetMaxConnections(1);
  listener.Listen();
  bool connected = RunLoopUntil([&] { return connection->IsConnected(); }, limit);
  // The connection outlives the listener: its end must not be reported to it.
  connection->SetOwner(nullptr);
  return connected;
}

}  // namespace velmora::testing
