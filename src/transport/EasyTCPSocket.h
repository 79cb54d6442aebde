#pragma once
// A TCP connection that speaks in messages: a 32-bit command and a byte-string payload per
// frame. Incoming bytes are cut into frames as soon as they arrive and queued; the main loop's
// poll delivers one queued message per pass to the subclass.
//
// The platform connection notifies OnConnected / OnDataAvailable / OnError; this class turns
// them into the events Event_Connected, Event_Error(code) and Event_ReceivedMessage, which a
// subclass overrides.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TcpConnection.h"

namespace velmora {

class EasyTCPSocket : public platform::TcpConnection {
 public:
  // While this many messages wait for delivery the connection stops reading, so one client
  // cannot make the server queue without bound; TCP then holds the client back.
  static constexpr size_t kMaxQueuedMessages = 4096;
  static constexpr size_t kMaxQueuedBytes = 4u << 20;

  EasyTCPSocket();
  ~EasyTCPSocket() override;

  // Sends one message; dropped silently when not connected.
  void SendMessage(int32_t command, std::string_view data);
  // Sends an already built frame, shared with other recipients.
  void SendFrame(const platform::SharedBytes& frame);

  void Close() override;

  // Raw access is refused on a framed connection.
  std::string Read(int64_t count);
  std::string ReadAll();
  void Write(const std::string& data);

  bool WaitForConnection(int64_t timeoutSeconds);
  std::string WaitForMessage(int32_t command, int64_t timeoutSeconds);

  // Delivers at most one queued message.
  void _Poll() override;

  size_t QueuedMessageCount() const { return mEvents.size() - mEventsHead; }

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
  void OnError() override;

 private:
  struct QueuedMessage {
    int32_t command;
    std::string data;
  };

  void ProcessData(std::string_view incoming);
  // Cuts every complete frame off `buffer`; returns the bytes taken, or npos on a bad length.
  size_t CutFrames(std::string_view buffer);
  void AddEvent(int32_t command, std::string_view data);
  bool RetrieveEvent(int32_t& command, std::string& data);
  void FireEvents();
  bool WaitingForThisMessage(int32_t command, std::string_view data) const;
  void UpdateReadingPause();

  std::string mCommandResponse;
  std::string mDataBuffer;
  std::vector<QueuedMessage> mEvents;
  size_t mEventsHead = 0;
  size_t mQueuedBytes = 0;
  int32_t mWaitForThisCommand = -1;
  bool mWaitingForACommand = false;
};

}  // namespace velmora
