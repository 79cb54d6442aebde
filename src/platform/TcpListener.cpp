#include "platform/TcpListener.h"

#include "platform/DescriptorReserve.h"
#include "platform/EventLoop.h"
#include "platform/TcpConnectionImpl.h"

namespace velmora::platform {

struct TcpListener::Acceptor {
  asio::ip::tcp::acceptor acceptor{IoContext()};
  std::unique_ptr<TcpConnection::Impl> next;
};

TcpListener::TcpListener() : alive_(std::make_shared<bool>(true)) {}

TcpListener::~TcpListener() {
  *alive_ = false;
  StopListening();
}

uint16_t TcpListener::BoundPort() const {
  for (auto& a : acceptors_) {
    std::error_code error;
    auto endpoint = a->acceptor.local_endpoint(error);
    if (!error) return endpoint.port();
  }
  return 0;
}

void TcpListener::Listen() {
  StopListening();
  if (port_ < 0 || port_ > 65535) {
    Event_Error(EINVAL);
    return;
  }
  auto port = static_cast<uint16_t>(port_);
  std::vector<asio::ip::tcp::endpoint> endpoints;
  bool dualStack = false;
  if (nic_) {
    for (auto& text : nic_->Addresses) {
      std::error_code error;
      auto address = asio::ip::make_address(text, error);
      if (!error) endpoints.emplace_back(address, port);
    }
  } else {
    endpoints.emplace_back(asio::ip::tcp::v6(), port);
    dualStack = true;
  }
  for (auto& endpoint : endpoints) {
    auto entry = std::make_unique<Acceptor>();
    std::error_code error;
    entry->acceptor.open(endpoint.protocol(), error);
    if (!error && dualStack) entry->acceptor.set_option(asio::ip::v6_only(false), error);
    if (error && dualStack) {
      // A host without IPv6 still listens on every IPv4 address.
      error.clear();
      endpoint = asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port);
      entry->acceptor.open(endpoint.protocol(), error);
    }
    if (!error) entry->acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) entry->acceptor.bind(endpoint, error);
    if (!error) entry->acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
      Event_Error(error.value());
      continue;
    }
    acceptors_.push_back(std::move(entry));
    AcceptNext(*acceptors_.back());
  }
}

void TcpListener::StopListening() {
  for (auto& a : acceptors_) {
    std::error_code ignored;
    a->acceptor.close(ignored);
  }
  acceptors_.clear();
}

void TcpListener::AcceptNext(Acceptor& entry) {
  entry.next = std::make_unique<TcpConnection::Impl>();
  std::weak_ptr<bool> alive = alive_;
  entry.acceptor.async_accept(entry.next->socket, entry.next->acceptedPeer,
                              [this, &entry, alive](const std::error_code& error) {
    if (alive.expired() || error == asio::error::operation_aborted) return;
    if (error) {
      Event_Error(error.value());
      // Out of descriptors: give the process a moment instead of spinning on the same error.
      if (error == asio::error::no_descriptors || error.value() == ENFILE) {
        if (Event_ShedForNewcomer()) return AcceptNext(entry);
        EventLoop::Instance().After(std::chrono::milliseconds(100), [this, &entry, alive] {
          if (!alive.expired()) AcceptNext(entry);
        });
        return;
      }
      AcceptNext(entry);
      return;
    }
    auto impl = std::move(entry.next);
    if (active_ >= maxConnections_ ||
        !(DescriptorReserveIntact(impl->socket.native_handle()) || Event_ShedForNewcomer())) {
      std::error_code ignored;
      impl->socket.close(ignored);
    } else {
      std::shared_ptr<TcpConnection> connection = Event_AddSocket();
      if (connection) {
        Track(*connection);
        connection->Attach(std::move(impl));
        ConnectionAccepted(connection);
        connection->OnConnected();
        connection->ArmRead();
      }
    }
    AcceptNext(entry);
  });
}

void TcpListener::Track(TcpConnection& connection) {
  ++active_;
  std::weak_ptr<bool> alive = alive_;
  connection.onClosed_ = [this, alive](TcpConnection& closed) {
    if (alive.expired()) return;
    --active_;
    ConnectionClosed(closed);
  };
}

std::shared_ptr<TcpConnection> TcpListener::AcceptWithoutSocket(std::string remoteAddress,
                                                                TcpConnection::OutputSink output) {
  if (active_ >= maxConnections_) return nullptr;
  std::shared_ptr<TcpConnection> connection = Event_AddSocket();
  if (!connection) return nullptr;
  Track(*connection);
  connection->AttachWithoutSocket(std::move(remoteAddress), std::move(output));
  ConnectionAccepted(connection);
  connection->OnConnected();
  return connection;
}

}  // namespace velmora::platform
