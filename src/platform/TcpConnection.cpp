#include "platform/TcpConnection.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <array>
#include <thread>
#include <utility>

#include "platform/EventLoop.h"
#include "platform/TcpConnectionImpl.h"

namespace velmora::platform {

namespace {

// One receive buffer for the whole loop: idle connections hold no input buffer of their own.
constexpr size_t kReadChunk = 64 * 1024;
char g_readBuffer[kReadChunk];

// How many queued frames one write hands to the kernel at most.
constexpr size_t kMaxWriteBuffers = 64;

}  // namespace

std::string AddressText(const asio::ip::address& address) {
  if (address.is_v6()) {
    auto v6 = address.to_v6();
    if (v6.is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, v6).to_string();
  }
  return address.to_string();
}

TcpConnection::TcpConnection() = default;

TcpConnection::~TcpConnection() = default;

void TcpConnection::Attach(std::unique_ptr<Impl> impl) {
  impl_ = std::move(impl);
  BecomeConnected();
}

void TcpConnection::AttachWithoutSocket(std::string remoteAddress, OutputSink output) {
  remoteAddress_ = std::move(remoteAddress);
  socketlessOutput_ = std::move(output);
  connected_ = true;
  closed_ = false;
  failing_ = false;
  lastError_ = 0;
}

bool TcpConnection::ReceiveWithoutSocket(std::string_view bytes) {
  if (!socketlessOutput_ || !connected_ || readPaused_) return false;
  socketlessInput_ = bytes;
  ReadNow();
  socketlessInput_ = {};
  return true;
}

void TcpConnection::BecomeConnected() {
  std::error_code error;
  impl_->socket.non_blocking(true, error);
  impl_->socket.set_option(asio::ip::tcp::no_delay(true), error);
  auto peer = impl_->socket.remote_endpoint(error);
  if (error && impl_->acceptedPeer.port() != 0) {
    peer = impl_->acceptedPeer;
    error.clear();
  }
  if (!error) remoteAddress_ = AddressText(peer.address());
  connected_ = true;
  closed_ = false;
  failing_ = false;
  lastError_ = 0;
}

void TcpConnection::Close() {
  if (closed_) return;
  closed_ = true;
  connected_ = false;
  ReleaseSocket();
  if (onClosed_) {
    auto notify = std::move(onClosed_);
    onClosed_ = nullptr;
    notify(*this);
  }
}

void TcpConnection::ReleaseSocket() {
  out_.clear();
  out_.shrink_to_fit();
  unsent_ = 0;
  outOffset_ = 0;
  if (!impl_) return;
  std::error_code ignored;
  impl_->socket.close(ignored);
  if (impl_->acceptor) impl_->acceptor->close(ignored);
}

void TcpConnection::Fail(int64_t code) {
  if (failing_ || closed_) return;
  failing_ = true;
  connected_ = false;
  lastError_ = code;
  // Nothing more goes out; the socket is closed by whoever handles the error (Close).
  out_.clear();
  unsent_ = 0;
  outOffset_ = 0;
  EventLoop::Instance().Post([self = shared_from_this()] {
    if (!self->closed_) self->OnError();
  });
}

void TcpConnection::Connect(const std::string& host, uint16_t port) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  impl_->resolver = std::make_unique<asio::ip::tcp::resolver>(IoContext());
  auto self = shared_from_this();
  impl_->resolver->async_resolve(
      host, std::to_string(port),
      [self](const std::error_code& error, asio::ip::tcp::resolver::results_type results) {
        if (error) return self->Fail(error.value());
        asio::async_connect(self->impl_->socket, results,
                            [self](const std::error_code& error, const asio::ip::tcp::endpoint&) {
                              if (error) return self->Fail(error.value());
                              self->BecomeConnected();
                              self->OnConnected();
                              self->ArmRead();
                            });
      });
}

uint16_t TcpConnection::LocalPort() const {
  if (!impl_) return 0;
  std::error_code error;
  if (impl_->acceptor) {
    auto endpoint = impl_->acceptor->local_endpoint(error);
    return error ? 0 : endpoint.port();
  }
  auto endpoint = impl_->socket.local_endpoint(error);
  return error ? 0 : endpoint.port();
}

void TcpConnection::Listen() {
  uint16_t port = port_;
  if (!impl_) impl_ = std::make_unique<Impl>();
  std::error_code error;
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(IoContext());
  asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v6(), port);
  acceptor->open(endpoint.protocol(), error);
  if (!error) acceptor->set_option(asio::ip::v6_only(false), error);
  if (error) {
    endpoint = asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port);
    acceptor->open(endpoint.protocol(), error);
  }
  if (!error) acceptor->set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor->bind(endpoint, error);
  if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
  if (!error) acceptor->non_blocking(true, error);
  if (error) {
    lastError_ = error.value();
    return;
  }
  impl_->acceptor = std::move(acceptor);
}

bool TcpConnection::TryAcceptWaitingPeer() {
  if (connected_) return true;
  if (!impl_ || !impl_->acceptor) return false;
  std::error_code error;
  impl_->acceptor->accept(impl_->socket, error);
  if (error) {
    if (error != asio::error::would_block && error != asio::error::try_again)
      lastError_ = error.value();
    return false;
  }
  impl_->acceptor.reset();
  BecomeConnected();
  OnConnected();
  ArmRead();
  return true;
}

void TcpConnection::PollNow() {
  if (!connected_ || readPaused_) return;
  FlushNow();
  if (impl_->socket.available() > 0 || readArmed_) {
    // Read through the normal path; the pending asynchronous wait stays harmless.
    ReadNow();
  }
}

std::string_view TcpConnection::ReadAvailable() {
  if (!connected_ || readState_ == ReadState::kEnded) return {};
  if (socketlessOutput_) {
    readState_ = ReadState::kDrained;
    return std::exchange(socketlessInput_, {});
  }
  for (;;) {
    ssize_t got = ::recv(impl_->socket.native_handle(), g_readBuffer, kReadChunk, 0);
    if (got > 0) {
      // A short read from a stream socket means the kernel's queue is empty for now.
      readState_ = static_cast<size_t>(got) == kReadChunk ? ReadState::kMore : ReadState::kDrained;
      return std::string_view(g_readBuffer, static_cast<size_t>(got));
    }
    if (got == 0) {
      readState_ = ReadState::kEnded;
      lastError_ = kErrorLostConnection;
      return {};
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      readState_ = ReadState::kDrained;
      return {};
    }
    readState_ = ReadState::kEnded;
    lastError_ = errno;
    return {};
  }
}

void TcpConnection::ReadNow() {
  if (!connected_ || readPaused_) return;
  auto self = shared_from_this();  // the handler may end this connection
  readState_ = ReadState::kMore;
  OnDataAvailable();
  if (!connected_ || closed_) return;
  switch (readState_) {
    case ReadState::kEnded: Fail(lastError_); break;
    case ReadState::kDrained: ArmRead(); break;
    case ReadState::kMore:
      if (!readPaused_) EventLoop::Instance().RequestRead(*this);
      break;
  }
}

void TcpConnection::ArmRead() {
  if (readArmed_ || !connected_ || !impl_) return;
  readArmed_ = true;
  impl_->socket.async_wait(asio::ip::tcp::socket::wait_read,
                           [self = shared_from_this()](const std::error_code& error) {
                             self->readArmed_ = false;
                             if (error || self->closed_) return;
                             self->ReadNow();
                           });
}

void TcpConnection::PauseReading() { readPaused_ = true; }

void TcpConnection::ResumeReading() {
  if (!readPaused_) return;
  readPaused_ = false;
  if (connected_ && !readArmed_) EventLoop::Instance().RequestRead(*this);
}

void TcpConnection::WriteBytes(SharedBytes bytes) {
  if (!connected_ || bytes->empty()) return;
  if (socketlessOutput_) return socketlessOutput_(bytes);
  if (unsent_ + bytes->size() > kMaxUnsentBytes) {
    Fail(kErrorOutputOverflow);
    return;
  }
  unsent_ += bytes->size();
  out_.push_back(std::move(bytes));
  if (!writeArmed_) EventLoop::Instance().RequestFlush(*this);
}

void TcpConnection::FlushNow() {
  while (connected_ && !writeArmed_ && !out_.empty()) {
    // Everything queued in this pass leaves in one gathering write where the kernel takes it.
    std::array<iovec, kMaxWriteBuffers> vectors;
    size_t count = std::min(out_.size(), kMaxWriteBuffers);
    for (size_t i = 0; i < count; ++i) {
      size_t skip = i == 0 ? outOffset_ : 0;
      vectors[i].iov_base = const_cast<char*>(out_[i]->data() + skip);
      vectors[i].iov_len = out_[i]->size() - skip;
    }
    msghdr message{};
    message.msg_iov = vectors.data();
    message.msg_iovlen = count;
    ssize_t sent = ::sendmsg(impl_->socket.native_handle(), &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        ArmWrite();
        return;
      }
      Fail(errno);
      return;
    }
    size_t left = static_cast<size_t>(sent);
    unsent_ -= left;
    size_t done = 0;
    while (done < out_.size() && left > 0) {
      size_t rest = out_[done]->size() - outOffset_;
      if (left < rest) {
        outOffset_ += left;
        left = 0;
        break;
      }
      left -= rest;
      outOffset_ = 0;
      ++done;
    }
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(done));
  }
  // An idle connection keeps no big queue around.
  if (out_.empty() && out_.capacity() > 16) std::vector<SharedBytes>().swap(out_);
}

void TcpConnection::ArmWrite() {
  if (writeArmed_ || !connected_) return;
  writeArmed_ = true;
  impl_->socket.async_wait(asio::ip::tcp::socket::wait_write,
                           [self = shared_from_this()](const std::error_code& error) {
                             self->writeArmed_ = false;
                             if (error || self->closed_) return;
                             self->FlushNow();
                           });
}

}  // namespace velmora::platform
