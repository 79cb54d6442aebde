#include "transport/EasyTCPSocket.h"

#include <algorithm>

#include "platform/adapters/Clock.h"
#include "platform/net/EventLoop.h"
#include "protocol/FrameCodec.h"

namespace velmora {

// The state of WaitForMessage, kept out of line: the server never waits.
struct EasyTCPSocket::Waiting {
  std::string mCommandResponse;
  int32_t mWaitForThisCommand = -1;
  bool mWaitingForACommand = false;
};

EasyTCPSocket::EasyTCPSocket() = default;

EasyTCPSocket::~EasyTCPSocket() = default;

void EasyTCPSocket::SendMessage(int32_t command, std::string_view data) {
  if (!IsConnected()) return;
  // Built where every message of this thread is built, then copied into the output once.
  static thread_local std::string frame;
  frame.clear();
  AppendPacket(frame, command, data);
  WriteBytes(frame);
}

void EasyTCPSocket::SendFrame(std::string_view frame) { WriteBytes(frame); }

void EasyTCPSocket::SendSharedFrames(const platform::SharedBytes& frames, size_t offset,
                                     size_t length) {
  WriteShared(frames, offset, length);
}

void EasyTCPSocket::Close() {
  platform::EventLoop::Instance().RemoveFromPollList(*this);
  TcpConnection::Close();
}

void EasyTCPSocket::SetInputLimits(const InputLimits& limits) {
  maxFrame_ = limits.maxFrame;
  maxQueuedBytes_ = limits.maxQueuedBytes;
  maxQueuedFrames_ = static_cast<uint16_t>(std::min<uint32_t>(limits.maxQueuedFrames, UINT16_MAX));
  UpdateReadingPause();
}

void EasyTCPSocket::OnConnected() {
  auto& loop = platform::EventLoop::Instance();
  loop.AddToPollList(*this);
  Event_Connected();
  if (queued_ > 0 && ReadyForMessages()) loop.RequestDelivery(*this);
}

void EasyTCPSocket::OnError() {
  platform::EventLoop::Instance().RemoveFromPollList(*this);
  Event_Error(LastErrorCode());
}

void EasyTCPSocket::OnDataAvailable() {
  // One read per notification, no more than the limits leave room for: a flooding peer cannot
  // starve the others, and what it sends beyond the limits stays in the kernel.
  size_t room = maxQueuedBytes_ > mDataBuffer.Size()
                    ? maxQueuedBytes_ - mDataBuffer.Size()
                    : 0;
  if (room == 0 || queued_ >= maxQueuedFrames_) return UpdateReadingPause();
  std::string_view incoming = ReadAvailable(room);
  if (incoming.empty()) return;
  mDataBuffer.Append(incoming);
  if (!CutFrames()) return;
  UpdateReadingPause();
}

bool EasyTCPSocket::CutFrames() {
  uint32_t firstNew = cut_;
  uint32_t before = queued_;
  for (;;) {
    // A frame's length is judged once, when its header arrives, by the limits of that moment.
    std::string_view rest = mDataBuffer.View().substr(cut_);
    int32_t longest = lengthChecked_ ? kMaxFrameLength : static_cast<int32_t>(maxFrame_);
    CutResult cut = CutFrame(rest, longest);
    if (cut.status == CutStatus::kNeedMore) {
      lengthChecked_ = rest.size() >= 4;
      break;
    }
    if (cut.status == CutStatus::kBadLength) {
      // A peer that breaks the framing is ended like one that left, so that its network
      // hears of it and its seat comes back.
      Fail(kErrorProtocol);
      return false;
    }
    cut_ += static_cast<uint32_t>(cut.consumed);
    ++queued_;
    lengthChecked_ = false;
  }
  if (mWaiting && mWaiting->mWaitingForACommand) TakeAwaitedMessages(firstNew);
  if (queued_ > before && ReadyForMessages())
    platform::EventLoop::Instance().RequestDelivery(*this);
  return true;
}

void EasyTCPSocket::TakeAwaitedMessages(uint32_t firstNew) {
  // While a wait is on, the messages that arrive are not queued: the awaited one ends the wait,
  // the others before it are discarded. Messages queued before, and after the wait ended, stay.
  std::string_view all = mDataBuffer.View();
  uint32_t at = firstNew;
  while (at < cut_ && mWaiting->mWaitingForACommand) {
    CutResult cut = CutFrame(all.substr(at), static_cast<int32_t>(maxFrame_));
    if (cut.command == mWaiting->mWaitForThisCommand) {
      mWaiting->mWaitingForACommand = false;
      mWaiting->mCommandResponse.assign(cut.data);
    }
    at += static_cast<uint32_t>(cut.consumed);
    --queued_;
  }
  if (at == firstNew) return;
  std::string rest(all.substr(at));
  std::string kept(all.substr(0, firstNew));
  mDataBuffer.Release();
  mDataBuffer.Append(kept);
  mDataBuffer.Append(rest);
  cut_ -= at - firstNew;
}

bool EasyTCPSocket::LoopDeliver() {
  _Poll();
  return queued_ > 0 && IsConnected() && ReadyForMessages();
}

void EasyTCPSocket::_Poll() {
  // The loop holds this connection while it delivers, whatever the handler does to it.
  if (!ReadyForMessages() || queued_ == 0 || !IsConnected()) return;
  FireEvents();
}

void EasyTCPSocket::FireEvents() {
  // The frame was checked when it arrived; a handler may have tightened the limits since.
  CutResult cut = CutFrame(mDataBuffer.View(), kMaxFrameLength);
  if (cut.status != CutStatus::kFrame) return;
  Event_ReceivedMessage(cut.command, cut.data);
  // The message leaves the queue once handled: its bytes were what the handler was given.
  mDataBuffer.Consume(cut.consumed);
  cut_ -= static_cast<uint32_t>(cut.consumed);
  --queued_;
  if (endOfStream_ && queued_ == 0) return Fail(kErrorLostConnection);
  UpdateReadingPause();
}

void EasyTCPSocket::OnEndOfStream() {
  // What arrived before the end is still handled; the departure follows the last of it. A
  // frame cut short by the end is dropped.
  endOfStream_ = true;
  PauseReading();
  if (queued_ == 0) Fail(kErrorLostConnection);
}

void EasyTCPSocket::DeliveryMayStart() {
  if (queued_ > 0) platform::EventLoop::Instance().RequestDelivery(*this);
}

void EasyTCPSocket::UpdateReadingPause() {
  bool full = queued_ >= maxQueuedFrames_ || mDataBuffer.Size() >= maxQueuedBytes_;
  if (full || endOfStream_)
    PauseReading();
  else
    ResumeReading();
}

std::string EasyTCPSocket::WaitForMessage(int32_t command, int64_t timeoutSeconds) {
  if (!IsConnected()) return "";
  if (!mWaiting) mWaiting = std::make_unique<Waiting>();
  mWaiting->mWaitForThisCommand = command;
  mWaiting->mCommandResponse.clear();
  mWaiting->mWaitingForACommand = true;
  double start = static_cast<double>(platform::Ticks() / 60);
  auto& loop = platform::EventLoop::Instance();
  while (static_cast<double>(timeoutSeconds) >
             static_cast<double>(platform::Ticks()) / 60.0 - start &&
         mWaiting->mWaitingForACommand) {
    PollNow();
    if (LastErrorCode() != 0) {
      // The failure reaches Error through the connection's own error path, exactly once.
      mWaiting->mWaitingForACommand = false;
      return "";
    }
    loop.RunOnce(10);
  }
  mWaiting->mWaitingForACommand = false;
  return mWaiting->mCommandResponse;
}

}  // namespace velmora
