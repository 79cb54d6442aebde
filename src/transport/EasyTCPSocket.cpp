#include "transport/EasyTCPSocket.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "protocol/FrameCodec.h"

namespace velmora {

EasyTCPSocket::EasyTCPSocket() { mWaitForThisCommand = -1; }

EasyTCPSocket::~EasyTCPSocket() = default;

void EasyTCPSocket::SendMessage(int32_t command, std::string_view data) {
  if (!IsConnected()) return;
  WriteBytes(platform::MakeShared(CreatePacket(command, data)));
}

void EasyTCPSocket::SendFrame(const platform::SharedBytes& frame) {
  if (!IsConnected()) return;
  WriteBytes(frame);
}

void EasyTCPSocket::Close() {
  platform::EventLoop::Instance().RemoveFromPollList(*this);
  TcpConnection::Close();
}

std::string EasyTCPSocket::Read(int64_t) {
  throw std::logic_error("You cannot call Read on an EasyTCPSocket directly.");
}

std::string EasyTCPSocket::ReadAll() {
  throw std::logic_error("You cannot call ReadAll on an EasyTCPSocket directly.");
}

void EasyTCPSocket::Write(const std::string&) {
  throw std::logic_error("You cannot call Write on an EasyTCPSocket directly.");
}

void EasyTCPSocket::OnConnected() {
  auto& loop = platform::EventLoop::Instance();
  loop.AddToPollList(std::static_pointer_cast<TcpConnection>(shared_from_this()));
  Event_Connected();
  if (QueuedMessageCount() > 0 && ReadyForMessages()) loop.RequestPoll(*this);
}

void EasyTCPSocket::OnError() {
  platform::EventLoop::Instance().RemoveFromPollList(*this);
  Event_Error(LastErrorCode());
}

void EasyTCPSocket::OnDataAvailable() {
  // One chunk per notification keeps a flooding peer from starving the others; the platform
  // comes back for the rest in the next pass.
  std::string_view incoming = ReadAvailable();
  if (!incoming.empty()) ProcessData(incoming);
}

void EasyTCPSocket::ProcessData(std::string_view incoming) {
  size_t taken;
  if (mDataBuffer.empty()) {
    // The common case: whole frames straight out of the shared receive buffer.
    taken = CutFrames(incoming);
    if (taken == std::string_view::npos) return;
    mDataBuffer.assign(incoming.substr(taken));
  } else {
    mDataBuffer.append(incoming);
    taken = CutFrames(mDataBuffer);
    if (taken == std::string_view::npos) return;
    mDataBuffer.erase(0, taken);
  }
  // A partial frame of a big message may have grown the buffer; an idle connection keeps none.
  if (mDataBuffer.empty() && mDataBuffer.capacity() > 4096) std::string().swap(mDataBuffer);
  UpdateReadingPause();
}

size_t EasyTCPSocket::CutFrames(std::string_view buffer) {
  size_t taken = 0;
  bool queued = false;
  for (;;) {
    CutResult cut = CutFrame(buffer.substr(taken));
    if (cut.status == CutStatus::kNeedMore) break;
    if (cut.status == CutStatus::kBadLength) {
      // A peer that breaks the framing is ended like one that left, so that its network
      // hears of it and its seat comes back.
      Fail(kErrorProtocol);
      return std::string_view::npos;
    }
    taken += cut.consumed;
    if (mWaitingForACommand) {
      if (WaitingForThisMessage(cut.command, cut.data)) {
        mWaitingForACommand = false;
        mCommandResponse.assign(cut.data);
      }
      continue;  // while a wait is on, other messages are discarded
    }
    AddEvent(cut.command, cut.data);
    queued = true;
  }
  if (queued && ReadyForMessages()) platform::EventLoop::Instance().RequestPoll(*this);
  return taken;
}

void EasyTCPSocket::AddEvent(int32_t command, std::string_view data) {
  mEvents.push_back(QueuedMessage{command, std::string(data)});
  mQueuedBytes += data.size();
}

bool EasyTCPSocket::RetrieveEvent(int32_t& command, std::string& data) {
  if (mEventsHead >= mEvents.size()) return false;
  QueuedMessage& oldest = mEvents[mEventsHead++];
  command = oldest.command;
  data = std::move(oldest.data);
  mQueuedBytes -= data.size();
  if (mEventsHead == mEvents.size()) {
    mEvents.clear();
    mEventsHead = 0;
    if (mEvents.capacity() > 64) std::vector<QueuedMessage>().swap(mEvents);
  }
  return true;
}

void EasyTCPSocket::FireEvents() {
  int32_t command = 0;
  std::string data;
  if (!RetrieveEvent(command, data)) return;
  UpdateReadingPause();
  Event_ReceivedMessage(command, data);
}

void EasyTCPSocket::_Poll() {
  if (!ReadyForMessages()) return;
  auto keepAlive = shared_from_this();  // the handler may end this connection
  FireEvents();
  if (QueuedMessageCount() > 0 && IsConnected())
    platform::EventLoop::Instance().RequestPoll(*this);
}

void EasyTCPSocket::DeliveryMayStart() {
  if (QueuedMessageCount() > 0) platform::EventLoop::Instance().RequestPoll(*this);
}

void EasyTCPSocket::UpdateReadingPause() {
  bool full = QueuedMessageCount() >= kMaxQueuedMessages || mQueuedBytes >= kMaxQueuedBytes;
  if (full)
    PauseReading();
  else
    ResumeReading();
}

bool EasyTCPSocket::WaitingForThisMessage(int32_t command, std::string_view) const {
  return mWaitingForACommand && command == mWaitForThisCommand;
}

bool EasyTCPSocket::WaitForConnection(int64_t timeoutSeconds) {
  Listen();
  double start = static_cast<double>(platform::Ticks() / 60);
  while (static_cast<double>(timeoutSeconds) >
         static_cast<double>(platform::Ticks()) / 60.0 - start) {
    if (LastErrorCode() != 0) {
      Event_Error(LastErrorCode());
      return false;
    }
    if (TryAcceptWaitingPeer()) return true;
    // The other events of the application wait; only this connection is looked at.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

std::string EasyTCPSocket::WaitForMessage(int32_t command, int64_t timeoutSeconds) {
  if (!IsConnected()) return "";
  mWaitForThisCommand = command;
  mCommandResponse.clear();
  mWaitingForACommand = true;
  double start = static_cast<double>(platform::Ticks() / 60);
  auto& loop = platform::EventLoop::Instance();
  while (static_cast<double>(timeoutSeconds) >
             static_cast<double>(platform::Ticks()) / 60.0 - start &&
         mWaitingForACommand) {
    PollNow();
    if (LastErrorCode() != 0) {
      // The failure reaches Error through the connection's own error path, exactly once.
      mWaitingForACommand = false;
      return "";
    }
    loop.RunOnce(10);
  }
  mWaitingForACommand = false;
  return mCommandResponse;
}

}  // namespace velmora
