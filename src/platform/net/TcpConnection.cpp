#include "platform/net/TcpConnection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "platform/net/EventLoop.h"
#include "platform/net/SocketChannel.h"

namespace velmora::platform {

namespace {

// One receive buffer for the whole loop: idle connections hold no input buffer of their own.
constexpr size_t kReadChunk = 64 * 1024;
char g_readBuffer[kReadChunk];

// How many queued pieces one write hands to the kernel at most.
constexpr size_t kMaxWriteBuffers = 64;

// What an ending connection reads and throws away while it waits for the peer to close; past
// it, the connection waits out its grace without reading.
constexpr uint32_t kMaxDiscardedBytes = 1u << 20;

// How long output must wait for a peer before what it took meanwhile tells its drain rate:
// long enough to smooth out the kernel's bursts, short enough to follow a reader that slows.
constexpr int64_t kDrainWindowNs = 250'000'000;

// What the system holds unsent waits beyond the reach of conflation: a slow peer's share is an
// eighth of a second of its drain rate, within these bounds (KiB); a peer that drains fast keeps
// the channel's default.
constexpr uint32_t kSystemUnsentFloorKiB = 1;
constexpr uint32_t kSystemUnsentShare = 8;

// The loop's clock, which tests may drive by hand.
int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             EventLoop::Instance().Now().time_since_epoch())
      .count();
}

}  // namespace

TcpConnection::TcpConnection() { out_.SetBound(kMaxUnsentBytes); }

TcpConnection::~TcpConnection() = default;

std::shared_ptr<TcpConnection> TcpConnection::Self() {
  return std::static_pointer_cast<TcpConnection>(shared_from_this());
}

void TcpConnection::Attach(std::unique_ptr<Channel> channel, ConnectionOwner* owner) {
  channel_ = std::move(channel);
  owner_ = owner;
  state_ = State::kOpen;
  lastError_ = 0;
  auto self = Self();  // the handler may end this connection
  OnConnected();
  ArmRead();
}

void TcpConnection::Close() {
  if (state_ == State::kClosed) return;
  state_ = State::kClosed;
  if (closeAtLatest_) closeAtLatest_->Cancel();
  out_.Clear();
  if (channel_) channel_->Close();
  if (ConnectionOwner* owner = std::exchange(owner_, nullptr)) owner->ConnectionClosed(*this);
}

void TcpConnection::Fail(int64_t code) {
  if (state_ != State::kOpen && state_ != State::kConnecting) return;
  state_ = State::kFailing;
  lastError_ = static_cast<int32_t>(code);
  // Nothing more goes out; the channel is closed by whoever handles the error (Close).
  out_.Clear();
  EventLoop::Instance().Post([self = Self()] {
    if (self->state_ == State::kFailing) self->OnError();
  });
}

void TcpConnection::CloseAfterOutput(std::chrono::milliseconds grace) {
  if (state_ != State::kOpen) return;
  state_ = State::kFinishing;
  // Owned here: a connection that goes first takes its deadline with it.
  closeAtLatest_ = std::make_unique<Timer>(EventLoop::Instance().After(grace, [this] {
    auto self = Self();
    Close();
  }));
  // The flush at the end of the pass writes what is queued, or finds nothing left and shuts.
  if (!writeArmed_) EventLoop::Instance().RequestFlush(*this);
}

void TcpConnection::DiscardInput() {
  Channel::Result result = channel_->Receive(g_readBuffer, kReadChunk);
  switch (result.status) {
    case Channel::Status::kDone:
      EventLoop::Instance().TrafficTotals().bytesReceived += result.bytes;
      discarded_ += static_cast<uint32_t>(result.bytes);
      if (discarded_ < kMaxDiscardedBytes) ArmRead();
      break;
    case Channel::Status::kWouldBlock: ArmRead(); break;
    case Channel::Status::kEnded:
    case Channel::Status::kFailed: {
      auto self = Self();
      Close();
      break;
    }
  }
}

void TcpConnection::Connect(const std::string& host, uint16_t port) {
  state_ = State::kConnecting;
  SocketChannel::Connect(host, port, [self = Self()](std::unique_ptr<SocketChannel> channel,
                                                     int error) {
    if (self->state_ != State::kConnecting) return;
    if (!channel) return self->Fail(error);
    self->Attach(std::move(channel), self->owner_);
  });
}

void TcpConnection::PollNow() {
  if (!IsConnected() || readPaused_) return;
  FlushNow();
  ReadNow();
}

std::string_view TcpConnection::ReadAvailable(size_t maxBytes) {
  if (!IsConnected() || readProgress_ != ReadProgress::kMore) return {};
  size_t wanted = maxBytes < kReadChunk ? maxBytes : kReadChunk;
  if (wanted == 0) return {};
  Channel::Result result = channel_->Receive(g_readBuffer, wanted);
  switch (result.status) {
    case Channel::Status::kDone:
      EventLoop::Instance().TrafficTotals().bytesReceived += result.bytes;
      // A short read from a stream means the kernel's queue is empty for now.
      readProgress_ = result.bytes == wanted ? ReadProgress::kMore : ReadProgress::kDrained;
      return std::string_view(g_readBuffer, result.bytes);
    case Channel::Status::kWouldBlock: readProgress_ = ReadProgress::kDrained; break;
    case Channel::Status::kEnded:
      readProgress_ = ReadProgress::kEnded;
      lastError_ = kErrorLostConnection;
      break;
    case Channel::Status::kFailed:
      readProgress_ = ReadProgress::kFailed;
      lastError_ = result.error;
      break;
  }
  return {};
}

void TcpConnection::ReadNow() {
  if (state_ == State::kShutDown) return DiscardInput();
  if (!IsConnected() || readPaused_) return;
  auto self = Self();  // the handler may end this connection
  readProgress_ = ReadProgress::kMore;
  OnDataAvailable();
  if (!IsConnected()) return;
  switch (readProgress_) {
    case ReadProgress::kEnded: OnEndOfStream(); break;
    case ReadProgress::kFailed: Fail(lastError_); break;
    case ReadProgress::kDrained: ArmRead(); break;
    case ReadProgress::kMore:
      if (!readPaused_) EventLoop::Instance().RequestRead(*this);
      break;
  }
}

void TcpConnection::ArmRead() {
  if (readArmed_ || (!IsConnected() && state_ != State::kShutDown)) return;
  readArmed_ = true;
  channel_->AwaitReadable(AsWaiter());
}

void TcpConnection::ChannelReadable() {
  readArmed_ = false;
  ReadNow();
}

void TcpConnection::ResumeReading() {
  if (!readPaused_) return;
  readPaused_ = false;
  if (IsConnected() && !readArmed_) EventLoop::Instance().RequestRead(*this);
}

void TcpConnection::WriteBytes(std::string_view bytes) {
  if (!IsConnected() || bytes.empty()) return;
  out_.Append(bytes);
  Queued();
}

void TcpConnection::WriteShared(const SharedBytes& bytes, size_t offset, size_t length) {
  if (!IsConnected() || length == 0) return;
  out_.AppendShared(bytes, offset, length);
  Queued();
}

size_t TcpConnection::WriteLatest(uint64_t key, std::string_view bytes) {
  if (!IsConnected() || bytes.empty()) return 0;
  size_t replaced = out_.AppendLatest(key, bytes, ConflationMark());
  Queued();
  return replaced;
}

void TcpConnection::Queued() {
  if (out_.Unsent() > out_.Bound()) return Fail(kErrorOutputOverflow);
  if (!writeArmed_) EventLoop::Instance().RequestFlush(*this);
}

void TcpConnection::FlushNow() {
  while (Writing() && !writeArmed_ && out_.Unsent() > 0) {
    iovec buffers[kMaxWriteBuffers];
    size_t count = out_.Gather(buffers, kMaxWriteBuffers);
    size_t offered = 0;
    for (size_t i = 0; i < count; ++i) offered += buffers[i].iov_len;
    Channel::Result result = channel_->Send(buffers, count);
    if (result.status == Channel::Status::kFailed) {
      if (IsConnected()) return Fail(result.error);
      // An ending connection has nobody left to tell.
      auto self = Self();
      return Close();
    }
    size_t written = result.status == Channel::Status::kDone ? result.bytes : 0;
    if (written > 0) {
      out_.Consume(written, ConflationMark());
      EventLoop::Instance().TrafficTotals().bytesSent += written;
    }
    // Whatever the kernel did not take waits until the channel is writable again.
    bool behind = result.status == Channel::Status::kWouldBlock || written < offered;
    if (behind || drainSince_ != 0) MeasureDrain(written, behind);
    if (behind) ArmWrite();
  }
  if (state_ == State::kFinishing && out_.Unsent() == 0) {
    // All went out: the peer reads it to the end of the stream. What it still sends is only
    // read to see it close.
    state_ = State::kShutDown;
    channel_->ShutdownWrite();
    ArmRead();
  }
}

void TcpConnection::MeasureDrain(size_t bytes, bool behind) {
  int64_t now = SteadyNanoseconds();
  if (drainSince_ == 0) {
    // Output starts to wait: what went before filled the kernel and says nothing of the peer.
    drainSince_ = now;
    drainBytes_ = 0;
    return;
  }
  drainBytes_ += static_cast<uint32_t>(bytes);
  if (!behind && out_.Unsent() == 0) {
    // Caught up. The rate measured last stays: a peer that was slow is likely slow again.
    drainSince_ = 0;
    return;
  }
  int64_t elapsed = now - drainSince_;
  if (elapsed < kDrainWindowNs) return;
  // At least 1: 0 is a peer not measured yet.
  drainRate_ = static_cast<uint32_t>(std::clamp<int64_t>(
      static_cast<int64_t>(drainBytes_) * 1'000'000'000 / elapsed, 1, UINT32_MAX));
  drainSince_ = now;
  drainBytes_ = 0;
  constexpr uint32_t kDefaultKiB = Channel::kDefaultSystemUnsent / 1024;
  auto kib = static_cast<uint8_t>(std::clamp<uint32_t>(drainRate_ / kSystemUnsentShare / 1024,
                                                       kSystemUnsentFloorKiB, kDefaultKiB));
  if (kib != (systemUnsentKiB_ ? systemUnsentKiB_ : kDefaultKiB)) {
    systemUnsentKiB_ = kib;
    channel_->LimitUnsent(size_t{kib} * 1024);
  }
}

void TcpConnection::ArmWrite() {
  if (writeArmed_ || !Writing()) return;
  writeArmed_ = true;
  channel_->AwaitWritable(AsWaiter());
}

void TcpConnection::ChannelWritable() {
  writeArmed_ = false;
  FlushNow();
}

}  // namespace velmora::platform
