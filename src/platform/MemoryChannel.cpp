#include "platform/MemoryChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/EventLoop.h"

namespace velmora::platform {

struct MemoryChannel::Shared {
  std::string address;
  std::string inbound;   // pushed by the peer, not read yet
  std::string outbound;  // written by the connection, not taken yet
  size_t window = std::numeric_limits<size_t>::max();
  bool peerClosedWrite = false;
  bool reset = false;
  bool closed = false;
  std::function<void()> readWaiter;
  std::function<void()> writeWaiter;

  // Waiters run in a later handler of the loop, never inside the call that made progress.
  static void Wake(std::function<void()>& waiter) {
    if (!waiter) return;
    EventLoop::Instance().Post(std::move(waiter));
    waiter = nullptr;
  }
  void WakeAll() {
    Wake(readWaiter);
    Wake(writeWaiter);
  }
};

std::pair<std::unique_ptr<MemoryChannel>, std::shared_ptr<MemoryPeer>> MemoryChannel::Make(
    std::string remoteAddress) {
  auto shared = std::make_shared<Shared>();
  shared->address = std::move(remoteAddress);
  return {std::make_unique<MemoryChannel>(shared), std::make_shared<MemoryPeer>(shared)};
}

MemoryChannel::MemoryChannel(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

MemoryChannel::~MemoryChannel() { Close(); }

Channel::Result MemoryChannel::Receive(char* into, size_t size) {
  Shared& s = *shared_;
  if (s.reset) return {Status::kFailed, 0, ECONNRESET};
  if (!s.inbound.empty()) {
    size_t taken = std::min(size, s.inbound.size());
    std::memcpy(into, s.inbound.data(), taken);
    s.inbound.erase(0, taken);
    return {Status::kDone, taken, 0};
  }
  if (s.peerClosedWrite) return {Status::kEnded, 0, 0};
  return {Status::kWouldBlock, 0, 0};
}

Channel::Result MemoryChannel::Send(const iovec* buffers, size_t count) {
  Shared& s = *shared_;
  if (s.reset || s.closed) return {Status::kFailed, 0, EPIPE};
  size_t room = s.window > s.outbound.size() ? s.window - s.outbound.size() : 0;
  if (room == 0) return {Status::kWouldBlock, 0, 0};
  size_t sent = 0;
  for (size_t i = 0; i < count && room > 0; ++i) {
    size_t part = std::min(room, buffers[i].iov_len);
    s.outbound.append(static_cast<const char*>(buffers[i].iov_base), part);
    sent += part;
    room -= part;
  }
  return {Status::kDone, sent, 0};
}

void MemoryChannel::AwaitReadable(std::function<void()> ready) {
  Shared& s = *shared_;
  s.readWaiter = std::move(ready);
  if (!s.inbound.empty() || s.peerClosedWrite || s.reset || s.closed) Shared::Wake(s.readWaiter);
}

void MemoryChannel::AwaitWritable(std::function<void()> ready) {
  Shared& s = *shared_;
  s.writeWaiter = std::move(ready);
  if (s.outbound.size() < s.window || s.reset || s.closed) Shared::Wake(s.writeWaiter);
}

void MemoryChannel::Close() {
  if (shared_->closed) return;
  shared_->closed = true;
  shared_->WakeAll();
}

std::string MemoryChannel::RemoteAddress() const { return shared_->address; }

void MemoryPeer::Push(std::string_view bytes) {
  shared_->inbound.append(bytes);
  MemoryChannel::Shared::Wake(shared_->readWaiter);
}

void MemoryPeer::CloseWrite() {
  shared_->peerClosedWrite = true;
  MemoryChannel::Shared::Wake(shared_->readWaiter);
}

void MemoryPeer::Reset() {
  shared_->reset = true;
  shared_->WakeAll();
}

std::string MemoryPeer::Take() {
  std::string taken = std::move(shared_->outbound);
  shared_->outbound.clear();
  MemoryChannel::Shared::Wake(shared_->writeWaiter);
  return taken;
}

void MemoryPeer::SetWindow(size_t bytes) {
  shared_->window = bytes;
  if (shared_->outbound.size() < bytes) MemoryChannel::Shared::Wake(shared_->writeWaiter);
}

size_t MemoryPeer::Unread() const { return shared_->outbound.size(); }

size_t MemoryPeer::Pending() const { return shared_->inbound.size(); }

bool MemoryPeer::Closed() const { return shared_->closed; }

}  // namespace velmora::platform
