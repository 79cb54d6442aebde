#include "platform/SocketChannel.h"

#include <sys/socket.h>

#include <cerrno>

#include "platform/SocketImpl.h"

namespace velmora::platform {

std::string AddressText(const asio::ip::address& address) {
  if (address.is_v6()) {
    auto v6 = address.to_v6();
    if (v6.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_string();
  }
  return address.to_string();
}

int OpenAcceptor(TcpAcceptor& acceptor, asio::ip::tcp::endpoint endpoint, bool dualStack) {
  std::error_code error;
  acceptor.open(endpoint.protocol(), error);
  if (!error && dualStack) acceptor.set_option(asio::ip::v6_only(false), error);
  if (error && dualStack) {
    // A host without IPv6 still listens on every IPv4 address.
    error.clear();
    if (acceptor.is_open()) acceptor.close(error);
    endpoint = asio::ip::tcp::endpoint(asio::ip::tcp::v4(), endpoint.port());
    acceptor.open(endpoint.protocol(), error);
  }
  if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (!error) acceptor.non_blocking(true, error);
  if (error) {
    std::error_code ignored;
    acceptor.close(ignored);
  }
  return error.value();
}

SocketChannel::SocketChannel() : socket_(std::make_unique<Socket>()) {}

void SocketChannel::Established() {
  std::error_code error;
  socket_->socket.non_blocking(true, error);
  socket_->socket.set_option(asio::ip::tcp::no_delay(true), error);
  // The accept saw the peer already; a connect did not.
  if (socket_->peer.port() == 0) {
    auto peer = socket_->socket.remote_endpoint(error);
    if (!error) socket_->peer = peer;
  }
}

std::string SocketChannel::RemoteAddress() const {
  if (socket_->peer.port() == 0) return {};
  return AddressText(socket_->peer.address());
}

SocketChannel::~SocketChannel() { Close(); }

Channel::Result SocketChannel::Receive(char* into, size_t size) {
  for (;;) {
    ssize_t got = ::recv(socket_->socket.native_handle(), into, size, 0);
    if (got > 0) return {Status::kDone, static_cast<size_t>(got), 0};
    if (got == 0) return {Status::kEnded, 0, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {Status::kWouldBlock, 0, 0};
    return {Status::kFailed, 0, errno};
  }
}

Channel::Result SocketChannel::Send(const iovec* buffers, size_t count) {
  msghdr message{};
  message.msg_iov = const_cast<iovec*>(buffers);
  message.msg_iovlen = count;
  for (;;) {
    ssize_t sent = ::sendmsg(socket_->socket.native_handle(), &message, MSG_NOSIGNAL);
    if (sent >= 0) return {Status::kDone, static_cast<size_t>(sent), 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {Status::kWouldBlock, 0, 0};
    return {Status::kFailed, 0, errno};
  }
}

void SocketChannel::AwaitReadable(std::function<void()> ready) {
  socket_->socket.async_wait(asio::socket_base::wait_read,
                             [ready = std::move(ready)](const std::error_code&) { ready(); });
}

void SocketChannel::AwaitWritable(std::function<void()> ready) {
  socket_->socket.async_wait(asio::socket_base::wait_write,
                             [ready = std::move(ready)](const std::error_code&) { ready(); });
}

void SocketChannel::Close() {
  std::error_code ignored;
  if (socket_->socket.is_open()) socket_->socket.close(ignored);
}

uint16_t SocketChannel::LocalPort() const {
  std::error_code error;
  auto endpoint = socket_->socket.local_endpoint(error);
  return error ? 0 : endpoint.port();
}

void SocketChannel::Connect(const std::string& host, uint16_t port, Connected done) {
  auto resolver = std::make_shared<asio::ip::tcp::resolver>(IoContext());
  resolver->async_resolve(
      host, std::to_string(port),
      [resolver, done = std::move(done)](const std::error_code& error,
                                         asio::ip::tcp::resolver::results_type results) mutable {
        if (error) return done(nullptr, error.value());
        auto channel = std::make_unique<SocketChannel>();
        auto* raw = &channel->socket_->socket;
        asio::async_connect(*raw, results,
                            [channel = std::move(channel), done = std::move(done)](
                                const std::error_code& error,
                                const asio::ip::tcp::endpoint&) mutable {
                              if (error) return done(nullptr, error.value());
                              channel->Established();
                              done(std::move(channel), 0);
                            });
      });
}

}  // namespace velmora::platform
