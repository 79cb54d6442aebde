#include "platform/net/TcpListener.h"

#include "platform/net/DescriptorReserve.h"
#include "platform/net/EventLoop.h"
#include "platform/net/LoopScope.h"
#include "platform/net/SocketChannel.h"

namespace velmora::platform {

struct TcpListener::Acceptor {
  TcpAcceptor acceptor{IoContext().get_executor()};
  std::unique_ptr<SocketChannel> next;
  asio::ip::tcp::endpoint peer;  // of `next`, as the accept saw it
  Timer retry;  // after running out of descriptors
  // An accept that completed in the pass that closed this acceptor still comes back: its
  // completion, and the next pass's accepting, end with the acceptor.
  LoopScope scope;
};

TcpListener::TcpListener() = default;

TcpListener::~TcpListener() { StopListening(); }

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
    if (int error = OpenAcceptor(entry->acceptor, endpoint, dualStack)) {
      Event_Error(error);
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
  entry.next = std::make_unique<SocketChannel>();
  entry.acceptor.async_accept(entry.next->Socket(), entry.peer,
                              entry.scope.Bind([this, &entry](const std::error_code& error) {
    if (error == asio::error::operation_aborted) return;
    if (error) {
      Event_Error(error.value());
      // Out of descriptors: give the process a moment instead of spinning on the same error.
      if (error == asio::error::no_descriptors || error.value() == ENFILE) {
        if (Event_ShedForNewcomer()) return AcceptNext(entry);
        entry.retry = EventLoop::Instance().After(std::chrono::milliseconds(100),
                                                  [this, &entry] { AcceptNext(entry); });
        return;
      }
      AcceptNext(entry);
      return;
    }
    auto channel = std::move(entry.next);
    if (active_ >= maxConnections_ ||
        !(DescriptorReserveIntact(channel->Socket().native_handle()) ||
          Event_ShedForNewcomer())) {
      channel->Close();
    } else {
      channel->Established(&entry.peer);
      AcceptChannel(std::move(channel));
    }
    AcceptAgain(entry);
  }));
}

void TcpListener::AcceptAgain(Acceptor& entry) {
  auto& loop = EventLoop::Instance();
  if (acceptPass_ != loop.Pass()) {
    acceptPass_ = loop.Pass();
    acceptsThisPass_ = 0;
  }
  if (++acceptsThisPass_ < kAcceptsPerPass) return AcceptNext(entry);
  loop.NextPass(entry.scope.Bind([this, &entry] { AcceptNext(entry); }));
}

std::shared_ptr<TcpConnection> TcpListener::AcceptChannel(std::unique_ptr<Channel> channel) {
  if (active_ >= maxConnections_) return nullptr;
  std::shared_ptr<TcpConnection> connection = Event_AddSocket();
  if (!connection) return nullptr;
  ++active_;
  ConnectionAccepted(connection);
  connection->Attach(std::move(channel), this);
  return connection;
}

void TcpListener::ConnectionClosed(TcpConnection& connection) {
  --active_;
  ConnectionLeft(connection);
}

}  // namespace velmora::platform
