#pragma once
// The single event dispatcher of the process: one Asio io_context, driven one pass at a time by
// the application's main loop. Everything it calls runs on the loop's thread.
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace velmora::platform {

class TcpConnection;

class EventLoop {
 public:
  static EventLoop& Instance();

  // One pass of the main loop: handle the socket, timer and signal events that are ready,
  // waiting for the first one at most `maxWaitMs` (and not at all while a connection has a
  // queued message, unread input or unsent output); then poll every connection that has a
  // queued message once; then hand every connection's queued output to the kernel.
  void RunOnce(int maxWaitMs);

  // Runs `work` on the loop's thread during a later pass. Safe to call from any thread.
  void Post(std::function<void()> work);
  // Runs `work` on the loop's thread once `delay` has passed.
  void After(std::chrono::milliseconds delay, std::function<void()> work);
  // Runs `handler` on the loop's thread whenever the process receives `signalNumber`.
  void OnSignal(int signalNumber, std::function<void()> handler);

  // The poll list: connections registered here get their queued messages delivered, one per pass.
  void AddToPollList(const std::shared_ptr<TcpConnection>& connection);
  void RemoveFromPollList(TcpConnection& connection);
  bool IsOnPollList(const TcpConnection& connection) const;
  // A registered connection has a queued message: poll it in the next pass.
  void RequestPoll(TcpConnection& connection);

  // Used by TcpConnection: more input to read in the next pass; output to flush at pass end.
  void RequestRead(TcpConnection& connection);
  void RequestFlush(TcpConnection& connection);

  // Whether the next pass must not wait.
  bool HasPendingWork() const;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  EventLoop();
  ~EventLoop();
  void FlushWrites();
  void PollReady();
  void ReadPending();

  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform
