#pragma once
// One TCP connection on the event loop, with connected, data-available and error notifications.
// Output is queued and handed to the kernel at the end of each pass, several frames per write;
// what one connection may leave unsent is bounded.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SharedBytes.h"

namespace velmora::platform {

class TcpConnection : public std::enable_shared_from_this<TcpConnection> {
 public:
  // A connection that lets more than this pile up unsent is ended (a client that stopped reading).
  static constexpr size_t kMaxUnsentBytes = 8u << 20;
  // Last error codes the platform reports besides the system's own error numbers.
  static constexpr int64_t kErrorLostConnection = 102;  // the peer closed the connection
  static constexpr int64_t kErrorProtocol = 71;         // the peer broke the framing
  static constexpr int64_t kErrorOutputOverflow = 105;  // the peer stopped reading

  TcpConnection();
  virtual ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  bool IsConnected() const { return connected_; }
  // The peer's IP address as text; an IPv4 peer on a dual-stack socket in dotted form.
  const std::string& RemoteAddress() const { return remoteAddress_; }
  int64_t LastErrorCode() const { return lastError_; }
  size_t UnsentBytes() const { return unsent_; }

  // Closes the connection locally; no error notification follows.
  virtual void Close();
  // Client side: connects in the background; OnConnected or OnError follows.
  void Connect(const std::string& host, uint16_t port);
  // The port Listen accepts on; 0 picks a free one (see LocalPort).
  void SetPort(uint16_t port) { port_ = port; }
  uint16_t LocalPort() const;
  // Accepts a single peer on the port into this connection (for blocking helpers).
  void Listen();
  // Without running the event loop: accepts a waiting peer, if any. True once connected.
  bool TryAcceptWaitingPeer();
  // Without running the event loop: reads what the kernel holds for this connection now.
  void PollNow();
  // Ends the connection through the error path, as if the peer had failed: OnError runs in a
  // later handler of the loop, never inside the caller.
  void Fail(int64_t code);

  // A connection with no socket behind it (TcpListener::AcceptWithoutSocket) hands each frame it
  // writes, whole, to its output instead; the protocol can then be driven in-process.
  using OutputSink = std::function<void(const SharedBytes&)>;
  // Only for a connection without a socket: reads `bytes` as if they had just arrived. False,
  // with nothing read, while reading is paused or after the end; the caller keeps them, like
  // the kernel would.
  bool ReceiveWithoutSocket(std::string_view bytes);

 protected:
  virtual void OnConnected() {}
  virtual void OnDataAvailable() {}
  virtual void OnError() {}
  // Called by the loop's poll list while this connection has a queued message.
  virtual void _Poll() {}

  // During OnDataAvailable: the next chunk of received bytes, valid until the next call; empty
  // when nothing more is pending now.
  std::string_view ReadAvailable();
  // Queues bytes for sending (dropped when not connected).
  void WriteBytes(SharedBytes bytes);
  // Input backpressure: while paused nothing is read, so the peer's sending stalls in TCP.
  void PauseReading();
  void ResumeReading();

 private:
  friend class EventLoop;
  friend class TcpListener;
  struct Impl;

  void Attach(std::unique_ptr<Impl> impl);
  void AttachWithoutSocket(std::string remoteAddress, OutputSink output);
  void BecomeConnected();
  void ReadNow();
  void FlushNow();
  void ArmRead();
  void ArmWrite();
  void ReleaseSocket();

  enum class ReadState : uint8_t { kDrained, kMore, kEnded };

  std::unique_ptr<Impl> impl_;
  std::string remoteAddress_;
  std::vector<SharedBytes> out_;
  size_t outOffset_ = 0;  // bytes of out_.front() already sent
  size_t unsent_ = 0;
  int64_t lastError_ = 0;
  uint16_t port_ = 0;
  std::function<void(TcpConnection&)> onClosed_;  // set by the accepting listener
  OutputSink socketlessOutput_;                   // set only without a socket
  std::string_view socketlessInput_;
  ReadState readState_ = ReadState::kDrained;
  bool connected_ = false;
  bool closed_ = false;
  bool failing_ = false;
  bool readArmed_ = false;
  bool writeArmed_ = false;
  bool readPaused_ = false;
  // Loop bookkeeping (EventLoop).
  bool onPollList_ = false;
  bool pollQueued_ = false;
  bool readQueued_ = false;
  bool flushQueued_ = false;
};

}  // namespace velmora::platform
