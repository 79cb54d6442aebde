#include "platform/net/MemoryChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/net/EventLoop.h"

namespace velmora::platform {

struct MemoryChannel::Shared {
  std::string address;
  std::string inbound;   // pushed by the peer, not read yet
  std::string outbound;  // written by the connection, not taken yet
  size_t window = std::numeric_limits<size_t>::max();
  bool peerClosedWrite = false;
  bool reset = false;
  bool writeShut = false;
  bool closed = false;
  std::shared_ptr<ChannelWaiter> readWaiter;
  std::shared_ptr<ChannelWaiter> writeWaiter;

  // Waiters hear back in a later handler of the loop, never inside the call that made progress.
  static void Wake(std::shared_ptr<ChannelWaiter>& waiter, bool writable) {
    if (!waiter) return;
    EventLoop::Instance().PostReady(std::move(waiter), writable);
    waiter = nullptr;
  }
  void WakeReader() { Wake(readWaiter, false); }
  void WakeWriter() { Wake(writeWaiter, true); }
  void WakeAll() {
    WakeReader();
    WakeWriter();
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
  if (s.reset || s.closed || s.writeShut) return {Status::kFailed, 0, EPIPE};
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

void MemoryChannel::AwaitReadable(std::shared_ptr<ChannelWaiter> waiter) {
  Shared& s = *shared_;
  s.readWaiter = std::move(waiter);
  if (!s.inbound.empty() || s.peerClosedWrite || s.reset || s.closed) s.WakeReader();
}

void MemoryChannel::AwaitWritable(std::shared_ptr<ChannelWaiter> waiter) {
  Shared& s = *shared_;
  s.writeWaiter = std::move(waiter);
  if (s.outbound.size() < s.window || s.reset || s.closed) s.WakeWriter();
}

void MemoryChannel::ShutdownWrite() { shared_->writeShut = true; }

void MemoryChannel::Close() {
  if (shared_->closed) return;
  shared_->closed = true;
  shared_->WakeAll();
}

std::string MemoryChannel::RemoteAddress() const { return shared_->address; }

void MemoryPeer::Push(std::string_view bytes) {
  shared_->inbound.append(bytes);
  shared_->WakeReader();
}

void MemoryPeer::CloseWrite() {
  shared_->peerClosedWrite = true;
  shared_->WakeReader();
}

void MemoryPeer::Reset() {
  shared_->reset = true;
  shared_->WakeAll();
}

std::string MemoryPeer::Take() {
  std::string taken = std::move(shared_->outbound);
  shared_->outbound.clear();
  shared_->WakeWriter();
  return taken;
}

void MemoryPeer::SetWindow(size_t bytes) {
  shared_->window = bytes;
  if (shared_->outbound.size() < bytes) shared_->WakeWriter();
}

size_t MemoryPeer::Unread() const { return shared_->outbound.size(); }

size_t MemoryPeer::Pending() const { return shared_->inbound.size(); }

bool MemoryPeer::WriteEnded() const { return shared_->writeShut || shared_->closed; }

bool MemoryPeer::Closed() const { return shared_->closed; }

}  // namespace velmora::platform
