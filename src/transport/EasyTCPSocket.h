#pragma once
// A TCP connection that speaks in messages: a 32-bit command and a byte-string payload per
// frame. Incoming bytes are checked frame by frame as soon as they arrive and kept, in order,
// until the main loop delivers them, one per connection per delivery round, to the subclass.
//
// The platform connection notifies OnConnected / OnDataAvailable / OnEndOfStream / OnError;
// this class turns them into the events Event_Connected, Event_Error(code) and
// Event_ReceivedMessage, which a subclass overrides.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/net/ByteBuffer.h"
#include "platform/net/TcpConnection.h"

namespace velmora {

class EasyTCPSocket : public platform::TcpConnection {
 public:
  // What a peer may make the server hold before its messages are handled. A frame longer than
  // maxFrame ends the connection (as a framing violation); while maxQueuedFrames or
  // maxQueuedBytes wait, the connection stops reading, so TCP holds the peer back.
  struct InputLimits {
    uint32_t maxFrame;
    uint32_t maxQueuedFrames;
    uint32_t maxQueuedBytes;
  };
  static constexpr InputLimits kDefaultInputLimits{1u << 20, 4096, 4u << 20};

  EasyTCPSocket();
  ~EasyTCPSocket() override;

  // Sends one message; dropped silently when not connected.
  void SendMessage(int32_t command, std::string_view data);
  // Sends a frame already built (copied into this connection's output).
  void SendFrame(std::string_view frame);
  // Sends `length` bytes of frames from `offset` of a block shared with other recipients.
  void SendSharedFrames(const platform::SharedBytes& frames, size_t offset, size_t length);
  // Sends `frame` as the newest of `key`; a peer that falls behind gets only the newest of
  // each key (see platform::OutputQueue).
  // Returns how many older frames will never go out now.
  size_t SendLatestFrame(uint64_t key, std::string_view frame) { return WriteLatest(key, frame); }
  void ForgetLatestFrame(uint64_t key) { ForgetLatest(key); }

  void Close() override;

  std::string WaitForMessage(int32_t command, int64_t timeoutSeconds);

  // Delivers at most one queued message.
  void _Poll();

  size_t QueuedMessageCount() const { return queued_; }
  // Memory this connection's input and output buffers hold allocated now.
  size_t BufferedBytes() const { return mDataBuffer.Capacity() + OutputCapacity(); }
  void SetInputLimits(const InputLimits& limits);

 protected:
  // Events raised towards the subclass.
  virtual void Event_Connected() {}
  virtual void Event_Error(int64_t code) {}
  virtual void Event_ReceivedMessage(int32_t command, std::string_view data) {}

  // Whether queued messages may be delivered yet; a subclass can hold them back while it
  // finishes setting the connection up.
  virtual bool ReadyForMessages() const { return true; }
  // The subclass calls this when ReadyForMessages turns true.
  void DeliveryMayStart();

  void OnConnected() override;
  void OnDataAvailable() override;
  void OnEndOfStream() override;
  void OnError() override;
  bool LoopDeliver() override;

 private:
  struct Waiting;

  // Checks the frames that arrived after the last complete one; false on a bad length.
  bool CutFrames();
  void TakeAwaitedMessages(uint32_t firstNew);
  void FireEvents();
  void UpdateReadingPause();

  // The small fields first: they fill the end of the connection's own.
  uint32_t cut_ = 0;     // bytes at the front of mDataBuffer that are complete frames
  uint32_t queued_ = 0;  // frames among them
  // The input limits, packed (frames waiting count up to 65,535).
  uint32_t maxFrame_ = kDefaultInputLimits.maxFrame;
  uint32_t maxQueuedBytes_ = kDefaultInputLimits.maxQueuedBytes;
  uint16_t maxQueuedFrames_ = kDefaultInputLimits.maxQueuedFrames;
  bool lengthChecked_ = false;  // the length of the part after the complete frames was judged
  bool endOfStream_ = false;    // the peer closed its side; what came before is still handled
  platform::ByteBuffer mDataBuffer;  // received, not yet handled: complete frames, then a part
  std::unique_ptr<Waiting> mWaiting;  // only while WaitForMessage runs or has run
};

}  // namespace velmora
