#include "platform/net/SocketChannel.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace velmora::platform {

std::string AddressText(const asio::ip::address& address) {
  if (address.is_v6()) {
    auto v6 = address.to_v6();
    if (v6.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_string();
  }
  return address.to_string();
}

namespace {

// What the kernel may hold for a connection beyond what is on its way to the peer. Without a
// bound it takes megabytes from a slow reader's queue, where positions can no longer be
// conflated, and the reader then spends seconds reading the past. The backlog waits in the
// connection's own queue instead; a reader that keeps up has nothing unsent in the kernel, so
// the bound costs it nothing. A connection found slow lowers it further (LimitUnsent).
void SetUnsentBound(TcpSocket& socket, size_t bytes) {
#ifdef TCP_NOTSENT_LOWAT
  std::error_code error;
  socket.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_NOTSENT_LOWAT>(
                        static_cast<int>(bytes)),
                    error);
#else
  (void)socket;
  (void)bytes;
#endif
}

}  // namespace

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

SocketChannel::SocketChannel() : socket_(IoContext().get_executor()) {}

void SocketChannel::Established(const asio::ip::tcp::endpoint* peer) {
  std::error_code error;
  socket_.non_blocking(true, error);
  socket_.set_option(asio::ip::tcp::no_delay(true), error);
  SetUnsentBound(socket_, kDefaultSystemUnsent);
  asio::ip::tcp::endpoint asked;
  if (peer == nullptr) {
    asked = socket_.remote_endpoint(error);
    if (error) return;
    peer = &asked;
  }
  asio::ip::address address = peer->address();
  peer_ = address.is_v4() ? asio::ip::make_address_v6(asio::ip::v4_mapped, address.to_v4())
                          : address.to_v6();
  peerKnown_ = true;
}

std::string SocketChannel::RemoteAddress() const {
  return peerKnown_ ? AddressText(asio::ip::address(peer_)) : std::string();
}

SocketChannel::~SocketChannel() { Close(); }

void SocketChannel::LimitUnsent(size_t bytes) {
  if (socket_.is_open()) SetUnsentBound(socket_, bytes);
}

Channel::Result SocketChannel::Receive(char* into, size_t size) {
  for (;;) {
    ssize_t got = ::recv(socket_.native_handle(), into, size, 0);
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
    ssize_t sent = ::sendmsg(socket_.native_handle(), &message, MSG_NOSIGNAL);
    if (sent >= 0) return {Status::kDone, static_cast<size_t>(sent), 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {Status::kWouldBlock, 0, 0};
    return {Status::kFailed, 0, errno};
  }
}

namespace {

// Every idle connection holds one wait. Asio's own allocator for waits (also the one it uses for
// std::allocator) hands out blocks kept from earlier operations of any size, rounded up; this one
// gives each wait just what it needs.
template <typename T>
struct ExactAllocator {
  using value_type = T;
  ExactAllocator() = default;
  template <typename U>
  ExactAllocator(const ExactAllocator<U>&) {}
  T* allocate(size_t count) { return std::allocator<T>().allocate(count); }
  void deallocate(T* pointer, size_t count) { std::allocator<T>().deallocate(pointer, count); }
  template <typename U>
  bool operator==(const ExactAllocator<U>&) const { return true; }
};

// What a wait calls when it ends: the waiter, with the exact allocator for the wait.
template <bool kWritable>
struct WakeWaiter {
  using allocator_type = ExactAllocator<void>;
  allocator_type get_allocator() const noexcept { return {}; }
  void operator()(const std::error_code&) const { waiter->ChannelReady(kWritable); }
  std::shared_ptr<ChannelWaiter> waiter;
};

}  // namespace

void SocketChannel::AwaitReadable(std::shared_ptr<ChannelWaiter> waiter) {
  socket_.async_wait(asio::socket_base::wait_read, WakeWaiter<false>{std::move(waiter)});
}

void SocketChannel::AwaitWritable(std::shared_ptr<ChannelWaiter> waiter) {
  socket_.async_wait(asio::socket_base::wait_write, WakeWaiter<true>{std::move(waiter)});
}

void SocketChannel::ShutdownWrite() {
  std::error_code ignored;
  if (socket_.is_open()) socket_.shutdown(asio::socket_base::shutdown_send, ignored);
}

void SocketChannel::Close() {
  std::error_code ignored;
  if (socket_.is_open()) socket_.close(ignored);
}

uint16_t SocketChannel::LocalPort() const {
  std::error_code error;
  auto endpoint = socket_.local_endpoint(error);
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
        auto* raw = &channel->socket_;
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
