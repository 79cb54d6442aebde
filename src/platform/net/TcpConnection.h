#pragma once
// One connection on the event loop, over a channel (a socket, or memory in tests), with
// connected, data-available, end-of-stream and error notifications. Output is queued (see
// OutputQueue) and handed to the kernel at the end of each pass, a pass's frames in as few
// writes as possible; what one connection may leave unsent is bounded.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/net/Channel.h"
#include "platform/net/LoopMember.h"
#include "platform/net/OutputQueue.h"
#include "platform/net/SharedBytes.h"
#include "platform/net/Timer.h"

namespace velmora::platform {

class TcpConnection;

// Told when a connection it accepted closes.
class ConnectionOwner {
 public:
  virtual ~ConnectionOwner() = default;
  virtual void ConnectionClosed(TcpConnection& connection) = 0;
};

class TcpConnection : public LoopMember {
 public:
  // A connection that lets more than this pile up unsent is ended (a client that stopped
  // reading); the bound counts what the queue really holds (see OutputQueue::Unsent).
  static constexpr size_t kMaxUnsentBytes = 8u << 20;
  // Last error codes the platform reports besides the system's own error numbers.
  static constexpr int64_t kErrorLostConnection = 102;  // the peer closed the connection
  static constexpr int64_t kErrorProtocol = 71;         // the peer broke the framing
  static constexpr int64_t kErrorOutputOverflow = 105;  // the peer stopped reading

  enum class State : uint8_t {
    kIdle,        // no channel yet
    kConnecting,  // client side: the connection is being made
    kOpen,        // reading and writing
    kFailing,     // failed; the error notification is on its way
    kFinishing,   // ending: what was queued still goes out; nothing more is read or queued
    kShutDown,    // ending: all went out and the sending side is shut; waiting for the peer
    kClosed,      // closed locally; nothing more happens
  };

  TcpConnection();
  ~TcpConnection() override;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  State ConnectionState() const { return state_; }
  bool IsConnected() const { return state_ == State::kOpen; }
  // The peer's IP address as text; an IPv4 peer on a dual-stack socket in dotted form.
  std::string RemoteAddress() const { return channel_ ? channel_->RemoteAddress() : std::string(); }
  int64_t LastErrorCode() const { return lastError_; }
  size_t UnsentBytes() const { return out_.Unsent(); }
  // Bytes a second the peer took of late while output waited for it; 0 until output has waited
  // long enough to tell (a peer that keeps up).
  uint32_t DrainRate() const { return drainRate_; }
  // Memory the output buffer holds allocated now.
  size_t OutputCapacity() const { return out_.Capacity(); }
  std::shared_ptr<TcpConnection> Self();

  // Starts the connection on an established channel: connected notification, then reading.
  void Attach(std::unique_ptr<Channel> channel, ConnectionOwner* owner = nullptr);
  void SetOwner(ConnectionOwner* owner) { owner_ = owner; }
  // Closes the connection locally; no error notification follows.
  virtual void Close();
  // Ends the connection through the error path, as if the peer had failed: OnError runs in a
  // later handler of the loop, never inside the caller.
  void Fail(int64_t code);
  // Ends the connection without losing what is queued for it: from now on nothing more is
  // queued, read or delivered, and no error notification follows. Once the queue has gone out
  // the sending side is shut, so the peer reads it to the end; the connection closes when the
  // peer closes its side, or `grace` from now at the latest, whether or not the peer has read.
  void CloseAfterOutput(std::chrono::milliseconds grace);
  // Client side: connects in the background; OnConnected or OnError follows.
  void Connect(const std::string& host, uint16_t port);
  // Without running the event loop: writes what is queued and reads what the kernel holds now.
  void PollNow();
  // Without waiting for the end of the pass: hands what is queued to the kernel now.
  void Flush() { FlushNow(); }
  // Unsent output beyond `bytes` ends the connection (kErrorOutputOverflow).
  void SetOutputLimit(size_t bytes) { out_.SetBound(bytes); }

 protected:
  virtual void OnConnected() {}
  virtual void OnDataAvailable() {}
  // The peer closed its side; by default the connection ends as lost.
  virtual void OnEndOfStream() { Fail(kErrorLostConnection); }
  virtual void OnError() {}

  // During OnDataAvailable: the next bytes received, at most `maxBytes`, valid until the next
  // call; empty when nothing more is there now (or the stream ended or failed).
  std::string_view ReadAvailable(size_t maxBytes);
  // Queues output (dropped when not connected).
  void WriteBytes(std::string_view bytes);
  void WriteShared(const SharedBytes& bytes, size_t offset, size_t length);
  // Queues `bytes` as the latest of `key`: once more than ConflationMark() is unsent, only the
  // newest frame of each key waits. Returns how many older frames will never be sent now.
  size_t WriteLatest(uint64_t key, std::string_view bytes);
  // How much unsent output the owner lets pile up before latest frames are conflated: a policy
  // of whoever sends them. Without one, they queue like any other bytes.
  virtual size_t ConflationMark() const { return SIZE_MAX; }
  void ForgetLatest(uint64_t key) { out_.DropLatest(key); }
  // Input backpressure: while paused nothing is read, so the peer's sending stalls in TCP.
  void PauseReading() { readPaused_ = true; }
  void ResumeReading();

  void LoopRead() override { ReadNow(); }
  bool LoopDeliver() override { return false; }
  void LoopFlush() override { FlushNow(); }
  void ChannelReadable() override;
  void ChannelWritable() override;

 private:
  enum class ReadProgress : uint8_t { kDrained, kMore, kEnded, kFailed };

  void ReadNow();
  void FlushNow();
  // While ending: what arrives is read only to see the peer's end, and thrown away.
  void DiscardInput();
  bool Writing() const { return state_ == State::kOpen || state_ == State::kFinishing; }
  void ArmRead();
  void ArmWrite();
  void Queued();
  // After a write of `bytes`; `behind` when output is left waiting for the peer.
  void MeasureDrain(size_t bytes, bool behind);
  // This connection as the channel's waiter, kept alive by the wait.
  std::shared_ptr<ChannelWaiter> AsWaiter() { return {shared_from_this(), this}; }

  // Fields in an order that leaves no gaps: every connection carries them. The 32-bit ones first,
  // in the room the base class leaves before an 8-byte boundary.
  int32_t lastError_ = 0;  // codes and the system's error numbers are small
  uint32_t discarded_ = 0;  // read and thrown away while ending (DiscardInput)
  uint32_t drainRate_ = 0;  // bytes a second the peer took, as last measured; 0: not measured
  std::unique_ptr<Channel> channel_;
  ConnectionOwner* owner_ = nullptr;
  OutputQueue out_;  // bounded by kMaxUnsentBytes unless set otherwise
  // Only while ending after output (CloseAfterOutput): out of line, as few connections end so.
  std::unique_ptr<Timer> closeAtLatest_;
  // While output waits: since when (steady clock, ns; 0 when nothing waits) and how much of it
  // the peer has taken since.
  int64_t drainSince_ = 0;
  uint32_t drainBytes_ = 0;
  // What the channel may hold unsent, in KiB, as last set from the drain rate; 0: its default.
  uint8_t systemUnsentKiB_ = 0;
  State state_ = State::kIdle;
  ReadProgress readProgress_ = ReadProgress::kDrained;
  bool readArmed_ = false;
  bool writeArmed_ = false;
  bool readPaused_ = false;
};

}  // namespace velmora::platform
